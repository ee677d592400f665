#include "platform/windows/dshow_graph.h"

#include <dshow.h>
// After dshow.h: the other order declares its pixel formats twice.
#include <audioclient.h>
#include <float.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/errors.h"

namespace tarnwick {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The finest step of a DirectShow position (100 ns): the largest position
// below the length that still reads as a different seconds text.
constexpr double kOneUnit = 1e-7;
// How long a running graph's own position may stand at or past the length
// before a missing EC_COMPLETE is given up on. Well above the quarter of a
// second by which Wine's position leads the sound.
constexpr auto kMissedEndGrace = 1500ms;
// How long a load waits for the graph to be ready to play. A sound file is
// ready in milliseconds; one that is not by then starts as it would have
// without the wait, preparing on Run.
constexpr auto kPrepareWait = 1s;
// How far ahead of the reference clock's present a ready graph is started:
// every filter's Run must have returned, and the renderer's streaming thread
// woken, before the first sample is due, or the renderer drops the start of
// the sound as late. Under Wine the sound came as soon at 3 ms as at 20:
// the output's own start (about 70 ms) sets the lead, not this margin.
constexpr REFERENCE_TIME kStartAhead = 20 * 10000;
// A seek to where a running graph started is not passed on for this long
// after the start (stream time): a transmission seeks to 0 right after Run.
// Later than kStartSeekWindow after the start it is passed on even when the
// stream has not started: the graph never started, and once its stall has
// been taken for the end the next transmission's seek starts it again.
constexpr double kStartSeekIgnored = 0.1;
constexpr auto kStartSeekWindow = 1s;
// How many of the output device's stream latencies lie between a sample the
// renderer presents and that sample leaving the device: DirectSound's mix
// ahead into the device's buffer and the device's own latency. Measured on
// the air under Wine (null sink, stream latency 20 ms): the last sound left
// about two latencies after it was presented; an unkey at 2.0 cut 3 ends
// of 8 by up to 4 ms, at 2.5 none of 60 but one after a 12 ms underrun
// (by 0.1 ms). 2.75 leaves about 15 ms for such a hiccup.
constexpr double kLatenciesToHeard = 2.75;

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

using win32::hexCode;

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
    if (text.empty()) text = win32::systemText(static_cast<DWORD>(hr));
    if (text.empty()) text = knownText(hr);
    if (text.empty()) text = "unknown error";
    return text + " (" + hexCode(hr) + ")";
}

[[noreturn]] void raise(long hr, const std::string& description) { throw Failure(hr, description); }

// How long, in seconds, the default sound output holds a sample after the
// renderer has presented it: the periods DirectSound mixes ahead into the
// device's buffer and the device's own stream latency, both judged by the
// latency the device reports (IAudioClient::GetStreamLatency). 0 when there
// is no device to ask.
double deviceLatencySeconds() {
    double seconds = 0;
    IMMDeviceEnumerator* devices = nullptr;
    IMMDevice* device = nullptr;
    IAudioClient* client = nullptr;
    WAVEFORMATEX* format = nullptr;
    REFERENCE_TIME latency = 0;
    if (SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                   __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&devices))) &&
        SUCCEEDED(devices->GetDefaultAudioEndpoint(eRender, eConsole, &device)) &&
        SUCCEEDED(device->Activate(__uuidof(IAudioClient), CLSCTX_INPROC_SERVER, nullptr,
                                   reinterpret_cast<void**>(&client))) &&
        SUCCEEDED(client->GetMixFormat(&format)) &&
        SUCCEEDED(client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, 0, 0, format, nullptr)) &&
        SUCCEEDED(client->GetStreamLatency(&latency)) && latency > 0)
        seconds = kLatenciesToHeard * static_cast<double>(latency) / 1e7;
    if (format != nullptr) CoTaskMemFree(format);
    if (client != nullptr) client->Release();
    if (device != nullptr) device->Release();
    if (devices != nullptr) devices->Release();
    return seconds;
}

