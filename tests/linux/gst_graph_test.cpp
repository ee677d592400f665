// The GStreamer graph against a real PulseAudio server (support/with-session.sh
// --pulse): it plays generated files into the private null sink and checks
// what the sink's monitor recorded.
#include "platform/linux/gst_graph.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "base/errors.h"
#include "linux/gst_audio.h"
#include "shared/sound_contract.h"
#include "station/guarded_graph.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using test::kToneRms;
using test::Sound;
using Clock = std::chrono::steady_clock;

class GstGraphTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        media_ = std::make_unique<test::TempDir>();
        made_ = test::makeMedia(*media_);
    }
    static void TearDownTestSuite() { media_.reset(); }
    void SetUp() override {
        ASSERT_NE(std::getenv("PULSE_SERVER"), nullptr) << "run under tests/support/with-session.sh --pulse";
        ASSERT_TRUE(made_) << "the test media could not be made";
        for (const char* name :
             {"tone.wav", "short.wav", "mono.wav", "long.wav", "notes.wav", "picture.bmp", "picture.jpg"})
            ASSERT_TRUE(std::filesystem::exists(file(name))) << "could not make " << name;
    }

    // The graph as the program gets it, and the contracts' view of it.
    static test::SoundBench bench() {
        const auto sleep = [](MonoTime d) { std::this_thread::sleep_for(d); };
        test::SoundBench b{{factory_, clock_, file("tone.wav"), file("long.wav"), file("missing.wav"), sleep}};
        b.graph.endStamp = [](MediaGraph& graph, bool ended) {
            auto& gst = dynamic_cast<GstGraph&>(dynamic_cast<GuardedGraph&>(graph).inner());
            EXPECT_EQ(gst.endOfStreamTime().has_value(), ended);
        };
        b.path = file;
        b.record = [](const std::string& name) {
            return std::make_unique<test::MonitorRecording>(file("rec-" + name + ".wav"));
        };
        return b;
    }
    static std::string file(const std::string& name) { return media_->file(name); }

    static inline test::MonotonicClock clock_;
    static inline GstGraphFactory backend_;
    static inline GuardedGraphFactory factory_{backend_, clock_};
    static inline std::unique_ptr<test::TempDir> media_;
    static inline bool made_ = false;
};

TEST_F(GstGraphTest, AGraphWithoutAFileRefusesToPlay) { test::aGraphWithoutAFileRefusesToPlay(bench().graph); }

TEST_F(GstGraphTest, ValuesOutOfRangeAreRefused) { test::valuesOutOfRangeAreRefused(bench().graph); }

TEST_F(GstGraphTest, TheFileIsHeardToItsEndAndAgainAfterTheRewind) {
    test::theFileIsHeardToItsEndAndAgainAfterTheRewind(bench());
}

TEST_F(GstGraphTest, VolumeAndBalanceScaleEachChannel) { test::volumeAndBalanceScaleEachChannel(bench()); }

// A level set on a paused graph holds from the first sample Run plays: the
// sound the graph already made (the file's start after a render, what it
// made ahead before a Stop) is made again, never played at the old level.
TEST_F(GstGraphTest, ALevelSetWhilePausedHoldsFromTheFirstSample) {
    const test::SoundBench b = bench();
    const double quarter = kToneRms * 0.2512;  // -1200
    const auto toTheEnd = [&](MediaGraph& graph) {
        return b.graph.waitFor([&] { return graph.CurrentPosition() == graph.Duration(); }, 10s);
    };

    auto fresh = b.load("short.wav");
    fresh->SetVolume(-1200);
    fresh->SetBalance(-600);
    auto first = b.record("paused-render");
    fresh->Run();  // Resume right after a load: no rewind to flush anything
    ASSERT_TRUE(toTheEnd(*fresh));
    const Sound loaded = first->stop();
    EXPECT_NEAR(loaded.leftRms, quarter, quarter * 0.06);
    EXPECT_NEAR(loaded.rightRms, quarter * 0.501, quarter * 0.03);
    EXPECT_LT(loaded.loudestRms, quarter * 1.06) << "the file's start went out at full level";

    auto stopped = b.load("short.wav");
    test::startAsATransmission(*stopped);
    ASSERT_TRUE(b.graph.waitFor([&] { return stopped->CurrentPosition() >= 0.5; }, 10s));
    stopped->Stop();
    const double at = stopped->CurrentPosition();
    stopped->SetVolume(-1200);
    auto second = b.record("paused-stop");
    stopped->Run();
    ASSERT_TRUE(toTheEnd(*stopped));
    const Sound resumed = second->stop();
    EXPECT_NEAR(resumed.leftRms, quarter, quarter * 0.06);
    EXPECT_LT(resumed.loudestRms, quarter * 1.06) << "sound made before the Stop went out at the old level";
    EXPECT_NEAR(resumed.soundingSeconds, 1.0 - at, 0.15) << "the rest of the file, neither cut nor repeated";
}

TEST_F(GstGraphTest, RateTwoHalvesThePlayingTime) { test::rateTwoHalvesThePlayingTime(bench()); }

// The sound server stops taking sound: the position stands still.
TEST_F(GstGraphTest, APlaybackThatStallsCountsAsEndedSoNothingStaysKeyed) {
    test::aStalledPlaybackCountsAsEnded(
        bench().graph, [] { ASSERT_EQ(std::system("pactl suspend-sink radio 1"), 0); },
        [] { std::system("pactl suspend-sink radio 0"); });
}

TEST_F(GstGraphTest, StopKeepsThePositionRunContinuesAndReleasingSilencesAtOnce) {
    const test::SoundBench b = bench();
    test::stopKeepsThePositionAndRunPlaysOn(b.graph);
    auto graph = b.load("tone.wav");
    test::startAsATransmission(*graph);
    b.graph.waitFor([&] { return graph->CurrentPosition() >= 0.3; }, 5s);
    test::releasingAPlayingGraphSilencesItAtOnce(b, std::move(graph));
}

TEST_F(GstGraphTest, WhatCannotBePlayedFailsToRenderAndPicturesDoNotHang) {
    test::whatCannotBePlayedFailsAndPicturesDoNotHang(bench());
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
        graph->RenderFile(file("tone.wav"));
        ADD_FAILURE() << "rendered without any audio output";
    } catch (const Failure& failure) {
        EXPECT_NE(failure.description().find("audio output"), std::string::npos) << failure.description();
    }
    EXPECT_LT(Clock::now() - started, 15s);
}

// Every kind of file the window offers that carries sound plays to its end.
class GstGraphFormatTest : public GstGraphTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(GstGraphFormatTest, PlaysItsSoundToTheEnd) {
    const std::string name = GetParam();
    ASSERT_TRUE(std::filesystem::exists(file(name))) << "could not make " << name;
    const test::SoundBench b = bench();
    test::playsItsSoundToTheEnd(b, *b.load(name), name, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Formats, GstGraphFormatTest,
                         ::testing::Values("tone.mp2", "tone.mp3", "note.mid", "tone.mpg", "tone.avi"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             name[name.find('.')] = '_';
                             return name;
                         });

}  // namespace
}  // namespace tarnwick
