#include "platform/windows/com_node.h"

#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"

namespace tarnwick {

namespace {

// ---- Text -------------------------------------------------------------------

// The system's strings are bytes of the ANSI code page, as the profile
// functions and the window texts are.
std::wstring wideFromAnsi(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string ansiFromWide(const wchar_t* text, std::size_t length) {
    if (text == nullptr || length == 0) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

std::string ansiFromBstr(BSTR text) { return ansiFromWide(text, text != nullptr ? SysStringLen(text) : 0); }

using win32::statusText;

std::string guidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return ansiFromWide(text, wcslen(text));
}

// ---- The worker -------------------------------------------------------------

// One thread of the multi-threaded apartment that makes every call to the
// node, one at a time, so that the loop thread can wait for a call with a
// bound and without dispatching anything. Jobs capture what they use by
// shared ownership: a job the loop thread gave up on still runs to its end
// here, after its caller has returned.
class ComWorker : public std::enable_shared_from_this<ComWorker> {
public:
    // Raises Failure when the thread or its apartment cannot be had.
    static std::shared_ptr<ComWorker> start() {
        auto worker = std::shared_ptr<ComWorker>(new ComWorker);
        std::thread([worker] { worker->main(); }).detach();
        std::unique_lock lock(worker->mutex_);
        worker->changed_.wait(lock, [&] { return worker->ready_; });
        if (FAILED(worker->init_)) {
            throw Failure(
                static_cast<long>(worker->init_),
                "no EchoLink node: COM cannot be started on the node's worker thread: " + statusText(worker->init_));
        }
        return worker;
    }

    // Runs `work` here and waits up to `limit` for it. False when it is
    // still running then; `abandoned` runs here after it has ended.
    bool run(std::function<void()> work, std::chrono::milliseconds limit, std::function<void()> abandoned = {}) {
        auto job = std::make_shared<Job>();
        job->work = std::move(work);
        job->abandoned = std::move(abandoned);
        std::unique_lock lock(mutex_);
        queue_.push_back(job);
        changed_.notify_all();
        if (changed_.wait_for(lock, limit, [&] { return job->done; })) return true;
        job->givenUp = true;
        return false;
    }

    // Queues `work` without waiting for it.
    void post(std::function<void()> work) {
        auto job = std::make_shared<Job>();
        job->work = std::move(work);
        std::lock_guard lock(mutex_);
        queue_.push_back(job);
        changed_.notify_all();
    }

    // True while a job that its caller gave up on is still running.
    bool stuck() {
        std::lock_guard lock(mutex_);
        return current_ != nullptr && current_->givenUp;
    }

    // The jobs queued behind the one running.
    std::size_t queued() {
        std::lock_guard lock(mutex_);
        return queue_.size();
    }

    // Lets the thread end after the queued jobs, and waits up to `limit`.
    void stop(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, limit, [&] { return exited_; });
    }

private:
    struct Job {
        std::function<void()> work;
        std::function<void()> abandoned;
        bool done = false;
        bool givenUp = false;
    };

    ComWorker() = default;

    void main() {
        const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            std::lock_guard lock(mutex_);
            init_ = init;
            ready_ = true;
            changed_.notify_all();
        }
        if (FAILED(init)) return;
        for (;;) {
            std::shared_ptr<Job> job;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
                if (queue_.empty()) break;
                job = queue_.front();
                queue_.pop_front();
                current_ = job;
            }
            job->work();
            bool givenUp = false;
            {
                std::lock_guard lock(mutex_);
                job->done = true;
                givenUp = job->givenUp;
                current_.reset();
                changed_.notify_all();
            }
            if (givenUp && job->abandoned) job->abandoned();
        }
        CoUninitialize();
        std::lock_guard lock(mutex_);
        exited_ = true;
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Job>> queue_;
    std::shared_ptr<Job> current_;
    HRESULT init_ = E_UNEXPECTED;
    bool ready_ = false;
    bool stopping_ = false;
    bool exited_ = false;
};

// ---- Calls by name ----------------------------------------------------------

// An object of the node, used on the worker only: its IDispatch and the ids
// of the names called on it so far.
struct RemoteObject {
    IDispatch* dispatch = nullptr;
    std::map<std::wstring, DISPID> ids;
    // The node object's event connection.
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;

