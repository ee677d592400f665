// The GStreamer graph against a real PulseAudio server (support/with-session.sh
// --pulse): it plays generated files into the private null sink and checks
// what the sink's monitor recorded. The test tone is a sine at half of full
// scale, whose RMS is 32767 * 0.5 / sqrt(2), about 11585.
#include "platform/linux/gst_graph.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <tuple>

#include "base/errors.h"
#include "shared/graph_contract.h"
#include "shared/wav_measure.h"
#include "station/guarded_graph.h"

extern char** environ;

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using test::Sound;
using Clock = std::chrono::steady_clock;

constexpr double kToneRms = 11585;
// How far a recorded sound's length may be from the file's: the recording
// loses nothing and is timed within 5 ms (tests/air), and Sound counts whole
// 10 ms windows, so each end may add up to one window.
constexpr double kLengthTolerance = 0.0205;  // two windows, and a hair for rounding

bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// Records the sink's monitor from construction to stop(). parec needs a
// moment to connect, and the last samples reach the monitor a little after
// the player is done. It records at 1 ms: the null sink then renders at most
// 1 ms ahead, and what it renders again when a stream starts never reaches
// the monitor.
class MonitorRecording {
public:
    explicit MonitorRecording(std::string path) : path_(std::move(path)) {
        const char* argv[] = {"parec",        "-d",           "radio.monitor",    "--file-format=wav", "--format=s16le",
                              "--rate=44100", "--channels=2", "--latency-msec=1", path_.c_str(),       nullptr};
        if (posix_spawnp(&pid_, "parec", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) pid_ = -1;
        std::this_thread::sleep_for(400ms);
        if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) != 0) pid_ = -1;  // it has already given up
        EXPECT_GT(pid_, 0) << "parec did not start";
    }
    ~MonitorRecording() { stop(); }
    Sound stop() {
        if (pid_ > 0) {
            std::this_thread::sleep_for(400ms);
            kill(pid_, SIGINT);  // parec completes the wav header
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        return test::measure(path_);
    }

private:
    std::string path_;
    pid_t pid_ = -1;
};

class GstGraphTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char name[] = "/tmp/tarnwick-gst-XXXXXX";
        dir_ = mkdtemp(name) != nullptr ? name : "";
        for (auto [file, seconds, channels] :
             {std::tuple{"tone.wav", 2.0, 2}, {"short.wav", 0.5, 2}, {"mono.wav", 0.5, 1}, {"long.wav", 12.5, 2}})
            shell("sox -n -r 44100 -b 16 -c " + std::to_string(channels) + " " + media(file) + " synth " +
                  std::to_string(seconds) + " sine 1000 vol 0.5");
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }
    void SetUp() override {
        ASSERT_NE(std::getenv("PULSE_SERVER"), nullptr) << "run under tests/support/with-session.sh --pulse";
        ASSERT_TRUE(std::filesystem::exists(media("long.wav"))) << "sox could not make the test tones";
    }
    static std::string media(const std::string& name) { return dir_ + "/" + name; }

    static std::unique_ptr<MediaGraph> load(const std::string& name) {
        auto graph = factory_.create();
        graph->RenderFile(media(name));
        return graph;
    }
    static bool waitFor(const std::function<bool()>& done) { return bench().waitFor(done, 20s); }
    static bool atEnd(MediaGraph& graph) { return graph.CurrentPosition() == graph.Duration(); }
    // Plays the file to its end as a transmission does while recording the sink.
    static Sound playRecorded(MediaGraph& graph, const std::string& name) {
        MonitorRecording recording(media("rec-" + name));
        test::startAsATransmission(graph);
        EXPECT_TRUE(waitFor([&] { return atEnd(graph); })) << "the end of " << name << " was not reached";
        return recording.stop();
    }

    // The graph as the program gets it, and the contract's view of it.
    static test::GraphBench bench() {
        const auto sleep = [](MonoTime d) { std::this_thread::sleep_for(d); };
        test::GraphBench b{factory_, clock_, media("tone.wav"), media("long.wav"), media("missing.wav"), sleep};
        b.endStamp = [](MediaGraph& graph, bool ended) {
            auto& gst = dynamic_cast<GstGraph&>(dynamic_cast<GuardedGraph&>(graph).inner());
            EXPECT_EQ(gst.endOfStreamTime().has_value(), ended);
        };
        return b;
    }

    static inline std::string dir_;
    static inline test::MonotonicClock clock_;
    static inline GstGraphFactory backend_;
    static inline GuardedGraphFactory factory_{backend_, clock_};
};

TEST_F(GstGraphTest, RefusesWithoutAFileAndOutOfRange) {
    test::aGraphWithoutAFileRefusesToPlay(bench());
    test::valuesOutOfRangeAreRefused(bench());
}

