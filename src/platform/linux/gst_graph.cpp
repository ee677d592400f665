#include "platform/linux/gst_graph.h"

#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <thread>

#include "base/errors.h"

namespace tarnwick {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// playbin's GstPlayFlags value for "decode and play audio"; with no video or
// text flag a video file plays its sound track only and an image has nothing
// to play.
constexpr int kPlayFlagAudio = 1 << 1;

// How long RenderFile may take in all: getting the chain ready to play and,
// where needed, scanning the file for its length.
constexpr auto kRenderTimeout = 10s;
// A seek's target is reported until the seek completes; should the
// completion never be posted, the queried position is used after this.
constexpr auto kSeekReportLimit = 2s;

constexpr GstMessageType kWatchedMessages =
    static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE);

[[noreturn]] void raise(const std::string& description) { throw Failure(err::kAutomationError, description); }

double seconds(std::int64_t ns) { return static_cast<double>(ns) / static_cast<double>(GST_SECOND); }

std::string errorText(GstMessage* message) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    std::string text = error != nullptr ? error->message : "unknown GStreamer error";
    if (error != nullptr) g_error_free(error);
    g_free(debug);
    return text;
}

// The first error waiting on `bus`, or `fallback` when none is there.
std::string pendingError(GstBus* bus, const std::string& fallback) {
    std::string text = fallback;
    if (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
        text = errorText(message);
        gst_message_unref(message);
    }
    return text;
}

// A sound output that opens now. playbin's own choice (autoaudiosink) falls
// back to a dummy sink when nothing opens, which would "play" into nowhere;
// the graph must fail instead. The server of the session comes first, then
// the default ALSA device. Returns a new reference, or nullptr with the
// reasons in `why`.
GstElement* openAudioOutput(std::string& why) {
    for (const char* name : {"pulsesink", "alsasink"}) {
        GstElement* sink = gst_element_factory_make(name, nullptr);
        if (sink == nullptr) {
            why += std::string(why.empty() ? "" : "; ") + name + ": not installed";
            continue;
        }
        gst_object_ref_sink(sink);
        // A sink outside a pipeline has no bus; give it one so that its
        // reason for not opening can be read.
        GstBus* bus = gst_bus_new();
        gst_element_set_bus(sink, bus);
        const bool opened = gst_element_set_state(sink, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
        if (!opened) why += std::string(why.empty() ? "" : "; ") + name + ": " + pendingError(bus, "cannot open");
        gst_element_set_state(sink, GST_STATE_NULL);
        gst_element_set_bus(sink, nullptr);
        gst_object_unref(bus);
        if (opened) return sink;
        gst_object_unref(sink);
    }
    return nullptr;
}

// Runs in the streaming thread that posts the message, the moment the last
// sample has been played (the bus itself does not time its messages).
GstBusSyncReply stampEndOfStream(GstBus*, GstMessage* message, gpointer postedNs) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS)
        static_cast<std::atomic<std::int64_t>*>(postedNs)->store(Clock::now().time_since_epoch().count());
    return GST_BUS_PASS;
}

// Gives every stream the parser finds a sink of its own, so that none stops
// the scan for want of a link.
void linkToFakeSink(GstElement*, GstPad* pad, gpointer pipeline) {
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (sink == nullptr) return;
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add(GST_BIN(pipeline), sink);
    gst_element_sync_state_with_parent(sink);
    GstPad* input = gst_element_get_static_pad(sink, "sink");
    gst_pad_link(pad, input);
    gst_object_unref(input);
}