    // On the worker.
    void release() {
        if (point != nullptr) {
            if (cookie != 0) point->Unadvise(cookie);
            point->Release();
            point = nullptr;
        }
        if (dispatch != nullptr) {
            dispatch->Release();
            dispatch = nullptr;
        }
    }
};

// One call's arguments and answer, shared by the loop thread and the
// worker. The answer is taken apart on the worker, so that the loop thread
// never touches an interface of the worker's apartment.
struct Call {
    std::wstring name;
    std::vector<VARIANT> args;  // in the operation's order
    bool wantsResult = false;

    HRESULT status = S_OK;
    EXCEPINFO exception{};
    VARTYPE resultType = VT_EMPTY;
    std::optional<NodeBool> boolean;
    std::wstring text;
    IDispatch* object = nullptr;  // owned; released on the worker if unclaimed

    Call() = default;
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    ~Call() {
        for (VARIANT& v : args) VariantClear(&v);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    }

    // On the worker.
    void run(RemoteObject& target) {
        DISPID id = DISPID_UNKNOWN;
        const auto known = target.ids.find(name);
        if (known != target.ids.end()) {
            id = known->second;
        } else {
            LPOLESTR names[1] = {name.data()};
            status = target.dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
            if (FAILED(status)) return;
            target.ids.emplace(name, id);
        }
        // IDispatch takes the arguments last first.
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        VARIANT result;
        VariantInit(&result);
        UINT argError = 0;
        // A call whose answer is used is a method call or a property read,
        // as late-bound callers have always made it.
        const WORD flags = wantsResult ? DISPATCH_METHOD | DISPATCH_PROPERTYGET : DISPATCH_METHOD;
        status = target.dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                         wantsResult ? &result : nullptr, &exception, &argError);
        if (status == DISP_E_EXCEPTION && exception.pfnDeferredFillIn != nullptr) {
            exception.pfnDeferredFillIn(&exception);
        }
        if (SUCCEEDED(status) && wantsResult) take(result);
        VariantClear(&result);
    }

    void take(VARIANT& result) {
        resultType = V_VT(&result);
        switch (V_VT(&result)) {
            case VT_BOOL:
                boolean = V_BOOL(&result);
                return;
            case VT_BSTR:
                text.assign(V_BSTR(&result), SysStringLen(V_BSTR(&result)));
                return;
            case VT_DISPATCH:
                object = V_DISPATCH(&result);
                if (object != nullptr) object->AddRef();
                return;
            case VT_UNKNOWN:
                if (V_UNKNOWN(&result) != nullptr) {
                    V_UNKNOWN(&result)->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&object));
                }
                return;
            default: {
                // A number where a boolean was expected still counts by
                // being zero or not.
                VARIANT number;
                VariantInit(&number);
                if (SUCCEEDED(VariantChangeType(&number, &result, 0, VT_I2))) boolean = V_I2(&number);
                VariantClear(&number);
                return;
            }
        }
    }
};

// The Failure of a call that the node answered with an error status.
Failure callFailure(const std::string& operation, const Call& call) {
    HRESULT number = call.status;
    std::string description;
    if (call.status == DISP_E_EXCEPTION) {
        if (FAILED(call.exception.scode)) {
            number = call.exception.scode;
        } else if (call.exception.wCode != 0) {
            number = call.exception.wCode;
        }
        description = ansiFromBstr(call.exception.bstrDescription);
    }
    if (description.empty()) description = statusText(number);
    return Failure(static_cast<long>(number), operation + ": " + description);
}

VARIANT boolArg(NodeBool value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = value;
    return v;
}

VARIANT longArg(std::int32_t value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}

VARIANT stringArg(const std::string& ansi) {
    const std::wstring wide = wideFromAnsi(ansi);
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return v;
}