// The file is heard twice: to its end, and again after the rewind.
TEST_F(GstGraphTest, TheEndReadsExactlyTheLengthUntilASeekReplaysIt) {
    MonitorRecording recording(media("rec-twice.wav"));
    test::theEndReadsExactlyTheLengthUntilASeek(bench());
    const Sound sound = recording.stop();
    ASSERT_TRUE(sound.readable);
    EXPECT_NEAR(sound.soundingSeconds, 4.0, 2 * kLengthTolerance) << "the file twice";
    EXPECT_NEAR(sound.leftRms, kToneRms, kToneRms * 0.1);
    EXPECT_NEAR(sound.rightRms, kToneRms, kToneRms * 0.1);
}

// Volume scales the amplitude by 10^(volume/2000); balance lowers the other
// channel alike. Each level is set on a freshly rendered graph, which holds
// the file's start made ahead: that must go out at the new level too.
TEST_F(GstGraphTest, VolumeAndBalanceScaleTheChannelsFromTheFirstSample) {
    const auto gain = [](long db) { return db <= -10000 ? 0.0 : std::pow(10.0, db / 2000.0); };
    for (auto [volume, balance] : {std::pair{0L, 0L},
                                   {-600L, 0L},
                                   {-10000L, 0L},
                                   {0L, -10000L},
                                   {0L, 10000L},
                                   {-1200L, -600L},
                                   {-1200L, 600L}}) {
        SCOPED_TRACE("volume " + std::to_string(volume) + " balance " + std::to_string(balance));
        auto graph = load("short.wav");
        graph->SetVolume(volume);
        graph->SetBalance(balance);
        MonitorRecording recording(media("rec-level.wav"));
        graph->Run();  // Resume right after a load: no rewind to flush anything
        ASSERT_TRUE(waitFor([&] { return atEnd(*graph); }));
        const Sound sound = recording.stop();
        const double left = kToneRms * gain(volume) * gain(std::min(0L, -balance));
        const double right = kToneRms * gain(volume) * gain(std::min(0L, balance));
        if (left == 0 && right == 0) {
            EXPECT_EQ(sound.soundingSeconds, 0);
            continue;
        }
        EXPECT_NEAR(sound.soundingSeconds, 0.5, kLengthTolerance);
        EXPECT_NEAR(sound.leftRms, left, left * 0.06 + 30);
        EXPECT_NEAR(sound.rightRms, right, right * 0.06 + 30);
        EXPECT_LT(sound.loudestRms, std::max(left, right) * 1.06) << "the file's start went out at the old level";
    }

    // A mono file is spread over both channels, and balance acts on it alike.
    auto mono = load("mono.wav");
    const Sound centre = playRecorded(*mono, "mono.wav");
    mono->SetBalance(-10000);
    const Sound monoLeft = playRecorded(*mono, "mono-left.wav");
    EXPECT_NEAR(centre.soundingSeconds, 0.5, kLengthTolerance);
    EXPECT_NEAR(centre.rightRms, centre.leftRms, centre.leftRms * 0.03);
    EXPECT_NEAR(monoLeft.leftRms, centre.leftRms, centre.leftRms * 0.05);
    EXPECT_LT(monoLeft.rightRms, monoLeft.leftRms * 0.01);
}

// A level set while stopped holds from the first sample Run plays (what the
// graph made ahead before the Stop is made again); the rest of the file is
// heard, neither cut nor repeated, until the graph is released while it
// plays, with no Stop first: then it falls silent at once.
TEST_F(GstGraphTest, StopAndRunKeepThePlaceALevelSetMeanwhileAndReleaseSilences) {
    test::stopKeepsThePositionAndRunPlaysOn(bench());
    const double quarter = kToneRms * 0.2512;  // -1200
    auto graph = load("tone.wav");
    test::startAsATransmission(*graph);
    ASSERT_TRUE(waitFor([&] { return graph->CurrentPosition() >= 0.5; }));
    graph->Stop();
    const double stoppedAt = graph->CurrentPosition();
    graph->SetVolume(-1200);
    MonitorRecording recording(media("rec-stopped.wav"));
    graph->Run();
    ASSERT_TRUE(waitFor([&] { return graph->CurrentPosition() >= 1.4; }));
    const double releasedAt = graph->CurrentPosition();
    graph.reset();
    const Sound resumed = recording.stop();
    EXPECT_NEAR(resumed.leftRms, quarter, quarter * 0.06);
    EXPECT_LT(resumed.loudestRms, quarter * 1.06) << "sound made before the Stop went out at the old level";
    EXPECT_NEAR(resumed.soundingSeconds, releasedAt - stoppedAt, 0.15)
        << "the rest of the file up to the release, neither cut, repeated nor "
           "played on after it";
}

TEST_F(GstGraphTest, ATwelveAndAHalfSecondFileLastsThatLongAndRateTwoHalvesItsPlayingTime) {
    auto graph = load("long.wav");
    EXPECT_NEAR(graph->Duration(), 12.5, 0.001);
    // Set before the start, as the speed bar may be; the start's rewind carries it.
    graph->SetRate(2.0);
    const auto started = Clock::now();
    const Sound sound = playRecorded(*graph, "rate2.wav");
    // With the recording's 0.8 s of lead-in and tail.
    const double wall = std::chrono::duration<double>(Clock::now() - started).count();
    EXPECT_NEAR(sound.soundingSeconds, 6.25, kLengthTolerance);
    EXPECT_GT(wall, 5.8);
    EXPECT_LT(wall, 10.3) << "at normal speed it would take 12.5 s";
}

