// The playback graph on GStreamer: the Linux counterpart of the filter graph.
//
// One GstGraph wraps one `playbin` that plays only the audio of a file (the
// sound track of a video file; nothing is ever shown). Its output is the
// PulseAudio server of the session (pulsesink), or an ALSA device when no
// sound server answers; a graph never plays into a dummy sink, so a machine
// without any sound output fails at RenderFile, as a DirectShow graph
// does when it finds no renderer.
//
// Volume and balance are applied by our own filter in front of the sink
// (audioconvert ! stereo ! audiopanorama ! volume), never through the sound
// server's stream volume, so that each graph starts at full volume and
// centre balance whatever the server remembers.
//
// Threading: every operation is called on the window's thread. GStreamer's
// streaming threads run behind the graph; what they report (end of stream,
// errors) is read from the pipeline's bus synchronously at the start of
// every operation, so no main-loop watch is needed and the end of a file is
// seen by the very next progress tick, whatever event loop runs the program.
//
// Every failure raises tarnwick::Failure (err::kAutomationError) with a
// description that names the file and carries GStreamer's message; so does
// a value out of range (MediaGraph).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "seams/media_graph.h"

typedef struct _GstElement GstElement;
typedef struct _GstBus GstBus;
typedef struct _GstMessage GstMessage;

namespace tarnwick {

class GstGraph final : public MediaGraph {
public:
    // An empty graph: a playbin with the audio filter, no file, no output
    // opened yet. Raises Failure when the GStreamer elements cannot be made
    // (plugins missing). GStreamer must be initialised (GstGraphFactory).
    GstGraph();
    // Releases the pipeline at once (NULL state), playing or not.
    ~GstGraph() override;
    GstGraph(const GstGraph&) = delete;
    GstGraph& operator=(const GstGraph&) = delete;

    // Opens the audio output and waits, 10 s at most, until the chain is
    // ready to play, paused at the start; then reads the length. A second
    // render replaces the first.
    void RenderFile(const std::string& path) override;
    // After a playback error, Run and a seek first reopen the pipeline.
    void Run() override;
    // Pauses.
    void Stop() override;
    // What the container says, which for some formats (mpg, variable-rate
    // mp3) is an estimate; when it says nothing (an mp3 or mp2 stream without
    // a header), the file is scanned for the end of its last frame.
    double Duration() override;
    // The end is the end of stream on the bus; a playback error (the sound
    // server went away) counts as one. Right after a seek it reads the
    // seek's target until the seek has completed (2 s at most).
    double CurrentPosition() override;
    // A flushing, sample-accurate seek that carries the rate.
    void SetCurrentPosition(double seconds) override;
    // The pitch changes with the rate. At the end of the file the rate is
    // kept for the next seek.
    void SetRate(double factor) override;
    // Volume and balance act on the sound as it is made, up to a second
    // before it is heard. Set on a paused graph (rendered, or stopped), they
    // hold from the first sample Run plays: the graph makes the sound it
    // held again. Set while it plays, they are heard once the sound already
    // made has played. Both work before a render too.
    void SetVolume(long hundredthsDb) override;
    void SetBalance(long hundredthsDb) override;

    // When the end of the file was reported on the bus (CLOCK_MONOTONIC, the
    // clock of std::chrono::steady_clock): the moment the output had played
    // the last sample. Empty until then, and again after a seek; a stall
    // (GuardedGraph's end) leaves it empty. Read by benchmarks that measure
    // what happens after the end of a file.
    std::optional<std::chrono::steady_clock::time_point> endOfStreamTime();

private:
    std::optional<double> watchedPosition() const override { return watched_; }
    Failure refusal(const std::string& what) const override;
    void pollBus();
    void handle(GstMessage* message);
    void requireRendered(const char* operation) const;
    void reopenAfterError();
    void prerollOrThrow(std::chrono::steady_clock::time_point deadline);
    void seekTo(std::int64_t positionNs);
    void remakeHeldSound();
    std::int64_t beforeEnd(std::int64_t positionNs) const;
    [[noreturn]] void fail(const std::string& what) const;

    GstElement* playbin_ = nullptr;
    GstElement* panorama_ = nullptr;  // owned by playbin_
    GstElement* volume_ = nullptr;    // owned by playbin_
    GstBus* bus_ = nullptr;

    std::string path_;
    bool rendered_ = false;
    std::int64_t durationNs_ = 0;
    double duration_ = 0.0;
    double rate_ = 1.0;
    double lastPosition_ = 0.0;

    // Set when the end of stream (or a playback error) has been seen.
    bool ended_ = false;
    // Whether Run was the last of Run and Stop.
    bool runRequested_ = false;
    std::optional<double> watched_;  // see MediaGraph::watchedPosition
    std::optional<std::chrono::steady_clock::time_point> endTime_;
    // When the streaming thread posted the last end of stream (steady_clock
    // ticks); written on that thread, read here when the message is handled.
    std::atomic<std::int64_t> endPostedNs_{0};
    // A playback error broke the pipeline; the next Run or seek reopens it.
    std::string playbackError_;

    // The target of a seek that has not completed yet, and until when it is
    // reported at the latest should the completion never be posted.
    std::optional<double> pendingSeek_;
    std::chrono::steady_clock::time_point pendingSeekUntil_{};
};

class GstGraphFactory : public GraphFactory {
public:
    // A new, empty GstGraph. The first call initialises GStreamer for the
    // process (with no command-line options). Raises Failure when GStreamer
    // cannot be initialised or playbin cannot be made, so that a machine
    // without GStreamer's plugins reports a load failure instead of ending
    // the program at start.
    std::unique_ptr<MediaGraph> create() override;
};

}  // namespace tarnwick