// The calls sent without waiting, numbered in the order sent (and so run
// by the worker), and where the worker is with them: the process ends with
// whatever is still queued.
class SentCalls {
public:
    // On the loop thread, as a call is queued.
    std::uint64_t number() {
        std::lock_guard lock(mutex_);
        return ++sent_;
    }
    // On the worker, as call n has ended.
    void ended(std::uint64_t n, bool failed) {
        std::lock_guard lock(mutex_);
        ended_ = n;
        if (failed) lastFailed_ = n;
        changed_.notify_all();
    }
    std::uint64_t last() {
        std::lock_guard lock(mutex_);
        return sent_;
    }
    bool taken(std::uint64_t n) {
        std::lock_guard lock(mutex_);
        return ended_ >= n && lastFailed_ < n;
    }
    void await(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [&] { return ended_ >= sent_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t sent_ = 0, ended_ = 0, lastFailed_ = 0;
};

// Makes calls by name on one remote object through the worker.
class Caller {
public:
    Caller(std::shared_ptr<ComWorker> worker, std::shared_ptr<RemoteObject> target, std::chrono::milliseconds limit)
        : worker_(std::move(worker)), target_(std::move(target)), limit_(limit), sent_(std::make_shared<SentCalls>()) {}

    // Raises Failure for an error status, no answer within the limit, or a
    // node still busy with an earlier call that did not answer.
    std::shared_ptr<Call> call(const std::string& operation, std::vector<VARIANT> args, bool wantsResult) {
        auto c = std::make_shared<Call>();
        c->name.assign(operation.begin(), operation.end());
        c->args = std::move(args);
        c->wantsResult = wantsResult;
        if (worker_->stuck()) {
            throw Failure(static_cast<long>(RPC_E_TIMEOUT),
                          operation +
                              ": the node has not yet answered an earlier call that it left unanswered "
                              "for more than " +
                              std::to_string(limit_.count() / 1000) + " s");
        }
        auto target = target_;
        const bool answered = worker_->run([c, target] { c->run(*target); }, limit_,
                                           [c] {
                                               if (c->object != nullptr) c->object->Release();
                                               c->object = nullptr;
                                           });
        if (!answered) {
            throw Failure(static_cast<long>(RPC_E_TIMEOUT), operation + ": the node did not answer within " +
                                                                std::to_string(limit_.count() / 1000) + " s");
        }
        if (FAILED(c->status)) throw callFailure(operation, *c);
        return c;
    }

    // Queues a call on the worker without waiting for its answer, of which
    // only whether it failed is noted (taken()); calls still reach the node
    // in order. Behind a call the
    // node left unanswered, a few are still queued: the unkey of an error
    // report then reaches a node that answers again while the report waits
    // for someone. Beyond those it raises Failure, so that a node that
    // stays silent does not gather the idle ticks' calls.
    void send(const std::string& operation, std::vector<VARIANT> args) {
        if (worker_->stuck() && worker_->queued() >= kQueuedBehindSilence) {
            throw Failure(static_cast<long>(RPC_E_TIMEOUT),
                          operation + ": the node has not yet answered an earlier call that it left unanswered");
        }
        auto c = std::make_shared<Call>();
        c->name.assign(operation.begin(), operation.end());
        c->args = std::move(args);
        auto target = target_;
        auto sent = sent_;
        const std::uint64_t n = sent->number();
        worker_->post([c, target, sent, n] {
            c->run(*target);
            sent->ended(n, FAILED(c->status));
        });
    }

    std::uint64_t lastSent() const { return sent_->last(); }
    bool taken(std::uint64_t n) const { return sent_->taken(n); }
    // The worker runs the queue whatever the loop thread does; this only
    // waits for it to get there.
    void awaitSent(std::chrono::milliseconds limit) const { sent_->await(limit); }

    NodeBool callBool(const std::string& operation) {
        const auto c = call(operation, {}, true);
        if (!c->boolean) {
            throw Failure(static_cast<long>(DISP_E_TYPEMISMATCH),
                          operation + ": the node answered with a VARIANT of type " + std::to_string(c->resultType) +
                              " instead of a boolean");
        }
        return *c->boolean;
    }

    // Releases the object on the worker, after any call still out.
    void releaseLater() {
        auto target = target_;
        worker_->post([target] { target->release(); });
    }

    const std::shared_ptr<ComWorker>& worker() const { return worker_; }
    std::chrono::milliseconds limit() const { return limit_; }

private:
    static constexpr std::size_t kQueuedBehindSilence = 4;

    std::shared_ptr<ComWorker> worker_;
    std::shared_ptr<RemoteObject> target_;
    std::chrono::milliseconds limit_;
    std::shared_ptr<SentCalls> sent_;
};

// ---- Events -----------------------------------------------------------------

struct NodeEvent {
    enum class Kind { Dtmf, Closing } kind;
    std::string digits;
};

// Where the sink leaves events for the loop thread. Each event posts one
// message to the receiver's window; the window takes one event per message.
class EventInbox {
public:
    explicit EventInbox(HWND window) : window_(window) {}

    // Any thread.
    void push(NodeEvent event) {
        // Noted before the node can go on: its call into the sink returns
        // only after this.
        if (event.kind == NodeEvent::Kind::Closing) closingRaised_ = true;
        std::lock_guard lock(mutex_);
        if (window_ == nullptr) return;
        queue_.push_back(std::move(event));
        if (!PostMessageW(window_, kEventMessage, 0, 0)) queue_.pop_back();
    }

    std::optional<NodeEvent> pop() {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) return std::nullopt;
        NodeEvent event = std::move(queue_.front());
        queue_.pop_front();
        return event;
    }

    // No event is queued or delivered after this.
    void close() {
        std::lock_guard lock(mutex_);
        window_ = nullptr;
        queue_.clear();
    }

    bool closingRaised() const { return closingRaised_; }

    static constexpr UINT kEventMessage = WM_APP + 60;

private:
    std::atomic<bool> closingRaised_{false};
    std::mutex mutex_;
    HWND window_;
    std::deque<NodeEvent> queue_;
};

// The event interface, implemented by name: the node calls Invoke with the
// dispatch ids of its type library.
class EventSink final : public IDispatch {
public:
    EventSink(std::shared_ptr<EventInbox> inbox, NodeEventIds ids) : inbox_(std::move(inbox)), ids_(ids) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, kNodeEventsId)) {
            return E_NOINTERFACE;
        }
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
        if (out != nullptr) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        if (result != nullptr) VariantInit(result);
        if (id == ids_.dtmfString) {
            if (params == nullptr || params->cArgs < 1 || params->rgvarg == nullptr) return DISP_E_BADPARAMCOUNT;
            // The first argument is the last in the array.
            VARIANT digits;
            VariantInit(&digits);
            HRESULT hr = VariantCopyInd(&digits, &params->rgvarg[params->cArgs - 1]);
            if (SUCCEEDED(hr)) hr = VariantChangeType(&digits, &digits, 0, VT_BSTR);
            if (FAILED(hr)) {
                VariantClear(&digits);
                return DISP_E_TYPEMISMATCH;
            }
            inbox_->push({NodeEvent::Kind::Dtmf, ansiFromBstr(V_BSTR(&digits))});
            VariantClear(&digits);
        } else if (id == ids_.closing) {
            inbox_->push({NodeEvent::Kind::Closing, {}});
        }
        // Further events of the interface are not handled.
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{1};
    std::shared_ptr<EventInbox> inbox_;
    NodeEventIds ids_;
};