// A client of the default sound output, set up and never started, that
// watches the device: once the device has gone (removed, or its sound
// server ended) each of its calls answers AUDCLNT_E_DEVICE_INVALIDATED.
// Null when there is no device to watch.
IAudioClient* openDeviceWatch() {
    IMMDeviceEnumerator* devices = nullptr;
    IMMDevice* device = nullptr;
    IAudioClient* client = nullptr;
    WAVEFORMATEX* format = nullptr;
    const bool open = SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                                 __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&devices))) &&
                      SUCCEEDED(devices->GetDefaultAudioEndpoint(eRender, eConsole, &device)) &&
                      SUCCEEDED(device->Activate(__uuidof(IAudioClient), CLSCTX_INPROC_SERVER, nullptr,
                                                 reinterpret_cast<void**>(&client))) &&
                      SUCCEEDED(client->GetMixFormat(&format)) &&
                      SUCCEEDED(client->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, 0, 0, format, nullptr));
    if (format != nullptr) CoTaskMemFree(format);
    if (!open && client != nullptr) client->Release();
    if (device != nullptr) device->Release();
    if (devices != nullptr) devices->Release();
    return open ? client : nullptr;
}

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
                            Wanted{IID_IMediaEvent, reinterpret_cast<void**>(&events_), "IMediaEvent"},
                            Wanted{IID_IMediaFilter, reinterpret_cast<void**>(&mediaFilter_), "IMediaFilter"}}) {
        hr = control_->QueryInterface(w.iid, w.into);
        if (FAILED(hr)) {
            releaseAll();
            raise(hr, std::string("The DirectShow filter graph has no ") + w.name + ": " + describe(hr));
        }
    }
    // The graph's own position does not say what has been heard (see
    // playedPosition); the stream clock does, once it is in the graph.
    IFilterGraph* filters = nullptr;
    if (SUCCEEDED(control_->QueryInterface(IID_IFilterGraph, reinterpret_cast<void**>(&filters)))) {
        clockInGraph_ = SUCCEEDED(filters->AddFilter(streamClock_.filter(), L"Tarnwick stream clock"));
        filters->Release();
    }
}

DshowGraph::~DshowGraph() {
    const FpuGuard fpu;
    releaseAll();
}

void DshowGraph::releaseAll() {
    release(control_);
    release(audio_);
    release(position_);
    release(events_);
    release(mediaFilter_);
    release(deviceWatch_);
}

bool DshowGraph::deviceGone() {
    UINT32 padding = 0;
    return deviceWatch_ != nullptr && deviceWatch_->GetCurrentPadding(&padding) == AUDCLNT_E_DEVICE_INVALIDATED;
}

void DshowGraph::pollEvents() {
    long code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    while (events_->GetEvent(&code, &param1, &param2, 0) == S_OK) {
        switch (code) {
            case EC_COMPLETE:
                complete_ = true;
                break;
            case EC_DEVICE_LOST:
                // The second parameter is 0 when the device went away, 1
                // when it came back.
                if (param2 != 0) break;
                [[fallthrough]];
            case EC_ERRORABORT:
            case EC_ERRORABORTEX:
            case EC_USERABORT:
            case EC_ERROR_STILLPLAYING:
            case EC_STREAM_ERROR_STOPPED:
                // The graph stopped playing (the output went away, a decoder
                // broke, the video window was closed, a run failed): the file
                // will not reach its end by itself, so it counts as ended and
                // the progress tick ends the transmission instead of keeping
                // it keyed.
                reachEnd(Clock::now());
                break;
            default:
                break;
        }
        events_->FreeEventParams(code, param1, param2);
    }
    // The sound output went away while the file plays. Wine's DirectShow
    // sends no event for it and its clock runs on, so the file would seem
    // to play to its end with the transmitter keyed and nothing on the air.
    if (running_ && !ended_ && deviceGone()) reachEnd(Clock::now());
}

void DshowGraph::fail(long hr, const std::string& what) const {
    raise(hr, what + (path_.empty() ? std::string() : " (" + path_ + ")") + ": " + describe(hr));
}

Failure DshowGraph::refusal(const std::string& what) const { return Failure(E_INVALIDARG, what); }

void DshowGraph::requireRendered(const char* operation) const {
    if (!rendered_)
        raise(VFW_E_WRONG_STATE, std::string(operation) + ": no file has been rendered in this graph (" +
                                     hexCode(VFW_E_WRONG_STATE) + ")");
}

void DshowGraph::reachEnd(Clock::time_point when) {
    ended_ = true;
    if (!playedOut_) playedOut_ = when;
}

void DshowGraph::forgetEnd() {
    ended_ = false;
    complete_ = false;
    playedOut_.reset();
    forgetWatch();
}

void DshowGraph::forgetWatch() { pastEndSince_.reset(); }

bool DshowGraph::playsSoundOnly() {
    // A graph with a video renderer answers for its picture's size; one
    // without says it has no such interface.
    IBasicVideo* video = nullptr;
    if (FAILED(control_->QueryInterface(IID_IBasicVideo, reinterpret_cast<void**>(&video)))) return true;
    long width = 0;
    const bool picture = SUCCEEDED(video->get_VideoWidth(&width));
    video->Release();
    return !picture;
}