// The length of a file whose chain does not say it (an mp3 or mp2 stream
// without a header that gives it), in nanoseconds, or -1. The file is
// parsed, not decoded, as fast as it can be read, and the end of its last
// frame is its length; a few milliseconds for a typical file.
std::int64_t scanLength(const std::string& path, Clock::time_point deadline) {
    GstElement* pipeline = gst_pipeline_new("tarnwick-length-scan");
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* parser = gst_element_factory_make("parsebin", nullptr);
    if (source == nullptr || parser == nullptr) {
        for (GstElement* e : {source, parser})
            if (e != nullptr) gst_object_unref(gst_object_ref_sink(e));
        gst_object_unref(pipeline);
        return -1;
    }
    g_object_set(source, "location", path.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline), source, parser, nullptr);
    std::int64_t length = -1;
    if (gst_element_link(source, parser)) {
        g_signal_connect(parser, "pad-added", G_CALLBACK(linkToFakeSink), pipeline);
        GstBus* bus = gst_element_get_bus(pipeline);
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
        if (left > 0 && gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
            GstMessage* message = gst_bus_timed_pop_filtered(
                bus, static_cast<GstClockTime>(left), static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
            if (message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS &&
                !gst_element_query_position(pipeline, GST_FORMAT_TIME, &length))
                length = -1;
            if (message != nullptr) gst_message_unref(message);
        }
        gst_object_unref(bus);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return length;
}

GstElement* makeElement(const char* factory) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (element == nullptr) raise(std::string("GStreamer element ") + factory + " is not installed");
    return element;
}

}  // namespace

GstGraph::GstGraph() {
    playbin_ = makeElement("playbin");
    gst_object_ref_sink(playbin_);
    g_object_set(playbin_, "flags", kPlayFlagAudio, nullptr);
    // Nothing is ever shown; without a sink of our own playbin may still
    // load a display backend for an image, and some of those crash without
    // a display. A dummy video sink never touches the display.
    GstElement* noVideo = gst_element_factory_make("fakesink", nullptr);
    if (noVideo == nullptr) {
        gst_object_unref(playbin_);
        raise("GStreamer element fakesink is not installed");
    }
    g_object_set(playbin_, "video-sink", noVideo, nullptr);

    // Any channel layout becomes stereo, so that balance works on mono and
    // multichannel files alike; panorama then volume act on the stereo pair.
    GstElement* filter = gst_bin_new("tarnwick-audio-filter");
    GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
    GstElement* stereo = gst_element_factory_make("capsfilter", nullptr);
    panorama_ = gst_element_factory_make("audiopanorama", nullptr);
    volume_ = gst_element_factory_make("volume", nullptr);
    bool built = convert != nullptr && stereo != nullptr && panorama_ != nullptr && volume_ != nullptr;
    if (built) {
        // A positioned front pair: with unpositioned channels audioconvert
        // cannot spread a mono file over both.
        GstCaps* caps = gst_caps_from_string("audio/x-raw,channels=2,channel-mask=(bitmask)0x3");
        g_object_set(stereo, "caps", caps, nullptr);
        gst_caps_unref(caps);
        // "simple" only ever lowers the other channel and never mixes the
        // two, which is what a DirectShow balance does.
        gst_util_set_object_arg(G_OBJECT(panorama_), "method", "simple");
        gst_bin_add_many(GST_BIN(filter), convert, stereo, panorama_, volume_, nullptr);
        built = gst_element_link_many(convert, stereo, panorama_, volume_, nullptr);
    } else {
        for (GstElement* e : {convert, stereo, panorama_, volume_})
            if (e != nullptr) gst_object_unref(gst_object_ref_sink(e));
    }
    if (built) {
        GstPad* sink = gst_element_get_static_pad(convert, "sink");
        GstPad* src = gst_element_get_static_pad(volume_, "src");
        gst_element_add_pad(filter, gst_ghost_pad_new("sink", sink));
        gst_element_add_pad(filter, gst_ghost_pad_new("src", src));
        gst_object_unref(sink);
        gst_object_unref(src);
        g_object_set(playbin_, "audio-filter", filter, nullptr);
    } else {
        gst_object_unref(gst_object_ref_sink(filter));
        gst_object_unref(playbin_);
        raise("GStreamer's audio filters (audioconvert, audiopanorama, volume) are not installed");
    }
    bus_ = gst_element_get_bus(playbin_);
    gst_bus_set_sync_handler(bus_, stampEndOfStream, &endPostedNs_, nullptr);
}