// A message-only window of the loop thread through which the events reach
// NodeEvents: from the loop's dispatch, between other handlers.
class EventReceiver {
public:
    explicit EventReceiver(NodeEvents& events) : events_(events) {
        static const bool registered = [] {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = &EventReceiver::windowProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = kWindowClass;
            return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
        }();
        if (registered) {
            window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
        }
        if (window_ == nullptr) {
            const DWORD error = GetLastError();
            throw Failure(static_cast<long>(HRESULT_FROM_WIN32(error)),
                          "no EchoLink node: cannot make the window that receives its events: " +
                              statusText(HRESULT_FROM_WIN32(error)));
        }
        inbox_ = std::make_shared<EventInbox>(window_);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }

    ~EventReceiver() {
        inbox_->close();
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }

    EventReceiver(const EventReceiver&) = delete;
    EventReceiver& operator=(const EventReceiver&) = delete;

    const std::shared_ptr<EventInbox>& inbox() const { return inbox_; }

private:
    static constexpr const wchar_t* kWindowClass = L"TarnwickNodeEvents";

    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == EventInbox::kEventMessage) {
            auto* receiver = reinterpret_cast<EventReceiver*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            if (receiver != nullptr) receiver->deliverOne();
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    void deliverOne() {
        const std::optional<NodeEvent> event = inbox_->pop();
        if (!event) return;
        if (event->kind == NodeEvent::Kind::Dtmf) {
            events_.DTMFString(event->digits);
        } else {
            events_.Closing();
        }
    }

    NodeEvents& events_;
    HWND window_ = nullptr;
    std::shared_ptr<EventInbox> inbox_;
};

