#include "platform/windows/dshow_graph.h"

#include <dshow.h>
#include <float.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "window/errors.h"

namespace tarnwick {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The finest step of a DirectShow position (100 ns): the largest position
// below the length that still reads as a different seconds text.
constexpr double kOneUnit = 1e-7;
// How long a running graph's own position may stand at or past the length
// before a missing EC_COMPLETE is given up on. Well above the output
// latency by which the position leads the sound (some 40 ms under Wine).
constexpr auto kMissedEndGrace = 1500ms;
// How long a running graph's position may stand still before the graph
// counts as stalled: a running graph's position follows its clock, so it
// stands still only when the graph never started (under Wine, a video
// renderer that cannot prepare holds the whole graph back).
constexpr auto kStallLimit = 5s;

// Keeps the calling thread's floating-point control (precision, rounding)
// across a call into the component. A video renderer may set up Direct3D
// on the calling thread, which puts the x87 unit into single precision
// unless told otherwise (Wine's quartz does, for a picture or a video); the
// whole program would then compute its positions and texts with 7 digits
// instead of 15, and a position a hundred nanoseconds before the length
// would read as the length.
class FpuGuard {
public:
    FpuGuard() : saved_(_control87(0, 0)) {}
    ~FpuGuard() {
#if defined(__i386__) || defined(_M_IX86)
        _control87(saved_, _MCW_PC | _MCW_RC);
#else
        _control87(saved_, _MCW_RC);
#endif
    }
    FpuGuard(const FpuGuard&) = delete;
    FpuGuard& operator=(const FpuGuard&) = delete;

private:
    unsigned int saved_;
};

std::string hex(long hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// DirectShow's own text for a code, from quartz.dll, or "" when it has none.
// Wine's quartz answers every code with "Error: 0x..." (the number alone),
// which says nothing the number does not.
std::string quartzText(long hr) {
    using GetText = DWORD(WINAPI*)(HRESULT, LPSTR, DWORD);
    static const GetText getText = [] {
        HMODULE quartz = LoadLibraryA("quartz.dll");  // kept for the whole run, as COM keeps it
        return quartz != nullptr
                   ? reinterpret_cast<GetText>(reinterpret_cast<void*>(GetProcAddress(quartz, "AMGetErrorTextA")))
                   : nullptr;
    }();
    if (getText == nullptr) return {};
    char buffer[512] = {};
    const DWORD n = getText(static_cast<HRESULT>(hr), buffer, sizeof buffer);
    std::string text(buffer, std::min<DWORD>(n, sizeof buffer - 1));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    if (text.empty() || text.rfind("Error: 0x", 0) == 0) return {};
    return text;
}

// The system's message for a code (Win32 and COM codes), or "".
std::string systemText(long hr) {
    char* buffer = nullptr;
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                       reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (n != 0 && buffer != nullptr) text.assign(buffer, n);
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

// What the codes a load meets most often mean, for a component that has no
// text of its own for them (Wine's quartz).
std::string knownText(long hr) {
    switch (static_cast<HRESULT>(hr)) {
        case VFW_E_CANNOT_RENDER:
            return "no filters can play this file, or there is no sound output";
        case VFW_E_NO_AUDIO_HARDWARE:
            return "there is no sound output";
        case VFW_E_UNSUPPORTED_STREAM:
            return "the file's format is not supported";
        case VFW_E_UNKNOWN_FILE_TYPE:
            return "the file's type is not known";
        case VFW_E_INVALID_FILE_FORMAT:
            return "the file's format is invalid";
        case VFW_E_CANNOT_LOAD_SOURCE_FILTER:
            return "the file cannot be read";
        case VFW_E_CANNOT_CONNECT:
            return "no filters can connect to play this file";
        case VFW_E_NOT_FOUND:
            return "an object or name was not found";
        case VFW_E_WRONG_STATE:
            return "the graph cannot do this in its present state";
        case VFW_S_AUDIO_NOT_RENDERED:
            return "the sound of the file cannot be played (no sound output?)";
        default:
            return {};
    }
}

// "TEXT (0x80040218)", whatever the component and the system know.
std::string describe(long hr) {
    std::string text = quartzText(hr);
    if (text.empty()) text = systemText(hr);
    if (text.empty()) text = knownText(hr);
    if (text.empty()) text = "unknown error";
    return text + " (" + hex(hr) + ")";
}

[[noreturn]] void raise(long hr, const std::string& description) { throw Failure(hr, description); }

template <typename T>
void release(T*& p) {
    if (p != nullptr) p->Release();
    p = nullptr;
}

}  // namespace

DshowGraph::DshowGraph() {
    const FpuGuard fpu;
    HRESULT hr = CoCreateInstance(CLSID_FilgraphManager, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaControl,
                                  reinterpret_cast<void**>(&control_));
    if (FAILED(hr)) raise(hr, "The DirectShow filter graph cannot be created: " + describe(hr));
    struct Wanted {
        REFIID iid;
        void** into;
        const char* name;
    };
    for (const Wanted& w : {Wanted{IID_IBasicAudio, reinterpret_cast<void**>(&audio_), "IBasicAudio"},
                            Wanted{IID_IMediaPosition, reinterpret_cast<void**>(&position_), "IMediaPosition"},
                            Wanted{IID_IMediaEvent, reinterpret_cast<void**>(&events_), "IMediaEvent"}}) {
        hr = control_->QueryInterface(w.iid, w.into);
        if (FAILED(hr)) {
            releaseAll();
            raise(hr, std::string("The DirectShow filter graph has no ") + w.name + ": " + describe(hr));
        }
    }
    OAEVENT handle = 0;
    hr = events_->GetEventHandle(&handle);
    if (FAILED(hr)) {
        releaseAll();
        raise(hr, "The DirectShow filter graph has no event handle: " + describe(hr));
    }
    queued_ = reinterpret_cast<HANDLE>(handle);

    InitializeCriticalSection(&stampLock_);
    stopStamping_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    drained_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (stopStamping_ != nullptr && drained_ != nullptr)
        stamper_ = CreateThread(nullptr, 0, &DshowGraph::stampMain, this, 0, nullptr);
    // Without the helper the end is still detected; it is only timed by the
    // read that finds it instead of by its arrival.
}

DshowGraph::~DshowGraph() {
    const FpuGuard fpu;
    // The helper waits on the graph's handle: it ends before the graph goes.
    if (stamper_ != nullptr) {
        SetEvent(stopStamping_);
        WaitForSingleObject(stamper_, INFINITE);
        CloseHandle(stamper_);
    }
    if (stopStamping_ != nullptr) CloseHandle(stopStamping_);
    if (drained_ != nullptr) CloseHandle(drained_);
    DeleteCriticalSection(&stampLock_);
    releaseAll();
}

void DshowGraph::releaseAll() {
    release(control_);
    release(audio_);
    release(position_);
    release(events_);
}

DWORD WINAPI DshowGraph::stampMain(void* self) {
    auto* graph = static_cast<DshowGraph*>(self);
    for (;;) {
        HANDLE queued[] = {graph->stopStamping_, graph->queued_};
        if (WaitForMultipleObjects(2, queued, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return 0;
        const auto seen = Clock::now();
        EnterCriticalSection(&graph->stampLock_);
        // Only an event still waiting counts: the loop thread may have read
        // the queue between the wake-up and here.
        if (!graph->stamp_ && WaitForSingleObject(graph->queued_, 0) == WAIT_OBJECT_0) graph->stamp_ = seen;
        LeaveCriticalSection(&graph->stampLock_);
        // The handle stays set until the queue is read; wait for that instead
        // of spinning on it.
        HANDLE drained[] = {graph->stopStamping_, graph->drained_};
        if (WaitForMultipleObjects(2, drained, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return 0;
    }
}

void DshowGraph::pollEvents() {
    bool any = false, completed = false;
    std::optional<Clock::time_point> stamp;
    EnterCriticalSection(&stampLock_);
    long code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    while (events_->GetEvent(&code, &param1, &param2, 0) == S_OK) {
        any = true;
        switch (code) {
            case EC_COMPLETE:
                completed = true;
                break;
            case EC_ERRORABORT:
            case EC_ERRORABORTEX:
            case EC_USERABORT:
            case EC_STREAM_ERROR_STOPPED:
                // The graph stopped playing (the output went away, a decoder
                // broke, the video window was closed): the file will not reach
                // its end by itself, so it counts as ended and the progress
                // tick ends the transmission instead of keeping it keyed.
                ended_ = true;
                break;
            default:
                break;
        }
        events_->FreeEventParams(code, param1, param2);
    }
    stamp = stamp_;
    stamp_.reset();
    LeaveCriticalSection(&stampLock_);
    if (any && drained_ != nullptr) SetEvent(drained_);
    if (completed) {
        ended_ = true;
        // The helper saw the queue become non-empty no later than this batch's
        // first event; should it not have run yet, now is the best we know.
        endTime_ = stamp.value_or(Clock::now());
    }
}

void DshowGraph::fail(long hr, const std::string& what) const {
    raise(hr, what + (path_.empty() ? std::string() : " (" + path_ + ")") + ": " + describe(hr));
}

void DshowGraph::requireRendered(const char* operation) const {
    if (!rendered_)
        raise(VFW_E_WRONG_STATE,
              std::string(operation) + ": no file has been rendered in this graph (" + hex(VFW_E_WRONG_STATE) + ")");
}

void DshowGraph::forgetEnd() {
    ended_ = false;
    endTime_.reset();
    forgetWatch();
}

void DshowGraph::forgetWatch() {
    pastEndSince_.reset();
    stillSince_.reset();
}

void DshowGraph::RenderFile(const std::string& path) {
    const FpuGuard fpu;
    pollEvents();
    if (rendered_) raise(VFW_E_WRONG_STATE, "RenderFile: this graph has rendered " + path_ + " already");
    path_ = path;
    const std::wstring wide = win32::wideFromAnsi(path);
    if (!path.empty() && wide.empty()) fail(HRESULT_FROM_WIN32(GetLastError()), "Cannot read the file name");
    BSTR name = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (name == nullptr) fail(E_OUTOFMEMORY, "Cannot play the file");
    const HRESULT hr = control_->RenderFile(name);
    SysFreeString(name);
    if (FAILED(hr)) fail(hr, "Cannot play the file");
    // A partial render that left the sound out would play a silent
    // transmission; the machine has no sound output, as far as we care.
    if (hr == VFW_S_AUDIO_NOT_RENDERED) fail(hr, "Cannot play the sound of the file");

    REFTIME duration = 0;
    const HRESULT got = position_->get_Duration(&duration);
    if (FAILED(got)) fail(got, "The length of the file is unknown");
    if (!(duration > 0) || !std::isfinite(duration)) fail(VFW_E_TIME_EXPIRED, "The length of the file is unknown");
    duration_ = duration;
    // Nothing from the building counts as playback.
    pollEvents();
    forgetEnd();
    running_ = false;
    rendered_ = true;
}

void DshowGraph::Run() {
    const FpuGuard fpu;
    pollEvents();
    requireRendered("Run");
    const HRESULT hr = control_->Run();
    if (FAILED(hr)) fail(hr, "Cannot start playback");
    if (!running_) forgetWatch();
    running_ = true;
}

void DshowGraph::Stop() {
    const FpuGuard fpu;
    pollEvents();
    requireRendered("Stop");
    const HRESULT hr = control_->Stop();
    if (FAILED(hr)) fail(hr, "Cannot stop playback");
    running_ = false;
    forgetWatch();
    // A component that rewinds on Stop (Wine's quartz does) plays the whole
    // file again on the next Run: the end that was reached no longer holds.
    if (ended_) {
        REFTIME now = 0;
        if (SUCCEEDED(position_->get_CurrentPosition(&now)) && now < duration_) forgetEnd();
    }
}

double DshowGraph::Duration() {
    const FpuGuard fpu;
    pollEvents();
    requireRendered("Duration");
    return duration_;
}

double DshowGraph::CurrentPosition() {
    const FpuGuard fpu;
    pollEvents();
    requireRendered("CurrentPosition");
    // The end of a transmission is detected by comparing this with the
    // length read at the load (the window's Text3), so at the end it must be
    // that very number, whatever the component says the length is by now.
    if (ended_) return duration_;
    REFTIME position = 0;
    const HRESULT hr = position_->get_CurrentPosition(&position);
    if (FAILED(hr)) fail(hr, "CurrentPosition: cannot read the position");
    if (running_) {
        // The two ways a file that will not end by itself is told: the
        // position ran past the component's own length without EC_COMPLETE,
        // or it stands still. The component's length, not the one read at
        // the load: should it have grown since (a length estimated from the
        // start of a file), the sound goes on past the old one.
        const auto now = Clock::now();
        if (position >= componentLength()) {
            if (!pastEndSince_) pastEndSince_ = now;
        } else {
            pastEndSince_.reset();
        }
        if (position != lastPosition_ || !stillSince_) stillSince_ = now;
        lastPosition_ = position;
        if ((pastEndSince_ && now - *pastEndSince_ >= kMissedEndGrace) || now - *stillSince_ >= kStallLimit) {
            ended_ = true;
            return duration_;
        }
    }
    // Only EC_COMPLETE may make the position equal the length: the clock
    // reaches it while the last samples are still on their way out.
    return std::clamp(position, 0.0, std::max(0.0, duration_ - kOneUnit));
}

double DshowGraph::componentLength() {
    REFTIME length = 0;
    return SUCCEEDED(position_->get_Duration(&length)) && length > 0 && std::isfinite(length) ? length : duration_;
}

void DshowGraph::SetCurrentPosition(double seconds) {
    const FpuGuard fpu;
    // An EC_COMPLETE that arrived before the seek belongs to the playback
    // before it; read it now, so that it is forgotten with the end below.
    pollEvents();
    requireRendered("CurrentPosition");
    if (!std::isfinite(seconds)) raise(E_INVALIDARG, "CurrentPosition: the position is not a number");
    const double target = std::clamp(seconds, 0.0, duration_);
    HRESULT hr = position_->put_CurrentPosition(target);
    if (FAILED(hr)) fail(hr, "Cannot seek to " + std::to_string(target) + " s");
    // A component may go on reporting the end it reached before the seek
    // while it plays the file again (Wine's quartz forgets its EC_COMPLETE
    // only on Stop), and a transmission started now would then read the
    // length and end at once. Stop forgets it; seek again and play on.
    REFTIME now = 0;
    if (target < duration_ && SUCCEEDED(position_->get_CurrentPosition(&now)) && now >= duration_) {
        hr = control_->Stop();
        if (SUCCEEDED(hr)) hr = position_->put_CurrentPosition(target);
        if (SUCCEEDED(hr) && running_) hr = control_->Run();
        if (FAILED(hr)) fail(hr, "Cannot play again from " + std::to_string(target) + " s");
    }
    forgetEnd();
}

void DshowGraph::SetRate(double factor) {
    const FpuGuard fpu;
    pollEvents();
    requireRendered("Rate");
    // The window's speed bar sends 0.10 .. 2.00; allow for its rounding.
    if (!(factor >= 0.1 - 1e-9 && factor <= 2.0 + 1e-9))
        raise(E_INVALIDARG, "Rate " + std::to_string(factor) + " is outside 0.1 .. 2.0");
    const HRESULT hr = position_->put_Rate(factor);
    if (FAILED(hr)) fail(hr, "Cannot set the rate " + std::to_string(factor));
}

void DshowGraph::SetVolume(long hundredthsDb) {
    const FpuGuard fpu;
    pollEvents();
    if (hundredthsDb < -10000 || hundredthsDb > 0)
        raise(E_INVALIDARG, "Volume " + std::to_string(hundredthsDb) + " is outside -10000 .. 0");
    const HRESULT hr = audio_->put_Volume(hundredthsDb);
    if (FAILED(hr)) fail(hr, "Cannot set the volume " + std::to_string(hundredthsDb));
}

void DshowGraph::SetBalance(long hundredthsDb) {
    const FpuGuard fpu;
    pollEvents();
    if (hundredthsDb < -10000 || hundredthsDb > 10000)
        raise(E_INVALIDARG, "Balance " + std::to_string(hundredthsDb) + " is outside -10000 .. 10000");
    const HRESULT hr = audio_->put_Balance(hundredthsDb);
    if (FAILED(hr)) fail(hr, "Cannot set the balance " + std::to_string(hundredthsDb));
}

std::optional<Clock::time_point> DshowGraph::endOfStreamTime() {
    const FpuGuard fpu;
    pollEvents();
    return endTime_;
}

std::unique_ptr<MediaGraph> DshowGraphFactory::create() { return std::make_unique<DshowGraph>(); }

}  // namespace tarnwick