GstGraph::~GstGraph() {
    // In NULL state no streaming thread runs any more, so nothing posts to
    // the bus (or calls the handler) after this.
    gst_element_set_state(playbin_, GST_STATE_NULL);
    gst_bus_set_sync_handler(bus_, nullptr, nullptr, nullptr);
    gst_object_unref(bus_);
    gst_object_unref(playbin_);
}

void GstGraph::fail(const std::string& what) const { throw refusal(what); }

Failure GstGraph::refusal(const std::string& what) const {
    return Failure(err::kAutomationError, what + " (" + path_ + ")");
}

void GstGraph::requireRendered(const char* operation) const {
    if (!rendered_) raise(std::string(operation) + ": no file has been rendered in this graph");
}

void GstGraph::RenderFile(const std::string& path) {
    // A second render replaces the first: back to an empty graph.
    gst_element_set_state(playbin_, GST_STATE_NULL);
    rendered_ = false;
    ended_ = false;
    endTime_.reset();
    pendingSeek_.reset();
    playbackError_.clear();
    rate_ = 1.0;
    lastPosition_ = 0.0;
    path_ = path;

    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(path.c_str(), &error);
    if (uri == nullptr) {
        const std::string text = error != nullptr ? error->message : "invalid file name";
        if (error != nullptr) g_error_free(error);
        fail("Cannot play the file: " + text);
    }
    std::string why;
    GstElement* sink = openAudioOutput(why);
    if (sink == nullptr) {
        g_free(uri);
        fail("No audio output can be opened: " + why);
    }
    g_object_set(playbin_, "uri", uri, "audio-sink", sink, nullptr);
    g_free(uri);
    gst_object_unref(sink);

    const auto deadline = Clock::now() + kRenderTimeout;
    prerollOrThrow(deadline);

    // An image or a silent video prepares fine and has nothing to play.
    int audioStreams = 0;
    g_object_get(playbin_, "n-audio", &audioStreams, nullptr);
    if (audioStreams < 1) {
        gst_element_set_state(playbin_, GST_STATE_NULL);
        fail("The file has no sound to play");
    }

    std::int64_t length = -1;
    if (!gst_element_query_duration(playbin_, GST_FORMAT_TIME, &length) || length <= 0)
        length = scanLength(path, deadline);
    if (length <= 0) {
        gst_element_set_state(playbin_, GST_STATE_NULL);
        fail("The length of the file is unknown");
    }
    durationNs_ = length;
    duration_ = seconds(length);
    // Nothing from the preparation counts as playback.
    pollBus();
    ended_ = false;
    endTime_.reset();
    rendered_ = true;
}

void GstGraph::prerollOrThrow(std::chrono::steady_clock::time_point deadline) {
    // Forget what earlier states posted; only this preparation counts.
    gst_bus_set_flushing(bus_, TRUE);
    gst_bus_set_flushing(bus_, FALSE);
    const GstStateChangeReturn change = gst_element_set_state(playbin_, GST_STATE_PAUSED);
    if (change == GST_STATE_CHANGE_FAILURE) {
        const std::string text = pendingError(bus_, "the pipeline refused to start");
        gst_element_set_state(playbin_, GST_STATE_NULL);
        fail("Cannot play the file: " + text);
    }
    if (change != GST_STATE_CHANGE_ASYNC) return;

    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        GstMessage* message =
            left.count() > 0
                ? gst_bus_timed_pop_filtered(bus_, static_cast<GstClockTime>(left.count()),
                                             static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR))
                : nullptr;
        if (message == nullptr) {
            gst_element_set_state(playbin_, GST_STATE_NULL);
            fail("The file was not ready to play in time");
        }
        const bool done = GST_MESSAGE_TYPE(message) == GST_MESSAGE_ASYNC_DONE;
        const std::string text = done ? std::string() : errorText(message);
        gst_message_unref(message);
        if (done) return;
        gst_element_set_state(playbin_, GST_STATE_NULL);
        fail("Cannot play the file: " + text);
    }
}