// ---- The link ---------------------------------------------------------------

class ComSysopInfo : public SysopInfo {
public:
    explicit ComSysopInfo(Caller caller) : caller_(std::move(caller)) {}
    ~ComSysopInfo() override { caller_.releaseLater(); }

    std::string GetCallsign() override {
        const auto c = caller_.call("GetCallsign", {}, true);
        if (c->resultType != VT_BSTR) {
            throw Failure(static_cast<long>(DISP_E_TYPEMISMATCH),
                          "GetCallsign: the node answered with a VARIANT of type " + std::to_string(c->resultType) +
                              " instead of a string");
        }
        return ansiFromWide(c->text.data(), c->text.size());
    }

private:
    Caller caller_;
};

class ComNodeLink : public NodeLink {
public:
    ComNodeLink(Caller caller, std::unique_ptr<EventReceiver> receiver)
        : caller_(std::move(caller)), receiver_(std::move(receiver)) {}

    ~ComNodeLink() override {
        // No event reaches NodeEvents from here on; the sink is disconnected
        // and the object released on the worker, which then ends.
        receiver_.reset();
        caller_.releaseLater();
        caller_.worker()->stop(caller_.limit());
    }

    void SetPtt(NodeBool on) override { caller_.call("SetPtt", {boolArg(on)}, false); }
    NodeBool GetBusyFlagA() override { return caller_.callBool("GetBusyFlagA"); }
    NodeBool GetReceivingSignal() override { return caller_.callBool("GetReceivingSignal"); }
    NodeBool GetPttState() override { return caller_.callBool("GetPttState"); }
    NodeBool GetBusyFlagB() override { return caller_.callBool("GetBusyFlagB"); }

    void SendCwText(std::int32_t mode, const std::string& text) override {
        caller_.call("SendCwText", {longArg(mode), stringArg(text)}, false);
    }

    std::unique_ptr<SysopInfo> GetSysopInfo() override {
        const auto c = caller_.call("GetSysopInfo", {}, true);
        if (c->object == nullptr) {
            throw Failure(static_cast<long>(DISP_E_TYPEMISMATCH),
                          "GetSysopInfo: the node answered with a VARIANT of type " + std::to_string(c->resultType) +
                              " instead of an object");
        }
        auto info = std::make_shared<RemoteObject>();
        info->dispatch = c->object;
        c->object = nullptr;
        return std::make_unique<ComSysopInfo>(Caller(caller_.worker(), info, caller_.limit()));
    }

