// The DirectShow graph against the real component: under Wine its quartz
// (decoding through GStreamer) playing into a private PulseAudio server's
// null sink, whose monitor the Linux side records (windows/dshow_media_run.sh,
// under support/with-session.sh --pulse --display).
//
// Levels: the test tone is a sine at half of full scale, whose RMS is
// 32767 * 0.5 / sqrt(2), about 11585.
#include "platform/windows/dshow_graph.h"

#include <float.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "window/errors.h"
#include "windows/dshow_audio.h"
#include "windows/win_support.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::media;
using testing::MonitorRecording;
using testing::Sound;

constexpr double kToneRms = 11585;

class DshowGraphTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(testing::mediaDir().empty()) << "run through tests/windows/dshow_media_run.sh";
        ASSERT_FALSE(media("tone.wav").empty()) << "sox could not make the test tones";
    }

    static std::unique_ptr<MediaGraph> load(const std::string& name) {
        auto graph = factory_.create();
        graph->RenderFile(media(name));
        return graph;
    }

    static std::optional<Clock::time_point> endSeen(MediaGraph& graph) {
        return dynamic_cast<DshowGraph&>(graph).endOfStreamTime();
    }

    // Starts the file as a transmission does (Run, then position 0) and
    // reads the position every 10 ms, as the progress tick does, until it
    // reads the length; false when that has not happened within `limit`.
    // The length must never be read before the component said the file has
    // ended: the transmission would be cut before its last sound.
    static bool playToEnd(MediaGraph& graph, Clock::duration limit = 30s) {
        graph.Run();
        graph.SetCurrentPosition(0);
        const auto until = Clock::now() + limit;
        for (;;) {
            const double position = graph.CurrentPosition();
            if (position == graph.Duration()) {
                EXPECT_TRUE(endSeen(graph).has_value()) << "the length was read before EC_COMPLETE";
                return true;
            }
            EXPECT_LT(position, graph.Duration());
            if (Clock::now() > until) return false;
            Sleep(10);
        }
    }

    // Plays the file to its end while recording the sink.
    static Sound playRecorded(MediaGraph& graph, const std::string& name) {
        MonitorRecording recording("recorded-" + name);
        EXPECT_TRUE(recording.running()) << "the recording agent did not answer";
        EXPECT_TRUE(playToEnd(graph)) << "the end of " << name << " was not reached";
        return testing::measure(recording.stop());
    }

    static inline DshowGraphFactory factory_;
};

TEST_F(DshowGraphTest, PlaysTheToneAndAtTheEndReadsExactlyTheDurationUntilASeekReplaysIt) {
    auto graph = load("tone.wav");
    EXPECT_DOUBLE_EQ(graph->Duration(), 2.0);

    MonitorRecording recording("recorded-twice");
    ASSERT_TRUE(playToEnd(*graph));
    const double length = graph->Duration();
    for (int read = 0; read < 30; ++read) {
        ASSERT_EQ(graph->CurrentPosition(), length) << "read " << read;
        Sleep(10);
    }
    // Resume after the end runs without leaving it.
    graph->Run();
    EXPECT_EQ(graph->CurrentPosition(), length);
    EXPECT_EQ(graph->Duration(), length);

    // Play again: the rewind leaves the end at once, so that the tick does
    // not end the new transmission, and the file is heard a second time.
    graph->Run();
    graph->SetCurrentPosition(0);
    EXPECT_LT(graph->CurrentPosition(), 0.5);
    EXPECT_FALSE(endSeen(*graph).has_value());
    Sleep(500);
    EXPECT_GT(graph->CurrentPosition(), 0.2);
    EXPECT_LT(graph->CurrentPosition(), length);
    const auto until = Clock::now() + 10s;
    while (graph->CurrentPosition() != length && Clock::now() < until) Sleep(10);
    EXPECT_EQ(graph->CurrentPosition(), length);

    const Sound sound = testing::measure(recording.stop());
    ASSERT_TRUE(sound.readable);
    EXPECT_NEAR(sound.soundingSeconds, 4.0, 0.35) << "the file twice";
    EXPECT_NEAR(sound.leftRms, kToneRms, kToneRms * 0.1);
    EXPECT_NEAR(sound.rightRms, kToneRms, kToneRms * 0.1);
}

