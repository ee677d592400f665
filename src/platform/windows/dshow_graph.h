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
// The end of the file is ours to report, and only once it has been heard:
// the transmission unkeys on it. Neither the component's position nor its
// EC_COMPLETE says so under Wine (both come a quarter of a second before
// the last sample leaves the sound output), so the position is what the
// renderers have presented by the graph's stream clock (StreamClock, a
// filter of ours in the graph), less the output device's latency; it reads
// the length once EC_COMPLETE has come and that position has reached it.
//
// Threading: every operation is called on the window's thread, which has
// entered a single-threaded COM apartment (OleInitialize) before the first
// graph is made. The graph's events are read synchronously at the start of
// every operation, so no window or message is needed.
//
// Every failure raises tarnwick::Failure whose number is the HRESULT (a
// negative number, as COM reports its errors) and whose
// description gives DirectShow's or the system's text for it and, where a
// file is involved, names the file. A value out of range (MediaGraph) is
// E_INVALIDARG.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/windows/dshow_stream_clock.h"
#include "platform/windows/win32_platform.h"
#include "seams/media_graph.h"

struct IMediaControl;
struct IMediaPosition;
struct IBasicAudio;
struct IMediaEvent;
struct IMediaFilter;
struct IAudioClient;

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
    // page. A video whose picture alone could be rendered fails too (the
    // graph exists to transmit sound), and so does a second render in the
    // same graph. Afterwards the graph is paused and ready to play (a graph
    // with a picture is left stopped), having waited up to 1 s for that.
    void RenderFile(const std::string& path) override;

    // IMediaControl::Run. A sound graph that is
    // ready (paused with its first samples at the renderer) is started on
    // its reference clock 20 ms from now, so that the sound follows the key
    // at once: a plain IMediaControl::Run would, under Wine, start the
    // filters 200 ms after the call. Any other graph is run plainly.
    //
    // Every operation keeps the calling thread's floating-point precision
    // and rounding as they were: a video renderer setting up Direct3D on this
    // thread would otherwise leave the x87 unit in single precision.
    void Run() override;
    // IMediaControl::Stop. The position stays where the heard sound ended,
    // so that Run (Resume) plays on from there: Wine's component
    // would go back to where the last seek put it (0 for every
    // transmission) and play the heard part again. The end of the file is
    // forgotten when the position is before it.
    // Afterwards a sound graph gets ready again (paused) in the background.
    void Stop() override;

    // IMediaPosition::get_Duration as read by RenderFile, even where the
    // component revises its length later (one estimated from the start of a
    // file).
    double Duration() override;
    // While the graph runs, the position of the sound that has left the
    // output device: where the run started, plus the stream time, less the
    // device's latency, times the rate the component plays at. The end is
    // EC_COMPLETE together with that position reaching the length, or a
    // playback error (EC_ERRORABORT, EC_USERABORT, EC_ERROR_STILLPLAYING, a
    // stopped stream, the sound device lost, or the default sound output
    // gone, which the graph watches itself); a Stop before the end forgets
    // it too. A running graph also counts as ended when its own position
    // (the stream clock's, for a run started on the clock) has stood at or
    // past the component's present length for 1.5 s (EC_COMPLETE missed).
    // That position is also the one the stall watch (GuardedGraph) looks
    // at: a graph that never started (under Wine, a video renderer that
    // cannot prepare holds the whole graph back) leaves it standing. While
    // stopped or paused, the component's position. Should the stream clock
    // be missing, the component's position and EC_COMPLETE alone.
    double CurrentPosition() override;
    // IMediaPosition::put_CurrentPosition. A running sound graph is stopped, seeked and started again on its
    // clock (as Run does), since the component's own seek while running
    // would restart it 200 ms late under Wine.
    // Where the component still reports the end after seeking before it
    // (Wine's quartz does after EC_COMPLETE, until a Stop), the graph is
    // stopped, seeked again and run again if it ran, so that a file played
    // again reports its real position. A seek to where a running graph
    // started, before its first sample is due and within a second of the
    // start, changes nothing and is not passed on: the transmissions seek to
    // 0 right after Run.
    void SetCurrentPosition(double seconds) override;
    // IMediaPosition::put_Rate. (Wine's quartz accepts the call and keeps
    // normal speed.)
    void SetRate(double factor) override;
    // IBasicAudio::put_Volume and put_Balance; both fail when the graph
    // plays no sound (nothing rendered yet).
    void SetVolume(long hundredthsDb) override;
    void SetBalance(long hundredthsDb) override;

    // When the last sound of the file left the output device
    // (std::chrono::steady_clock), as CurrentPosition judged it on reaching
    // the end: the moment its position reached the length (or, for an end
    // without it, the moment the end was found). Empty until then, and again
    // after a seek; a stall (GuardedGraph's end) leaves it empty. Read by benchmarks that measure what happens after
    // the end of a file.
    std::optional<std::chrono::steady_clock::time_point> playedOutTime();

private:
    std::optional<double> watchedPosition() const override { return watched_; }
    Failure refusal(const std::string& what) const override;
    void pollEvents();
    void requireRendered(const char* operation) const;
    double componentLength();
    std::optional<double> playedPosition();
    bool playsSoundOnly();
    void prepare(bool wait);
    long start();
    double clockPosition();
    void reachEnd(std::chrono::steady_clock::time_point when);
    bool deviceGone();
    void forgetEnd();
    void forgetWatch();
    [[noreturn]] void fail(long hr, const std::string& what) const;
    void releaseAll();

    IMediaControl* control_ = nullptr;
    IBasicAudio* audio_ = nullptr;
    IMediaPosition* position_ = nullptr;
    IMediaEvent* events_ = nullptr;
    IMediaFilter* mediaFilter_ = nullptr;  // the graph's, to start it on its clock
    // Watches the default sound output from the load on (see pollEvents).
    IAudioClient* deviceWatch_ = nullptr;

    std::string path_;
    bool rendered_ = false;
    double duration_ = 0;   // the length read by RenderFile
    bool running_ = false;  // Run was called and no Stop since
    // This run was started on the reference clock (see start()): the
    // component's own position then counts from its last seek, not from
    // this run, and the stream clock stands in for it.
    bool startedOnClock_ = false;

    StreamClock streamClock_;
    bool clockInGraph_ = false;
    bool soundOnly_ = true;     // no picture: the graph may be prepared
    double outputLatency_ = 0;  // seconds from presented to heard
    double base_ = 0;           // the position at stream time 0 of this run
    double rate_ = 1;           // the rate the component plays this run at

    // EC_COMPLETE has arrived since the last seek or Stop.
    bool complete_ = false;
    // The end has been reported (or a playback error came) since then.
    bool ended_ = false;
    std::optional<std::chrono::steady_clock::time_point> playedOut_;
    // Since when a running graph's own position has read the length or more.
    std::optional<std::chrono::steady_clock::time_point> pastEndSince_;
    std::optional<double> watched_;  // see MediaGraph::watchedPosition
    // When the graph last started running (Run, or a seek's restart).
    std::chrono::steady_clock::time_point startedAt_{};
};

class DshowGraphFactory : public GraphFactory {
public:
    // A new, empty DshowGraph. Raises Failure when none can be made, so that
    // a machine without DirectShow reports a load failure instead of ending
    // the program.
    std::unique_ptr<MediaGraph> create() override;
};

}  // namespace tarnwick