void DshowGraph::prepare(bool wait) {
    // Under Wine a video renderer on a virtual display never gets ready, and
    // a graph that tried to is not released again: only sound is prepared.
    if (!soundOnly_ || FAILED(control_->Pause()) || !wait) return;
    OAFilterState state = State_Stopped;
    control_->GetState(static_cast<LONG>(kPrepareWait / 1ms), &state);
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
    outputLatency_ = deviceLatencySeconds();
    deviceWatch_ = openDeviceWatch();
    soundOnly_ = playsSoundOnly();
    // Ready before the transmission keys: the first Run then only starts
    // the clock, instead of opening the output and decoding the start of the
    // file while the transmitter is keyed.
    prepare(true);
    // Nothing from the building counts as playback.
    pollEvents();
    forgetEnd();
    base_ = 0;
    running_ = false;
    rendered_ = true;
}

void DshowGraph::Run() {
    const FpuGuard fpu;
    pollEvents();
    requireRendered("Run");
    if (!running_) {
        // A stopped or paused graph plays on from where it stands (after a
        // seek, or where the component put it at Stop), at its own rate.
        REFTIME from = 0, rate = 1;
        if (SUCCEEDED(position_->get_CurrentPosition(&from))) base_ = std::clamp(from, 0.0, duration_);
        rate_ = SUCCEEDED(position_->get_Rate(&rate)) && rate > 0 ? rate : 1.0;
        forgetWatch();
        // A device that went away may be back: watch it afresh if it is.
        if (deviceGone()) {
            if (IAudioClient* fresh = openDeviceWatch()) {
                release(deviceWatch_);
                deviceWatch_ = fresh;
            }
        }
    }
    const bool wasRunning = running_;
    const HRESULT hr = start();
    if (FAILED(hr)) fail(hr, "Cannot start playback");
    if (!wasRunning) startedAt_ = Clock::now();
    running_ = true;
}

long DshowGraph::start() {
    // Wine's graph manager starts its filters 200 ms after IMediaControl::Run
    // ("to give filters time to initialize"), whatever state the graph is in:
    // a transmission keyed just before carried a fifth of a second of dead
    // carrier. A sound graph that is ready, its first samples waiting at the
    // renderer, needs no such time: it is started on its reference clock at
    // a stream time zero just ahead of now (IMediaFilter::Run, which both
    // Windows and Wine honour as given).
    if (running_) return control_->Run();  // already running: nothing changes
    startedOnClock_ = false;
    if (mediaFilter_ == nullptr || !soundOnly_ || !clockInGraph_) return control_->Run();
    OAFilterState state = State_Stopped;
    if (control_->GetState(0, &state) == S_OK && state == State_Stopped) control_->Pause();
    IReferenceClock* clock = nullptr;
    REFERENCE_TIME now = 0;
    const bool ready = control_->GetState(static_cast<LONG>(kPrepareWait / 1ms), &state) == S_OK &&
                       state == State_Paused && SUCCEEDED(mediaFilter_->GetSyncSource(&clock)) && clock != nullptr &&
                       SUCCEEDED(clock->GetTime(&now));
    if (clock != nullptr) clock->Release();
    if (!ready) return control_->Run();
    const HRESULT hr = mediaFilter_->Run(now + kStartAhead);
    startedOnClock_ = SUCCEEDED(hr);
    return hr;
}

double DshowGraph::clockPosition() {
    const auto stream = streamClock_.streamTime();
    return base_ + rate_ * std::max(0.0, stream.value_or(0.0));
}

void DshowGraph::Stop() {
    const FpuGuard fpu;
    pollEvents();
    requireRendered("Stop");
    // Where the heard sound stands now: Resume plays on from there. The
    // transmission unkeys before this Stop, so what the output still holds
    // goes out unkeyed and is heard again on the air after the Resume
    // (20 to 40 ms under Wine): repeated rather than lost.
    std::optional<double> heard;
    if (running_ && !ended_) {
        if (const auto played = playedPosition()) heard = std::clamp(*played, 0.0, duration_);
    }
    const HRESULT hr = control_->Stop();
    if (FAILED(hr)) fail(hr, "Cannot stop playback");
    running_ = false;
    startedOnClock_ = false;
    complete_ = false;
    forgetWatch();
    // Wine's component goes back to where the last seek put it on Stop; a
    // failed seek leaves it there, which plays some of the file again but
    // loses nothing.
    if (heard && SUCCEEDED(position_->put_CurrentPosition(*heard))) base_ = *heard;
    // A component that rewinds on Stop plays the file again on the next Run:
    // the end that was reached no longer holds.
    if (ended_) {
        REFTIME now = 0;
        if (SUCCEEDED(position_->get_CurrentPosition(&now)) && now < duration_) forgetEnd();
    }
    // Ready again for Resume, without holding up the Stop button.
    prepare(false);
}

double DshowGraph::Duration() {
    const FpuGuard fpu;
    pollEvents();
    requireRendered("Duration");
    return duration_;
}

std::optional<double> DshowGraph::playedPosition() {
    if (!clockInGraph_) return std::nullopt;
    const auto stream = streamClock_.streamTime();
    // Not started yet (still preparing, or the first sample not yet due).
    if (!stream) return base_;
    return base_ + rate_ * std::max(0.0, *stream - outputLatency_);
}