TEST_F(DshowGraphTest, VolumeMinusSixHundredHalvesTheAmplitudeAndMinusTenThousandSilences) {
    auto graph = load("short.wav");
    const Sound full = playRecorded(*graph, "volume0");
    graph->SetVolume(-600);
    const Sound half = playRecorded(*graph, "volume-600");
    graph->SetVolume(-10000);
    const Sound silent = playRecorded(*graph, "volume-10000");

    ASSERT_TRUE(full.readable && half.readable && silent.readable);
    EXPECT_NEAR(full.leftRms, kToneRms, kToneRms * 0.1);
    // 10^(-600/2000) = 0.501; Wine's sound mixer scales by 2^(-600/600) = 0.5.
    EXPECT_NEAR(half.leftRms / full.leftRms, 0.501, 0.025);
    EXPECT_NEAR(half.rightRms / full.rightRms, 0.501, 0.025);
    EXPECT_EQ(silent.soundingSeconds, 0);
    // Out of the component's range: refused, and the volume stays.
    EXPECT_THROW(graph->SetVolume(1), Failure);
    EXPECT_THROW(graph->SetVolume(-10001), Failure);
}

TEST_F(DshowGraphTest, BalanceSilencesOrLowersTheOtherChannelAlsoForMonoFiles) {
    auto graph = load("short.wav");
    graph->SetBalance(-10000);
    const Sound leftOnly = playRecorded(*graph, "balance-10000");
    graph->SetBalance(10000);
    const Sound rightOnly = playRecorded(*graph, "balance10000");
    graph->SetBalance(-600);
    const Sound rightLowered = playRecorded(*graph, "balance-600");

    EXPECT_NEAR(leftOnly.leftRms, kToneRms, kToneRms * 0.1);
    EXPECT_LT(leftOnly.rightRms, leftOnly.leftRms * 0.01);
    EXPECT_NEAR(rightOnly.rightRms, kToneRms, kToneRms * 0.1);
    EXPECT_LT(rightOnly.leftRms, rightOnly.rightRms * 0.01);
    EXPECT_NEAR(rightLowered.leftRms, kToneRms, kToneRms * 0.1);
    EXPECT_NEAR(rightLowered.rightRms / rightLowered.leftRms, 0.501, 0.025);

    auto mono = load("mono.wav");
    const Sound centre = playRecorded(*mono, "mono");
    mono->SetBalance(-10000);
    const Sound monoLeft = playRecorded(*mono, "mono-left");
    EXPECT_GT(centre.soundingSeconds, 0.8);
    EXPECT_NEAR(centre.rightRms, centre.leftRms, centre.leftRms * 0.03);
    EXPECT_NEAR(monoLeft.leftRms, centre.leftRms, centre.leftRms * 0.05);
    EXPECT_LT(monoLeft.rightRms, monoLeft.leftRms * 0.01);
}

TEST_F(DshowGraphTest, ATwelveAndAHalfSecondFileReportsTwelveAndAHalfAndEndsExactlyThere) {
    auto graph = load("long.wav");
    EXPECT_DOUBLE_EQ(graph->Duration(), 12.5);
    const Sound sound = playRecorded(*graph, "long");
    EXPECT_EQ(graph->CurrentPosition(), 12.5);
    EXPECT_NEAR(sound.soundingSeconds, 12.5, 0.4);
}

TEST_F(DshowGraphTest, RateTwoHalvesThePlayingTime) {
    auto graph = load("tone.wav");
    // The speed is set before the start, as the speed bar may be.
    graph->SetRate(2.0);
    EXPECT_THROW(graph->SetRate(0), Failure);
    EXPECT_THROW(graph->SetRate(2.5), Failure);
    MonitorRecording recording("recorded-rate2");
    const auto started = Clock::now();
    ASSERT_TRUE(playToEnd(*graph));
    const double wall = std::chrono::duration<double>(Clock::now() - started).count();
    EXPECT_EQ(graph->CurrentPosition(), graph->Duration());
    const Sound sound = testing::measure(recording.stop());

    if (testing::underWine() && wall > 1.7) {
        // Wine's filter graph takes the rate and ignores it (its
        // IMediaSeeking::SetRate is a stub that answers S_OK): the file still
        // plays whole, at normal speed.
        EXPECT_NEAR(sound.soundingSeconds, 2.0, 0.3);
        GTEST_SKIP() << "Wine's quartz plays at normal speed whatever the rate (" << wall << " s for 2 s at rate 2)";
    }
    EXPECT_NEAR(sound.soundingSeconds, 1.0, 0.3);
    EXPECT_GT(wall, 0.8);
    EXPECT_LT(wall, 1.6) << "at normal speed it would take 2 s";
}

