// The GStreamer graph against a real PulseAudio server (support/with-session.sh
// --pulse): it plays generated files into the private null sink and checks
// what the sink's monitor recorded. The test tone is a sine at half of full
// scale, whose RMS is 32767 * 0.5 / sqrt(2), about 11585.
#include "platform/linux/gst_graph.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "base/errors.h"
#include "linux/gst_audio.h"
#include "shared/graph_contract.h"
#include "station/guarded_graph.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using test::MonitorRecording;
using test::Sound;
using Clock = std::chrono::steady_clock;

constexpr double kToneRms = 11585;
// How far a recorded sound's length may be from the file's: the recording
// loses nothing and is timed within 5 ms (tests/air), and Sound counts whole
// 10 ms windows, so each end may add up to one window.
constexpr double kLengthTolerance = 0.0205;  // two windows, and a hair for rounding

// Waits, looking every 10 ms, until `done` holds; false if `limit` passed first.
bool waitFor(const std::function<bool()>& done, Clock::duration limit = 10s) {
    const auto until = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class GstGraphTest : public ::testing::Test {
protected:
    struct Media {
        test::TempDir dir;
        std::string tone = test::makeTone(dir, "tone.wav", 2, 2);
        std::string shortTone = test::makeTone(dir, "short.wav", 0.5, 2);
        std::string shortMono = test::makeTone(dir, "mono.wav", 0.5, 1);
        std::string longTone = test::makeTone(dir, "long.wav", 12.5, 2);
    };
    static void SetUpTestSuite() { media_ = std::make_unique<Media>(); }
    static void TearDownTestSuite() { media_.reset(); }
    void SetUp() override {
        ASSERT_NE(std::getenv("PULSE_SERVER"), nullptr) << "run under tests/support/with-session.sh --pulse";
        ASSERT_FALSE(media().tone.empty()) << "sox could not make the test tones";
    }
    static const Media& media() { return *media_; }

    static std::unique_ptr<MediaGraph> load(const std::string& path) {
        auto graph = factory_.create();
        graph->RenderFile(path);
        return graph;
    }
    // Starts the file as a transmission does (Run, then position 0).
    static void start(MediaGraph& graph) {
        graph.Run();
        graph.SetCurrentPosition(0);
    }
    // Starts it and reads the position as the progress tick does until it
    // reads the length.
    static bool playToEnd(MediaGraph& graph) {
        start(graph);
        return waitFor([&] { return graph.CurrentPosition() == graph.Duration(); }, 20s);
    }
    static MonitorRecording record(const std::string& name) {
        return MonitorRecording(media().dir.file("rec-" + name));
    }
    // Plays the file to its end while recording the sink.
    static Sound playRecorded(MediaGraph& graph, const std::string& name) {
        MonitorRecording recording = record(name);
        EXPECT_TRUE(recording.running()) << "parec did not start";
        EXPECT_TRUE(playToEnd(graph)) << "the end of " << name << " was not reached";
        return test::measure(recording.stop());
    }

    // The graph as the program gets it, and the contract's view of it.
    static test::GraphBench bench() {
        const auto sleep = [](MonoTime d) { std::this_thread::sleep_for(d); };
        test::GraphBench b{factory_, clock_, media().tone, media().longTone, media().dir.file("missing.wav"), sleep};
        b.endStamp = [](MediaGraph& graph, bool ended) {
            auto& gst = dynamic_cast<GstGraph&>(dynamic_cast<GuardedGraph&>(graph).inner());
            EXPECT_EQ(gst.endOfStreamTime().has_value(), ended);
        };
        return b;
    }

    static inline test::MonotonicClock clock_;
    static inline GstGraphFactory backend_;
    static inline GuardedGraphFactory factory_{backend_, clock_};
    static inline std::unique_ptr<Media> media_;
};

TEST_F(GstGraphTest, AGraphWithoutAFileRefusesToPlay) { test::aGraphWithoutAFileRefusesToPlay(bench()); }

TEST_F(GstGraphTest, ValuesOutOfRangeAreRefused) { test::valuesOutOfRangeAreRefused(bench()); }

// The file is heard twice: to its end, and again after the rewind.
TEST_F(GstGraphTest, TheEndReadsExactlyTheLengthUntilASeekReplaysIt) {
    MonitorRecording recording = record("twice.wav");
    test::theEndReadsExactlyTheLengthUntilASeek(bench());
    const Sound sound = test::measure(recording.stop());
    ASSERT_TRUE(sound.readable);
    EXPECT_NEAR(sound.soundingSeconds, 4.0, 2 * kLengthTolerance) << "the file twice";
    EXPECT_NEAR(sound.leftRms, kToneRms, kToneRms * 0.1);
    EXPECT_NEAR(sound.rightRms, kToneRms, kToneRms * 0.1);
}

// Volume scales the amplitude by 10^(volume/2000); balance lowers the other
// channel alike, for mono files too.
TEST_F(GstGraphTest, VolumeAndBalanceScaleTheChannels) {
    auto graph = load(media().shortTone);
    const Sound full = playRecorded(*graph, "volume0.wav");
    graph->SetVolume(-600);
    const Sound half = playRecorded(*graph, "volume-600.wav");
    graph->SetVolume(-10000);
    const Sound silent = playRecorded(*graph, "volume-10000.wav");
    ASSERT_TRUE(full.readable && half.readable && silent.readable);
    EXPECT_NEAR(full.leftRms, kToneRms, kToneRms * 0.1);
    EXPECT_NEAR(half.leftRms / full.leftRms, 0.501, 0.025);
    EXPECT_NEAR(half.rightRms / full.rightRms, 0.501, 0.025);
    EXPECT_EQ(silent.soundingSeconds, 0);

    graph->SetVolume(0);
    graph->SetBalance(-10000);
    const Sound leftOnly = playRecorded(*graph, "balance-10000.wav");
    graph->SetBalance(10000);
    const Sound rightOnly = playRecorded(*graph, "balance10000.wav");
    graph->SetBalance(-600);
    const Sound rightLowered = playRecorded(*graph, "balance-600.wav");
    EXPECT_NEAR(leftOnly.leftRms, kToneRms, kToneRms * 0.1);
    EXPECT_LT(leftOnly.rightRms, leftOnly.leftRms * 0.01);
    EXPECT_NEAR(rightOnly.rightRms, kToneRms, kToneRms * 0.1);
    EXPECT_LT(rightOnly.leftRms, rightOnly.rightRms * 0.01);
    EXPECT_NEAR(rightLowered.leftRms, kToneRms, kToneRms * 0.1);
    EXPECT_NEAR(rightLowered.rightRms / rightLowered.leftRms, 0.501, 0.025);

    auto mono = load(media().shortMono);
    const Sound centre = playRecorded(*mono, "mono.wav");
    mono->SetBalance(-10000);
    const Sound monoLeft = playRecorded(*mono, "mono-left.wav");
    EXPECT_NEAR(centre.soundingSeconds, 0.5, kLengthTolerance);
    EXPECT_NEAR(centre.rightRms, centre.leftRms, centre.leftRms * 0.03);
    EXPECT_NEAR(monoLeft.leftRms, centre.leftRms, centre.leftRms * 0.05);
    EXPECT_LT(monoLeft.rightRms, monoLeft.leftRms * 0.01);
}

// A level set on a paused graph holds from the first sample Run plays: the
// sound the graph already made (the file's start after a render, what it
// made ahead before a Stop) is made again, never played at the old level.
TEST_F(GstGraphTest, ALevelSetWhilePausedHoldsFromTheFirstSample) {
    const double quarter = kToneRms * 0.2512;  // -1200

    auto fresh = load(media().tone);
    fresh->SetVolume(-1200);
    fresh->SetBalance(-600);
    MonitorRecording first = record("paused-render.wav");
    fresh->Run();  // Resume right after a load: no rewind to flush anything
    ASSERT_TRUE(waitFor([&] { return fresh->CurrentPosition() == fresh->Duration(); }));
    const Sound loaded = test::measure(first.stop());
    EXPECT_NEAR(loaded.leftRms, quarter, quarter * 0.06);
    EXPECT_NEAR(loaded.rightRms, quarter * 0.501, quarter * 0.03);
    EXPECT_LT(loaded.loudestRms, quarter * 1.06) << "the file's start went out at full level";

    auto stopped = load(media().tone);
    start(*stopped);
    ASSERT_TRUE(waitFor([&] { return stopped->CurrentPosition() >= 0.5; }));
    stopped->Stop();
    const double at = stopped->CurrentPosition();
    stopped->SetVolume(-1200);
    MonitorRecording second = record("paused-stop.wav");
    stopped->Run();
    ASSERT_TRUE(waitFor([&] { return stopped->CurrentPosition() == stopped->Duration(); }));
    const Sound resumed = test::measure(second.stop());
    EXPECT_NEAR(resumed.leftRms, quarter, quarter * 0.06);
    EXPECT_LT(resumed.loudestRms, quarter * 1.06) << "sound made before the Stop went out at the old level";
    EXPECT_NEAR(resumed.soundingSeconds, 2.0 - at, 0.15) << "the rest of the file, neither cut nor repeated";
}

TEST_F(GstGraphTest, ATwelveAndAHalfSecondFileLastsThatLongAndRateTwoHalvesItsPlayingTime) {
    auto graph = load(media().longTone);
    EXPECT_NEAR(graph->Duration(), 12.5, 0.001);
    graph->SetRate(2.0);  // before the start, as the speed bar may be; the start's rewind carries it
    MonitorRecording recording = record("rate2.wav");
    const auto started = Clock::now();
    ASSERT_TRUE(playToEnd(*graph));
    const double wall = std::chrono::duration<double>(Clock::now() - started).count();
    EXPECT_EQ(graph->CurrentPosition(), graph->Duration());
    EXPECT_NEAR(test::measure(recording.stop()).soundingSeconds, 6.25, kLengthTolerance);
    EXPECT_GT(wall, 5.0);
    EXPECT_LT(wall, 9.5) << "at normal speed it would take 12.5 s";
}

// The sound server stops taking sound: the position stands still.
TEST_F(GstGraphTest, APlaybackThatStallsCountsAsEndedSoNothingStaysKeyed) {
    test::aStalledPlaybackCountsAsEnded(
        bench(), [] { ASSERT_EQ(std::system("pactl suspend-sink radio 1"), 0); },
        [] { std::system("pactl suspend-sink radio 0"); });
}

// Released while it plays, with no Stop first, the graph falls silent at once.
TEST_F(GstGraphTest, StopKeepsThePositionRunContinuesAndReleasingSilencesAtOnce) {
    test::stopKeepsThePositionAndRunPlaysOn(bench());
    auto graph = load(media().tone);
    start(*graph);
    waitFor([&] { return graph->CurrentPosition() >= 0.3; }, 5s);
    graph.reset();
    MonitorRecording recording = record("released.wav");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(test::measure(recording.stop()).soundingSeconds, 0);
}

// What cannot be played fails to render, naming the file; pictures at least
// neither hang nor crash; and without any audio output the render fails
// instead of playing into nowhere.
TEST_F(GstGraphTest, FilesThatCannotBePlayedFailToRenderAndPicturesDoNotHang) {
    const std::string notAudio = media().dir.file("notes.wav");
    test::shell("echo 'Station notes: this is text, not sound.' > " + test::quoted(notAudio));
    for (const std::string& path : {media().dir.file("missing.wav"), notAudio}) {
        auto graph = factory_.create();
        try {
            graph->RenderFile(path);
            ADD_FAILURE() << path << " rendered";
        } catch (const Failure& failure) {
            EXPECT_NE(failure.description().find(path), std::string::npos) << failure.description();
        }
    }
    for (const char* extension : {"bmp", "jpg"}) {
        const std::string path = test::makePicture(media().dir, extension);
        ASSERT_FALSE(path.empty());
        auto graph = factory_.create();
        const auto started = Clock::now();
        try {
            graph->RenderFile(path);
            EXPECT_TRUE(playToEnd(*graph)) << path;  // should GStreamer find something to play
        } catch (const Failure&) {
        }
        EXPECT_LT(Clock::now() - started, 25s) << path;
    }
}

// Sets an environment variable for the life of the object.
struct ScopedEnv {
    ScopedEnv(const char* name, const char* value) : name(name) {
        if (const char* was = std::getenv(name)) old = was;
        setenv(name, value, 1);
    }
    ~ScopedEnv() { old ? setenv(name, old->c_str(), 1) : unsetenv(name); }
    const char* name;
    std::optional<std::string> old;
};

TEST_F(GstGraphTest, WithoutASoundServerRenderFailsInsteadOfPlayingIntoNowhere) {
    ScopedEnv noServer("PULSE_SERVER", "unix:/nonexistent/tarnwick-no-server");
    ScopedEnv noAlsa("ALSA_CONFIG_PATH", "/nonexistent/tarnwick-no-alsa.conf");
    auto graph = factory_.create();
    const auto started = Clock::now();
    try {
        graph->RenderFile(media().tone);
        ADD_FAILURE() << "rendered without any audio output";
    } catch (const Failure& failure) {
        EXPECT_NE(failure.description().find("audio output"), std::string::npos) << failure.description();
    }
    EXPECT_LT(Clock::now() - started, 15s);
}

// Every kind of file the window offers that carries sound plays to its end.
struct Format {
    const char* name;
    double seconds;  // how long it sounds
};

class GstGraphFormatTest : public GstGraphTest, public ::testing::WithParamInterface<Format> {};

TEST_P(GstGraphFormatTest, PlaysItsSoundToTheEnd) {
    const Format format = GetParam();
    const std::string name = format.name;
    const std::string path =
        name == "mid" ? test::makeMidi(media().dir) : test::makeEncoded(media().dir, media().tone, name);
    ASSERT_FALSE(path.empty()) << "could not make the ." << name << " file";
    auto graph = load(path);
    EXPECT_NEAR(graph->Duration(), format.seconds, 0.65);  // containers that estimate their length may be off
    const Sound sound = playRecorded(*graph, "format-" + name + ".wav");
    EXPECT_EQ(graph->CurrentPosition(), graph->Duration());
    EXPECT_NEAR(sound.soundingSeconds, format.seconds, kLengthTolerance);
    EXPECT_GT(sound.leftRms, 500);
    EXPECT_GT(sound.rightRms, 500);
}

INSTANTIATE_TEST_SUITE_P(Formats, GstGraphFormatTest,
                         ::testing::Values(Format{"mp2", 2.0}, Format{"mp3", 2.0}, Format{"mid", 1.0},
                                           Format{"mpg", 2.0}, Format{"avi", 2.0}),
                         [](const ::testing::TestParamInfo<Format>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnwick
