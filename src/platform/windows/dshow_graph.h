// The playback graph on DirectShow: one filter graph manager
// (FilgraphManager) per load, used through IMediaControl, IMediaPosition and
// IBasicAudio, and IMediaEvent to learn when the file has played to its end.
//
// What the graph decodes, where it plays and which files it accepts is the
// component's: on Windows the system's filters and the default sound
// device, under Wine its quartz, which decodes through GStreamer and plays
// through the sound server. Volume, balance and rate are the component's
// own too: a new graph starts at full volume, centre balance and rate 1.0.
//
// The end of the file is ours to report exactly: the component's position
// follows its clock, which runs ahead of what has been heard by the output's
// latency and goes on past the length (under Wine it reads up to some 40 ms
// past it before the last sample has played). The graph therefore reads the
// length as the position only once EC_COMPLETE has arrived (every renderer
// has played its last sample), and stays below the length until then.
//
// Threading: every operation is called on the window's thread, which has
// entered a single-threaded COM apartment (OleInitialize) before the first
// graph is made. The graph's events are read synchronously at the start of
// every operation, so no window or message is needed; a small helper thread
// only waits on the graph's event handle to time the end (endOfStreamTime)
// and never calls into COM.
//
// Every failure raises tarnwick::Failure whose number is the HRESULT (a
// negative number, as the original runtime reported COM errors) and whose
// description gives DirectShow's or the system's text for it and, where a
// file is involved, names the file.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "media/media_graph.h"
#include "platform/windows/win32_platform.h"

struct IMediaControl;
struct IMediaPosition;
struct IBasicAudio;
struct IMediaEvent;

namespace tarnwick {

class DshowGraph final : public MediaGraph {
public:
    // An empty filter graph manager with its four interfaces. Raises Failure
    // when COM cannot make one (not initialised on this thread, or DirectShow
    // missing).
    DshowGraph();
    // Releases the control, audio, position and event interfaces in that
    // order, with no Stop first: releasing the last reference discards the
    // graph and any playback.
    ~DshowGraph() override;
    DshowGraph(const DshowGraph&) = delete;
    DshowGraph& operator=(const DshowGraph&) = delete;

    // IMediaControl::RenderFile with the path converted from the ANSI code
    // page. Raises Failure when the file is missing or cannot be played, when
    // no sound output exists (also when only the picture of a video could be
    // rendered: the graph exists to transmit sound), when the length is
    // unknown, or when this graph has rendered a file already. Afterwards the
    // graph is stopped at position 0.
    void RenderFile(const std::string& path) override;

    // IMediaControl::Run: plays from the current position. At the end of the
    // file it stays at the end. Raises Failure before a successful
    // RenderFile, or when the graph refuses to run.
    //
    // Every operation keeps the calling thread's floating-point precision
    // and rounding as they were: a video renderer setting up Direct3D on this
    // thread would otherwise leave the x87 unit in single precision.
    void Run() override;
    // IMediaControl::Stop. Where the position stands afterwards is the
    // component's: under Wine it goes back to where the last seek put it (0
    // for every transmission), so that Run plays from there; the end of the
    // file is forgotten then. Raises Failure before a successful RenderFile.
    void Stop() override;

    // IMediaPosition::get_Duration as read by RenderFile. It never changes,
    // even where the component revises its length later (one estimated from
    // the start of a file): the window holds the length of the load, and the
    // end of the file is the position reading exactly that.
    double Duration() override;
    // IMediaPosition::get_CurrentPosition, kept below Duration() until
    // EC_COMPLETE (or a playback error: EC_ERRORABORT, EC_USERABORT, a
    // stopped stream) has arrived; from then on exactly Duration(), on every
    // call until the next seek or a Stop that rewinds. So that a transmission
    // never stays keyed for a file that will not end by itself, a running
    // graph also counts as ended when its own position has stood at or past
    // the component's present length for 1.5 s (EC_COMPLETE missed) or has
    // not moved for 5 s (the graph never started).
    double CurrentPosition() override;
    // IMediaPosition::put_CurrentPosition, with `seconds` clamped to
    // 0 .. Duration(); forgets the end. Keeps the running or stopped state.
    // Where the component still reports the end after seeking before it
    // (Wine's quartz does after EC_COMPLETE, until a Stop), the graph is
    // stopped, seeked again and run again if it ran, so that a file played
    // again reports its real position.
    void SetCurrentPosition(double seconds) override;
    // IMediaPosition::put_Rate; 0.10 .. 2.00, 1.0 normal. Raises Failure
    // outside that range. (Wine's quartz accepts the call and keeps normal
    // speed.)
    void SetRate(double factor) override;
    // IBasicAudio::put_Volume, -10000 (silent) .. 0 (full), hundredths of a
    // decibel. Raises Failure outside that range or when the graph plays no
    // sound (nothing rendered yet).
    void SetVolume(long hundredthsDb) override;
    // IBasicAudio::put_Balance, -10000 (left only) .. 10000 (right only).
    // Raises Failure outside that range or when the graph plays no sound.
    void SetBalance(long hundredthsDb) override;

    // When the graph's event queue received the EC_COMPLETE that ended the
    // file (std::chrono::steady_clock): the moment every renderer had played
    // its last sample. Empty until then, and again after a seek. Read by
    // benchmarks that measure what happens after the end of a file.
    std::optional<std::chrono::steady_clock::time_point> endOfStreamTime();

private:
    void pollEvents();
    void requireRendered(const char* operation) const;
    double componentLength();
    void forgetEnd();
    void forgetWatch();
    [[noreturn]] void fail(long hr, const std::string& what) const;
    void releaseAll();
    static DWORD WINAPI stampMain(void* self);

    IMediaControl* control_ = nullptr;
    IBasicAudio* audio_ = nullptr;
    IMediaPosition* position_ = nullptr;
    IMediaEvent* events_ = nullptr;

    std::string path_;
    bool rendered_ = false;
    double duration_ = 0;   // the length read by RenderFile
    bool running_ = false;  // Run was called and no Stop since

    // EC_COMPLETE (or a playback error) has arrived since the last seek.
    bool ended_ = false;
    std::optional<std::chrono::steady_clock::time_point> endTime_;
    // Since when a running graph's own position has read the length or more,
    // and since when it has stood at `lastPosition_`.
    std::optional<std::chrono::steady_clock::time_point> pastEndSince_;
    std::optional<std::chrono::steady_clock::time_point> stillSince_;
    double lastPosition_ = -1;

    // The helper thread that times the arrival of events. `queued_` is the
    // graph's event handle (owned by the graph), set while events wait;
    // `stamp_` is when it was seen set, taken and cleared by pollEvents under
    // `stampLock_`; `drained_` tells the helper that the queue was read.
    HANDLE queued_ = nullptr;
    HANDLE stopStamping_ = nullptr;
    HANDLE drained_ = nullptr;
    HANDLE stamper_ = nullptr;
    CRITICAL_SECTION stampLock_{};
    std::optional<std::chrono::steady_clock::time_point> stamp_;
};

class DshowGraphFactory : public GraphFactory {
public:
    // A new, empty DshowGraph. Raises Failure when none can be made, so that
    // a machine without DirectShow reports a load failure instead of ending
    // the program.
    std::unique_ptr<MediaGraph> create() override;
};

}  // namespace tarnwick