double DshowGraph::CurrentPosition() {
    const FpuGuard fpu;
    pollEvents();
    requireRendered("CurrentPosition");
    watched_.reset();
    // The end of a transmission is detected by comparing this with the
    // length read at the load (the window's Text3), so at the end it must be
    // that very number, whatever the component says the length is by now.
    if (ended_) return duration_;
    REFTIME position = 0;
    const HRESULT hr = position_->get_CurrentPosition(&position);
    if (FAILED(hr)) fail(hr, "CurrentPosition: cannot read the position");
    if (!running_) return std::clamp(position, 0.0, std::max(0.0, duration_ - kOneUnit));
    // A run started on the clock: the component counts its position from its
    // last seek, however long ago that was.
    if (startedOnClock_) position = clockPosition();

    const auto now = Clock::now();
    // The end: every renderer has had its last sample (EC_COMPLETE) and the
    // device has played it. On Windows the audio renderer sends EC_COMPLETE
    // only once its last sample has been played, but Wine's sends it as soon
    // as the last sample is in its DirectSound buffer, a quarter of a second
    // before that sample is heard; and Wine's graph reports the length as
    // its position from then on, while its position before runs 200 ms
    // ahead of what its renderers present (it starts them 200 ms after the
    // time it counts from). Neither can end a transmission. What the
    // renderers present follows the stream clock; what has been heard
    // follows it by the output latency.
    const auto played = playedPosition();
    if (complete_ && (!played || *played >= duration_)) {
        reachEnd(played ? now - std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>((*played - duration_) / rate_))
                        : now);
        return duration_;
    }
    // A file that will not end by itself: the position ran past the
    // component's own length without EC_COMPLETE. The component's length,
    // not the one read at the load: should it have grown since (a length
    // estimated from the start of a file), the sound goes on past the old
    // one. (One that stands still is GuardedGraph's to tell: it watches
    // this position, which follows the graph's clock.)
    if (position >= componentLength()) {
        if (!pastEndSince_) pastEndSince_ = now;
    } else {
        pastEndSince_.reset();
    }
    if (pastEndSince_ && now - *pastEndSince_ >= kMissedEndGrace) {
        reachEnd(now);
        return duration_;
    }
    watched_ = position;
    return std::clamp(played.value_or(position), 0.0, std::max(0.0, duration_ - kOneUnit));
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
    // A transmission runs the graph and then seeks to where it already
    // starts. Just after the start, that seek would only throw the prepared
    // start away and make the component prepare it again.
    if (running_ && !ended_ && !complete_ && target == base_ && clockInGraph_) {
        const auto stream = streamClock_.streamTime();
        if ((!stream || *stream < kStartSeekIgnored) && Clock::now() - startedAt_ < kStartSeekWindow) return;
    }
    // A running sound graph is stopped and started again on its clock: the
    // component's own seek while running restarts it 200 ms late under Wine.
    const bool restart = running_ && soundOnly_ && clockInGraph_ && mediaFilter_ != nullptr;
    if (restart) {
        const HRESULT hr = control_->Stop();
        if (FAILED(hr)) fail(hr, "Cannot seek to " + std::to_string(target) + " s");
        running_ = false;
        startedOnClock_ = false;
    }
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
    base_ = target;
    forgetEnd();
    if (restart) {
        hr = start();
        if (FAILED(hr)) fail(hr, "Cannot play again from " + std::to_string(target) + " s");
        startedAt_ = Clock::now();
        running_ = true;
    }
}

void DshowGraph::SetRate(double factor) {
    const FpuGuard fpu;
    pollEvents();
    requireRendered("Rate");
    const HRESULT hr = position_->put_Rate(factor);
    if (FAILED(hr)) fail(hr, "Cannot set the rate " + std::to_string(factor));
}

void DshowGraph::SetVolume(long hundredthsDb) {
    const FpuGuard fpu;
    pollEvents();
    const HRESULT hr = audio_->put_Volume(hundredthsDb);
    if (FAILED(hr)) fail(hr, "Cannot set the volume " + std::to_string(hundredthsDb));
}

void DshowGraph::SetBalance(long hundredthsDb) {
    const FpuGuard fpu;
    pollEvents();
    const HRESULT hr = audio_->put_Balance(hundredthsDb);
    if (FAILED(hr)) fail(hr, "Cannot set the balance " + std::to_string(hundredthsDb));
}

std::optional<Clock::time_point> DshowGraph::playedOutTime() {
    const FpuGuard fpu;
    pollEvents();
    return playedOut_;
}

std::unique_ptr<MediaGraph> DshowGraphFactory::create() { return std::make_unique<DshowGraph>(); }

}  // namespace tarnwick