void GstGraph::pollBus() {
    // gst_bus_pop_filtered drops every other message on the way, so the bus
    // never fills up with state changes and tags nobody reads.
    while (GstMessage* message = gst_bus_pop_filtered(bus_, kWatchedMessages)) {
        handle(message);
        gst_message_unref(message);
    }
}

void GstGraph::handle(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS:
            ended_ = true;
            endTime_ = Clock::time_point(Clock::duration(endPostedNs_.load()));
            break;
        case GST_MESSAGE_ERROR:
            // The output or the decoder broke while playing. The file will
            // not reach its end by itself, so it counts as ended: the
            // progress tick then ends the transmission instead of keeping
            // the transmitter keyed for ever.
            playbackError_ = errorText(message);
            ended_ = true;
            break;
        case GST_MESSAGE_ASYNC_DONE:
            pendingSeek_.reset();
            break;
        default:
            break;
    }
}

void GstGraph::reopenAfterError() {
    gst_element_set_state(playbin_, GST_STATE_NULL);
    playbackError_.clear();
    pendingSeek_.reset();
    try {
        prerollOrThrow(Clock::now() + kRenderTimeout);
    } catch (const Failure& failure) {
        // Still broken: keep reporting the end.
        playbackError_ = failure.description();
        ended_ = true;
        throw;
    }
    ended_ = false;
    endTime_.reset();
    lastPosition_ = 0.0;
    if (rate_ != 1.0) seekTo(0);
}