TEST_F(DshowGraphTest, StopHaltsRunPlaysOnAndReleasingSilencesAtOnce) {
    auto graph = load("tone.wav");
    graph->Run();
    graph->SetCurrentPosition(0);
    const auto until = Clock::now() + 5s;
    while (graph->CurrentPosition() < 0.6 && Clock::now() < until) Sleep(10);
    const double reached = graph->CurrentPosition();

    graph->Stop();
    // Where Stop leaves the position is the component's: where it was, or
    // (Wine's quartz) back at the start.
    const double stopped = graph->CurrentPosition();
    EXPECT_TRUE(stopped == 0 || (stopped >= 0.6 && stopped <= reached + 0.05)) << stopped;
    Sleep(400);
    EXPECT_NEAR(graph->CurrentPosition(), stopped, 0.02) << "the position moved while stopped";

    graph->Run();
    const auto later = Clock::now() + 5s;
    while (graph->CurrentPosition() < stopped + 0.3 && Clock::now() < later) Sleep(10);
    EXPECT_GE(graph->CurrentPosition(), stopped + 0.3);
    EXPECT_LT(graph->CurrentPosition(), graph->Duration());

    // Stop after the end: where the component rewinds, the end no longer
    // holds and Run plays the file to its end again.
    while (graph->CurrentPosition() != graph->Duration() && Clock::now() < later + 5s) Sleep(10);
    ASSERT_EQ(graph->CurrentPosition(), graph->Duration());
    graph->Stop();
    if (graph->CurrentPosition() < graph->Duration()) {
        graph->Run();
        Sleep(300);
        EXPECT_GT(graph->CurrentPosition(), 0.1);
        EXPECT_LT(graph->CurrentPosition(), graph->Duration());
        const auto again = Clock::now() + 5s;
        while (graph->CurrentPosition() != graph->Duration() && Clock::now() < again) Sleep(10);
        EXPECT_EQ(graph->CurrentPosition(), graph->Duration());
    }

    // Releasing the graph while it plays discards the playback, no Stop first.
    graph->Run();
    graph->SetCurrentPosition(0);
    Sleep(200);
    graph.reset();
    MonitorRecording recording("recorded-released");
    Sleep(300);
    EXPECT_EQ(testing::measure(recording.stop()).soundingSeconds, 0);
}

TEST_F(DshowGraphTest, AFileNameInTheAnsiCodePageIsFound) {
    if (GetACP() != 1252) GTEST_SKIP() << "the test name is written in code page 1252, this is " << GetACP();
    const std::string path = testing::mediaDir() + "\\t\xF4ne.wav";
    auto graph = factory_.create();
    graph->RenderFile(path);
    EXPECT_DOUBLE_EQ(graph->Duration(), 1.0);
}

TEST_F(DshowGraphTest, FilesThatCannotBePlayedFailToRenderWithTheirHresultNamingTheFile) {
    const std::string missing = testing::mediaDir() + "\\missing.wav";
    for (const std::string& path : {missing, media("notes.wav")}) {
        ASSERT_FALSE(path.empty());
        auto graph = factory_.create();
        try {
            graph->RenderFile(path);
            ADD_FAILURE() << path << " rendered";
        } catch (const Failure& failure) {
            EXPECT_LT(failure.number(), 0) << "a failed HRESULT";
            EXPECT_NE(failure.description().find(path), std::string::npos) << failure.description();
            EXPECT_NE(failure.description().find("(0x8"), std::string::npos) << failure.description();
        }
        // A graph that has rendered nothing plays nothing.
        EXPECT_THROW(graph->Run(), Failure);
        EXPECT_THROW(graph->CurrentPosition(), Failure);
        EXPECT_THROW(graph->Duration(), Failure);
    }
}