// The sound server stops taking sound: the position stands still.
TEST_F(GstGraphTest, APlaybackThatStallsCountsAsEndedSoNothingStaysKeyed) {
    test::aStalledPlaybackCountsAsEnded(
        bench(), [] { ASSERT_TRUE(shell("pactl suspend-sink radio 1")); }, [] { shell("pactl suspend-sink radio 0"); });
}

// What cannot be played fails to render, naming the file, and in time (a
// picture has no sound); without any audio output the render fails instead
// of playing into nowhere.
TEST_F(GstGraphTest, WhatCannotBePlayedFailsToRender) {
    const auto renderFailure = [](const std::string& path) {
        const auto started = Clock::now();
        std::string what = "rendered";
        try {
            factory_.create()->RenderFile(path);
        } catch (const Failure& failure) {
            what = failure.description();
        }
        EXPECT_LT(Clock::now() - started, 15s) << path;
        return what;
    };
    ASSERT_TRUE(shell("echo 'Station notes: this is text, not sound.' > " + media("notes.wav")));
    ASSERT_TRUE(shell("convert -size 16x16 xc:steelblue " + media("picture.bmp")));
    ASSERT_TRUE(shell("convert -size 16x16 xc:steelblue " + media("picture.jpg")));
    for (const char* name : {"missing.wav", "notes.wav", "picture.bmp", "picture.jpg"}) {
        const std::string what = renderFailure(media(name));
        EXPECT_NE(what.find(media(name)), std::string::npos) << what;
    }

    const std::string server = std::getenv("PULSE_SERVER");
    setenv("PULSE_SERVER", "unix:/nonexistent/tarnwick-no-server", 1);
    setenv("ALSA_CONFIG_PATH", "/nonexistent/tarnwick-no-alsa.conf", 1);
    const std::string noOutput = renderFailure(media("tone.wav"));
    setenv("PULSE_SERVER", server.c_str(), 1);
    unsetenv("ALSA_CONFIG_PATH");
    EXPECT_NE(noOutput.find("audio output"), std::string::npos) << noOutput;
}

// Every kind of file the window offers that carries sound plays to its end:
// the 2 s tone encoded, or as the sound track of a small mpg (MPEG-2 video,
// MP2 audio) or avi (JPEG video, PCM audio), and a MIDI organ note of 1 s.
class GstGraphFormatTest : public GstGraphTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(GstGraphFormatTest, PlaysItsSoundToTheEnd) {
    const std::string format = GetParam(), path = media("tone." + format);
    const std::string audio = "filesrc location=" + media("tone.wav") + " ! wavparse ! audioconvert ! audioresample";
    const std::string video =
        " videotestsrc num-buffers=50 ! "
        "video/x-raw,width=352,height=288,framerate=25/1 ! ";
    const std::map<std::string, std::string> pipelines = {
        {"mp3", audio + " ! lamemp3enc ! filesink location=" + path},
        {"mp2", audio + " ! twolamemp2enc ! filesink location=" + path},
        {"mpg", "mpegpsmux name=mux ! filesink location=" + path + video + "mpeg2enc ! mpegvideoparse ! mux. " + audio +
                    " ! avenc_mp2 ! mpegaudioparse ! mux."},
        {"avi", "avimux name=mux ! filesink location=" + path + video + "jpegenc ! mux. " + audio + " ! mux."}};
    // Format 0, one track, 96 ticks a quarter note at the default 120 bpm: an
    // organ (it sustains, where a piano fades), A4 on at once, off 192 ticks
    // (1 s) later, end of track.
    const unsigned char midi[] = {'M',  'T',  'h',  'd',  0,    0,    0,    6,    0,  0,    0,    1,    0,
                                  96,   'M',  'T',  'r',  'k',  0,    0,    0,    16, 0,    0xC0, 0x13, 0,
                                  0x90, 0x45, 0x7F, 0x81, 0x40, 0x80, 0x45, 0x40, 0,  0xFF, 0x2F, 0};
    if (format == "mid")
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(midi), sizeof midi);
    else
        ASSERT_TRUE(shell("gst-launch-1.0 -q -e " + pipelines.at(format) + " >/dev/null")) << "cannot make " << path;
    const double seconds = format == "mid" ? 1.0 : 2.0;
    auto graph = load("tone." + format);
    // Containers that estimate their length may be a little off.
    EXPECT_NEAR(graph->Duration(), seconds, 0.65);
    const Sound sound = playRecorded(*graph, "format-" + format + ".wav");
    EXPECT_NEAR(sound.soundingSeconds, seconds, kLengthTolerance);
    EXPECT_GT(sound.leftRms, 500);
    EXPECT_GT(sound.rightRms, 500);
}

INSTANTIATE_TEST_SUITE_P(Formats, GstGraphFormatTest, ::testing::Values("mp2", "mp3", "mid", "mpg", "avi"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
}  // namespace tarnwick