void GstGraph::Run() {
    pollBus();
    requireRendered("Run");
    if (!playbackError_.empty()) reopenAfterError();
    if (gst_element_set_state(playbin_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        fail("Cannot start playback: " + pendingError(bus_, "the pipeline refused to play"));
    runRequested_ = true;
}

void GstGraph::Stop() {
    pollBus();
    requireRendered("Stop");
    // After a playback error nothing plays any more; there is nothing to halt.
    if (!playbackError_.empty()) return;
    if (gst_element_set_state(playbin_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
        fail("Cannot stop playback: " + pendingError(bus_, "the pipeline refused to pause"));
    runRequested_ = false;
}

double GstGraph::Duration() {
    pollBus();
    requireRendered("Duration");
    return duration_;
}

double GstGraph::CurrentPosition() {
    pollBus();
    requireRendered("CurrentPosition");
    watched_.reset();
    // The end of the transmission is detected by comparing this with
    // Duration(), so at the end it must be that very number.
    if (ended_) return duration_;
    if (pendingSeek_) {
        // Until a seek completes the pipeline may still report where it was
        // before, possibly the end of the file.
        if (Clock::now() < pendingSeekUntil_) return *pendingSeek_;
        pendingSeek_.reset();
    }
    std::int64_t position = -1;
    if (gst_element_query_position(playbin_, GST_FORMAT_TIME, &position) && position >= 0)
        lastPosition_ = seconds(beforeEnd(position));
    // The stall watch reads the position as queried, past an estimated
    // length too; a query that keeps failing (-1) stands still as well.
    if (runRequested_) watched_ = seconds(position);
    return lastPosition_;
}

std::int64_t GstGraph::beforeEnd(std::int64_t positionNs) const {
    // Only the end of stream may make the position equal the length: a
    // length the container merely estimates can be shorter than the sound,
    // and reading it early would end a transmission while the file plays.
    return std::clamp<std::int64_t>(positionNs, 0, durationNs_ - 1);
}

void GstGraph::seekTo(std::int64_t positionNs) {
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    if (!gst_element_seek(playbin_, rate_, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, positionNs, GST_SEEK_TYPE_SET,
                          static_cast<std::int64_t>(GST_CLOCK_TIME_NONE)))
        fail("Cannot seek to " + std::to_string(seconds(positionNs)) +
             " s: " + pendingError(bus_, "the pipeline refused the seek"));
    ended_ = false;
    endTime_.reset();
    lastPosition_ = seconds(beforeEnd(positionNs));
    pendingSeek_ = lastPosition_;
    pendingSeekUntil_ = Clock::now() + kSeekReportLimit;
}

void GstGraph::SetCurrentPosition(double target) {
    pollBus();
    requireRendered("CurrentPosition");
    if (!std::isfinite(target)) fail("Cannot seek to a position that is not a number");
    if (!playbackError_.empty()) reopenAfterError();
    const double clamped = std::clamp(target, 0.0, duration_);
    seekTo(std::min(static_cast<std::int64_t>(std::llround(clamped * GST_SECOND)), durationNs_));
}

void GstGraph::SetRate(double factor) {
    pollBus();
    requireRendered("Rate");
    if (factor == rate_) return;
    rate_ = factor;
    // At the end (or broken) the rate waits for the next seek, which
    // always carries it; seeking now would leave the end.
    if (ended_ || !playbackError_.empty()) return;
    const double from = pendingSeek_ ? *pendingSeek_ : CurrentPosition();
    seekTo(std::min(static_cast<std::int64_t>(std::llround(from * GST_SECOND)), durationNs_));
}

void GstGraph::SetVolume(long hundredthsDb) {
    pollBus();
    const double factor = hundredthsDb == -10000 ? 0.0 : std::pow(10.0, static_cast<double>(hundredthsDb) / 2000.0);
    double current = 0;
    g_object_get(volume_, "volume", &current, nullptr);
    if (factor == current) return;
    g_object_set(volume_, "volume", factor, nullptr);
    remakeHeldSound();
}

void GstGraph::SetBalance(long hundredthsDb) {
    pollBus();
    // audiopanorama's simple method scales the right channel by 1 + p for
    // p < 0 and the left one by 1 - p for p > 0.
    const long magnitude = std::labs(hundredthsDb);
    const double kept = magnitude == 10000 ? 0.0 : std::pow(10.0, -static_cast<double>(magnitude) / 2000.0);
    const auto pan = static_cast<gfloat>(hundredthsDb < 0 ? -(1.0 - kept) : 1.0 - kept);
    gfloat current = 0;
    g_object_get(panorama_, "panorama", &current, nullptr);
    if (pan == current) return;
    g_object_set(panorama_, "panorama", pan, nullptr);
    remakeHeldSound();
}

void GstGraph::remakeHeldSound() {
    // The filter works ahead of the output: playbin queues up to a second of
    // filtered sound behind it, and a paused graph holds what it has made
    // (after a render, the file's start) to play first on Run. A paused
    // graph therefore makes that sound again from where it stands, so that
    // not one sample of it goes out at the old level. A playing graph is
    // left alone: a seek there would break the sound on the air.
    if (!rendered_ || runRequested_ || ended_ || !playbackError_.empty()) return;
    try {
        const double from = pendingSeek_ ? *pendingSeek_ : CurrentPosition();
        seekTo(std::min(static_cast<std::int64_t>(std::llround(from * GST_SECOND)), durationNs_));
    } catch (const Failure&) {
        // The new level is set; only the held sound keeps the old one.
    }
}

std::optional<Clock::time_point> GstGraph::endOfStreamTime() {
    pollBus();
    return endTime_;
}

std::unique_ptr<MediaGraph> GstGraphFactory::create() {
    static std::once_flag once;
    static std::string initError;
    std::call_once(once, [] {
        GError* error = nullptr;
        if (!gst_init_check(nullptr, nullptr, &error)) {
            initError = error != nullptr ? error->message : "gst_init failed";
            if (error != nullptr) g_error_free(error);
            if (initError.empty()) initError = "gst_init failed";
        }
    });
    if (!initError.empty()) raise("GStreamer cannot be initialised: " + initError);
    return std::make_unique<GstGraph>();
}

}  // namespace tarnwick