TEST_F(DshowGraphTest, PicturesNeitherHangNorCrashNorTakeTheThreadsPrecision) {
    const unsigned precision = _control87(0, 0) & _MCW_PC;
    for (const char* name : {"picture.bmp", "picture.jpg"}) {
        ASSERT_FALSE(media(name).empty()) << name;
        auto graph = factory_.create();
        const auto started = Clock::now();
        try {
            graph->RenderFile(media(name));
            // Should the component find something to play, it must at least
            // play to an end.
            EXPECT_TRUE(playToEnd(*graph, 20s)) << name;
        } catch (const Failure&) {
        }
        EXPECT_LT(Clock::now() - started, 25s) << name;
        // The picture's renderer set up Direct3D on this thread; every number
        // of the program must still have its 15 digits.
        EXPECT_EQ(_control87(0, 0) & _MCW_PC, precision) << name;
        volatile double one = 1.0;
        EXPECT_NE(one + 1e-10, 1.0) << name << ": single precision";
    }
}

// Run by the wrapper's second pass, with the sound server out of reach.
TEST(DshowGraphWithoutSoundServer, RenderFailsInsteadOfPlayingIntoNowhere) {
    if (GetEnvironmentVariableA("TARNWICK_DSHOW_NO_SOUND_SERVER", nullptr, 0) == 0)
        GTEST_SKIP() << "runs in dshow_media_run.sh's second pass, without a sound server";
    DshowGraphFactory factory;
    auto graph = factory.create();
    const auto started = Clock::now();
    try {
        graph->RenderFile(media("tone.wav"));
        ADD_FAILURE() << "rendered without any sound output";
    } catch (const Failure& failure) {
        EXPECT_LT(failure.number(), 0);
        EXPECT_NE(failure.description().find("tone.wav"), std::string::npos) << failure.description();
    }
    EXPECT_LT(Clock::now() - started, 15s);
}

// Every kind of file the window offers that carries sound.
struct Format {
    const char* file;
    double seconds;  // how long it sounds
};

class DshowGraphFormatTest : public DshowGraphTest, public ::testing::WithParamInterface<Format> {};

TEST_P(DshowGraphFormatTest, PlaysItsSoundToTheEnd) {
    const Format format = GetParam();
    const std::string file = format.file;
    ASSERT_FALSE(media(file).empty()) << "could not make " << file;
    if (testing::underWine() && (file == "tone.mpg" || file == "tone.avi"))
        GTEST_SKIP() << "under Wine a video's renderer on the virtual display holds the whole graph back (nothing "
                        "plays, not even the sound track, and no EC_COMPLETE comes) and releasing the graph hangs";
    auto graph = factory_.create();
    try {
        graph->RenderFile(media(file));
    } catch (const Failure& failure) {
        if (testing::underWine() && file == "note.mid")
            GTEST_SKIP() << "Wine's quartz has no MIDI synthesizer to render to: " << failure.description();
        FAIL() << failure.description();
    }
    // Containers that only estimate their length may be a little off.
    EXPECT_NEAR(graph->Duration(), format.seconds, 0.65);
    const Sound sound = playRecorded(*graph, std::string("format-") + format.file);
    EXPECT_EQ(graph->CurrentPosition(), graph->Duration());
    EXPECT_NEAR(sound.soundingSeconds, format.seconds, 0.5);
    EXPECT_GT(sound.leftRms, 500);
    EXPECT_GT(sound.rightRms, 500);
}

INSTANTIATE_TEST_SUITE_P(Formats, DshowGraphFormatTest,
                         ::testing::Values(Format{"tone.mp2", 2.0}, Format{"tone.mp3", 2.0}, Format{"note.mid", 1.0},
                                           Format{"tone.mpg", 2.0}, Format{"tone.avi", 2.0}),
                         [](const ::testing::TestParamInfo<Format>& info) {
                             std::string name = info.param.file;
                             return name.substr(name.find('.') + 1);
                         });

}  // namespace
}  // namespace tarnwick