    void SetListedBusy(NodeBool busy) override { caller_.call("SetListedBusy", {boolArg(busy)}, false); }
    bool closingAnnounced() const override { return receiver_->inbox()->closingRaised(); }
    void SetPttIgnoringAnswer(NodeBool on) override { caller_.send("SetPtt", {boolArg(on)}); }
    void SetListedBusyIgnoringAnswer(NodeBool busy) override { caller_.send("SetListedBusy", {boolArg(busy)}); }
    std::uint64_t lastSent() const override { return caller_.lastSent(); }
    bool taken(std::uint64_t n) const override { return caller_.taken(n); }
    void awaitSent(std::chrono::milliseconds limit) override { caller_.awaitSent(limit); }

private:
    Caller caller_;
    std::unique_ptr<EventReceiver> receiver_;
};

// On the worker: the object, its connection point and the sink. Returns
// the status and names the step that failed in `step`.
HRESULT connectNode(RemoteObject& node, const std::shared_ptr<EventInbox>& inbox, NodeEventIds ids, std::string& step) {
    step = "CoCreateInstance of " + guidText(kNodeClassId);
    HRESULT hr = CoCreateInstance(kNodeClassId, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(&node.dispatch));
    if (FAILED(hr)) return hr;
    step = "the node object has no connection points";
    IConnectionPointContainer* container = nullptr;
    hr = node.dispatch->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr)) return hr;
    step = "FindConnectionPoint(" + guidText(kNodeEventsId) + ")";
    hr = container->FindConnectionPoint(kNodeEventsId, &node.point);
    container->Release();
    if (FAILED(hr)) return hr;
    step = "Advise";
    auto* sink = new EventSink(inbox, ids);
    hr = node.point->Advise(sink, &node.cookie);
    sink->Release();
    return hr;
}

}  // namespace

NodeEventIds eventIdsFrom(ITypeLib* library) {
    NodeEventIds ids;
    if (library == nullptr) return ids;
    ITypeInfo* events = nullptr;
    if (FAILED(library->GetTypeInfoOfGuid(kNodeEventsId, &events)) || events == nullptr) return ids;
    auto lookUp = [events](const wchar_t* name, DISPID& id) {
        LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
        DISPID found = DISPID_UNKNOWN;
        if (SUCCEEDED(events->GetIDsOfNames(names, 1, &found)) && found != DISPID_UNKNOWN) id = found;
    };
    lookUp(L"DTMFString", ids.dtmfString);
    lookUp(L"Closing", ids.closing);
    events->Release();
    return ids;
}

NodeEventIds registeredEventIds() {
    ITypeLib* library = nullptr;
    if (FAILED(LoadRegTypeLib(kNodeLibraryId, kNodeLibraryMajor, kNodeLibraryMinor, 0, &library))) library = nullptr;
    const NodeEventIds ids = eventIdsFrom(library);
    if (library != nullptr) library->Release();
    return ids;
}

std::unique_ptr<NodeLink> ComNodeConnector::create(NodeEvents& events) {
    auto receiver = std::make_unique<EventReceiver>(events);
    const NodeEventIds ids = registeredEventIds();
    std::shared_ptr<ComWorker> worker = ComWorker::start();

    struct Outcome {
        HRESULT status = E_UNEXPECTED;
        std::string step;
    };
    auto outcome = std::make_shared<Outcome>();
    auto node = std::make_shared<RemoteObject>();
    auto inbox = receiver->inbox();
    const bool finished =
        worker->run([outcome, node, inbox, ids] { outcome->status = connectNode(*node, inbox, ids, outcome->step); },
                    timeouts_.create, [node] { node->release(); });
    if (!finished) {
        worker->stop(std::chrono::milliseconds(0));
        throw Failure(static_cast<long>(RPC_E_TIMEOUT), "no EchoLink node: the node object was not there within " +
                                                            std::to_string(timeouts_.create.count() / 1000) + " s");
    }
    if (FAILED(outcome->status)) {
        worker->post([node] { node->release(); });
        worker->stop(timeouts_.call);
        throw Failure(static_cast<long>(outcome->status),
                      "no EchoLink node: " + outcome->step + " failed: " + statusText(outcome->status));
    }
    return std::make_unique<ComNodeLink>(Caller(worker, node, timeouts_.call), std::move(receiver));
}

}  // namespace tarnwick
