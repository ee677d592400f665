#include "platform/windows/dshow_stream_clock.h"

#include <dshow.h>

#include <new>

namespace tarnwick {

namespace {

// Any class id will do: the filter is never created through COM.
// {5B0E2B1C-7A43-4C36-9D2E-41F0C3A8D7E5}
constexpr CLSID kClassId = {0x5b0e2b1c, 0x7a43, 0x4c36, {0x9d, 0x2e, 0x41, 0xf0, 0xc3, 0xa8, 0xd7, 0xe5}};

// The filter has no pins: every enumeration is empty.
class NoPins final : public IEnumPins {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumPins)) {
            *out = static_cast<IEnumPins*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG, IPin** pins, ULONG* fetched) override {
        if (pins == nullptr) return E_POINTER;
        if (fetched != nullptr) *fetched = 0;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override { return count == 0 ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** out) override {
        if (out == nullptr) return E_POINTER;
        *out = new (std::nothrow) NoPins;
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }

private:
    LONG refs_ = 1;
};

}  // namespace

class StreamClockFilter final : public IBaseFilter, public IAMFilterMiscFlags {
public:
    StreamClockFilter() { InitializeCriticalSection(&lock_); }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IMediaFilter) ||
            IsEqualIID(iid, IID_IBaseFilter)) {
            *out = static_cast<IBaseFilter*>(this);
        } else if (IsEqualIID(iid, IID_IAMFilterMiscFlags)) {
            *out = static_cast<IAMFilterMiscFlags*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override {
        if (id == nullptr) return E_POINTER;
        *id = kClassId;
        return S_OK;
    }

    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override { return setState(State_Stopped, nullptr); }
    HRESULT STDMETHODCALLTYPE Pause() override { return setState(State_Paused, nullptr); }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override { return setState(State_Running, &start); }
    HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* state) override {
        if (state == nullptr) return E_POINTER;
        EnterCriticalSection(&lock_);
        *state = state_;
        LeaveCriticalSection(&lock_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override {
        if (clock != nullptr) clock->AddRef();
        EnterCriticalSection(&lock_);
        IReferenceClock* old = clock_;
        clock_ = clock;
        LeaveCriticalSection(&lock_);
        if (old != nullptr) old->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override {
        if (clock == nullptr) return E_POINTER;
        EnterCriticalSection(&lock_);
        *clock = clock_;
        if (clock_ != nullptr) clock_->AddRef();
        LeaveCriticalSection(&lock_);
        return S_OK;
    }

    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override {
        if (pins == nullptr) return E_POINTER;
        *pins = new (std::nothrow) NoPins;
        return *pins != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin** pin) override {
        if (pin == nullptr) return E_POINTER;
        *pin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override {
        if (info == nullptr) return E_POINTER;
        lstrcpynW(info->achName, name_, MAX_FILTER_NAME);
        // The graph is held without a reference, as every filter holds it;
        // the caller gets one.
        info->pGraph = graph_;
        if (graph_ != nullptr) graph_->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
        graph_ = graph;
        name_[0] = L'\0';
        if (name != nullptr) lstrcpynW(name_, name, MAX_FILTER_NAME);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override {
        if (info == nullptr) return E_POINTER;
        *info = nullptr;
        return E_NOTIMPL;
    }

    // IAMFilterMiscFlags: not a renderer, so no EC_COMPLETE is awaited from it.
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return 0; }

    std::optional<double> streamTime() {
        EnterCriticalSection(&lock_);
        IReferenceClock* clock = state_ == State_Running ? clock_ : nullptr;
        if (clock != nullptr) clock->AddRef();
        const REFERENCE_TIME start = start_;
        LeaveCriticalSection(&lock_);
        if (clock == nullptr) return std::nullopt;
        REFERENCE_TIME now = 0;
        const HRESULT hr = clock->GetTime(&now);
        clock->Release();
        if (FAILED(hr)) return std::nullopt;
        return static_cast<double>(now - start) / 1e7;
    }

    unsigned long runs() {
        EnterCriticalSection(&lock_);
        const unsigned long n = runs_;
        LeaveCriticalSection(&lock_);
        return n;
    }

private:
    ~StreamClockFilter() {
        if (clock_ != nullptr) clock_->Release();
        DeleteCriticalSection(&lock_);
    }

    HRESULT setState(FILTER_STATE state, const REFERENCE_TIME* start) {
        EnterCriticalSection(&lock_);
        state_ = state;
        if (start != nullptr) {
            start_ = *start;
            ++runs_;
        }
        LeaveCriticalSection(&lock_);
        return S_OK;
    }

    LONG refs_ = 1;
    CRITICAL_SECTION lock_{};
    FILTER_STATE state_ = State_Stopped;
    REFERENCE_TIME start_ = 0;
    unsigned long runs_ = 0;
    IReferenceClock* clock_ = nullptr;
    IFilterGraph* graph_ = nullptr;
    WCHAR name_[MAX_FILTER_NAME] = {};
};

StreamClock::StreamClock() : filter_(new StreamClockFilter) {}

StreamClock::~StreamClock() { filter_->Release(); }

IBaseFilter* StreamClock::filter() const { return filter_; }

std::optional<double> StreamClock::streamTime() const { return filter_->streamTime(); }

unsigned long StreamClock::runs() const { return filter_->runs(); }

}  // namespace tarnwick
