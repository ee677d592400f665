// The DirectShow graph against the real component: under Wine its quartz
// (decoding through GStreamer) playing into a private PulseAudio server's
// null sink. windows/dshow_media_run.sh makes the media and records the sink
// on request, which the program cannot do from inside Wine.
#include "platform/windows/dshow_graph.h"

#include <float.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "base/errors.h"
#include "shared/graph_contract.h"
#include "shared/wav_measure.h"
#include "station/guarded_graph.h"
#include "windows/win_support.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Sound;

// The test tone: a sine at half of full scale, 32767 * 0.5 / sqrt(2) RMS.
constexpr double kToneRms = 11585;
// Sound counts whole 10 ms windows, so each end of a recorded sound may add
// one (the recorder loses nothing and is timed within 5 ms).
constexpr double kLengthTolerance = 0.0205;

// A timing figure: failed, or only reported on a machine whose load average
// is over twice its processors, where Wine's renderer drops late sound.
void expectTimely(bool ok, const std::string& what) {
    if (ok) return;
    std::ifstream loadavg("Z:\\proc\\loadavg");  // the host's, under Wine
    double load = 0;
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    if (loadavg >> load && load > 2.0 * info.dwNumberOfProcessors)
        std::printf("BUSY (oversubscribed machine): %s\n", what.c_str());
    else
        ADD_FAILURE() << what;
}

void expectLength(double seconds, double expected, const std::string& what, double tolerance = kLengthTolerance) {
    expectTimely(std::abs(seconds - expected) <= tolerance,
                 what + " sounded " + std::to_string(seconds) + " s, not " + std::to_string(expected) + " s");
}

// A file of the media folder (TARNWICK_DSHOW_MEDIA, a Unix path) as a
// Windows path; "" when the wrapper did not start the program.
std::string media(const std::string& name) {
    char dir[MAX_PATH + 1] = {};
    const DWORD n = GetEnvironmentVariableA("TARNWICK_DSHOW_MEDIA", dir, sizeof dir);
    return n == 0 || n > MAX_PATH ? std::string() : testing::windowsPath(dir) + "\\" + name;
}

// A name made of letters, digits and '_' (for test and recording names).
std::string plainName(std::string name) {
    for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

// Milliseconds since the Unix epoch, the clock the recording agent stamps by.
double epochMs() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<double>(ticks - 116444736000000000ULL) / 1e4;
}

// When a recording's sound was heard: the epoch milliseconds at which the
// sink played its first and last samples above 1 % of full scale.
struct Heard {
    bool found = false;
    double firstMs = 0, lastMs = 0;
};

// Records the sink's monitor into recorded-NAME.wav from construction to
// stop(), asking the wrapper through files: NAME.start is answered by
// NAME.recording, NAME.stop by NAME.done.
class MonitorRecording {
public:
    explicit MonitorRecording(const std::string& name) : base_(media("recorded-" + name)) {
        running_ = !base_.empty() && ask(".start", ".recording");
        EXPECT_TRUE(running_) << "the recording agent did not answer";
    }
    ~MonitorRecording() { finish(); }
    Sound stop() {
        finish();
        return test::measure(base_ + ".wav");
    }

    // From the 16-bit stereo 44.1 kHz wav and the agent's stamps, lines
    // "BYTES SECONDS": how many bytes the recorder had received by that
    // epoch time. A late stamp only makes a line later, so the earliest
    // start they give is when the recording started.
    Heard heard() const {
        std::ifstream stamps(base_ + ".stamps");
        double startMs = 1e300, bytes = 0, seconds = 0;
        while (stamps >> bytes >> seconds) startMs = std::min(startMs, seconds * 1000 - bytes / (44100 * 4 / 1000.0));
        const std::string wav = testing::readFile(base_ + ".wav");
        const std::size_t data = wav.find("data");
        Heard h;
        for (std::size_t i = data + 8; data != std::string::npos && startMs < 1e299 && i + 2 <= wav.size(); i += 2) {
            std::int16_t sample = 0;
            std::memcpy(&sample, &wav[i], 2);
            if (std::abs(sample) <= 328) continue;
            h.lastMs = startMs + (i - data - 8) / 4 / 44.1;
            if (!h.found) h.firstMs = h.lastMs;
            h.found = true;
        }
        return h;
    }

private:
    // An answer left by an earlier run (--gtest_repeat) would answer at once.
    bool ask(const char* question, const char* answer) const {
        DeleteFileA((base_ + answer).c_str());
        testing::writeFile(base_ + question, "");
        return testing::pumpUntil([&] { return testing::fileExists(base_ + answer); }, 10000);
    }
    void finish() {
        if (!running_) return;
        running_ = false;
        Sleep(400);  // the last samples reach the monitor a little late
        ask(".stop", ".done");
    }
    std::string base_;
    bool running_ = false;
};

class DshowGraphTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(testing::fileExists(media("tone.wav"))) << "run through tests/windows/dshow_media_run.sh (sox)";
    }

    // The graph as the program gets it, and the contract's view of it.
    static test::GraphBench bench() {
        const auto sleep = [](MonoTime d) { Sleep(static_cast<DWORD>(d.count() / 1000000)); };
        test::GraphBench b{factory_, clock_, media("tone.wav"), media("long.wav"), media("missing.wav"), sleep};
        b.endStamp = [](MediaGraph& graph, bool ended) { EXPECT_EQ(endSeen(graph).has_value(), ended); };
        return b;
    }
    static std::unique_ptr<MediaGraph> load(const std::string& name) { return bench().load(media(name)); }
    static std::optional<Clock::time_point> endSeen(MediaGraph& graph) {
        return dynamic_cast<DshowGraph&>(dynamic_cast<GuardedGraph&>(graph).inner()).playedOutTime();
    }
    static bool waitFor(const std::function<bool()>& done, MonoTime limit = 5s) { return bench().waitFor(done, limit); }

    // Starts the file as a transmission does and reads the position every
    // 10 ms, as the progress tick does, until it reads the length.
    static bool playToEnd(MediaGraph& graph, MonoTime limit = 30s) {
        test::startAsATransmission(graph);
        return waitFor(
            [&] {
                const double position = graph.CurrentPosition();
                EXPECT_LE(position, graph.Duration());
                if (position < graph.Duration()) return false;
                EXPECT_TRUE(endSeen(graph).has_value()) << "the length was read without an end";
                return true;
            },
            limit);
    }
    static Sound playRecorded(MediaGraph& graph, const std::string& name) {
        MonitorRecording recording(name);
        EXPECT_TRUE(playToEnd(graph)) << "the end of " << name << " was not reached";
        return recording.stop();
    }

    static inline test::MonotonicClock clock_;
    static inline DshowGraphFactory backend_;
    static inline GuardedGraphFactory factory_{backend_, clock_};
};

TEST_F(DshowGraphTest, RefusesToPlayWithoutAFileAndValuesOutOfRange) {
    test::aGraphWithoutAFileRefusesToPlay(bench());
    test::valuesOutOfRangeAreRefused(bench());
}

// The file is heard twice: to its end, and again after the rewind.
TEST_F(DshowGraphTest, TheEndReadsExactlyTheLengthUntilASeekReplaysIt) {
    MonitorRecording recording("twice");
    test::theEndReadsExactlyTheLengthUntilASeek(bench());
    // Two stretches of sound, each with two ends that may add a window.
    expectLength(recording.stop().soundingSeconds, 2 * 2.0, "the file twice", 2 * kLengthTolerance);
}

TEST_F(DshowGraphTest, VolumeAndBalanceScaleEachChannelAlsoForMonoFiles) {
    // Each channel's level relative to the same file played plainly first.
    // 10^(-600/2000) = 0.501; Wine's sound mixer scales by 2^(-600/600) = 0.5.
    struct Level {
        const char* file;
        long volume, balance;
        double left, right;
    };
    const Level levels[] = {{"short.wav", -600, 0, 0.501, 0.501}, {"short.wav", -10000, 0, 0, 0},
                            {"short.wav", 0, -10000, 1, 0},       {"short.wav", 0, 10000, 0, 1},
                            {"short.wav", 0, -600, 1, 0.501},     {"mono.wav", 0, -10000, 1, 0}};
    const auto matches = [](double level, double plainLevel, double want) {
        if (want == 0) return level < plainLevel * 0.01;
        return std::abs(level / plainLevel - want) < (want == 1 ? 0.05 : 0.025);
    };
    std::map<std::string, std::unique_ptr<MediaGraph>> graphs;
    std::map<std::string, Sound> plain;
    for (const char* file : {"short.wav", "mono.wav"}) {
        graphs[file] = load(file);
        const Sound& p = plain[file] = playRecorded(*graphs[file], "plain-" + plainName(file));
        expectLength(p.soundingSeconds, 0.5, file);
        EXPECT_NEAR(p.leftRms, kToneRms, kToneRms * 0.1) << file;
        EXPECT_NEAR(p.rightRms, p.leftRms, p.leftRms * 0.03) << file;
    }
    int n = 0;
    for (const Level& l : levels) {
        graphs[l.file]->SetVolume(l.volume);
        graphs[l.file]->SetBalance(l.balance);
        const Sound got = playRecorded(*graphs[l.file], "level" + std::to_string(n++));
        const Sound& p = plain[l.file];
        EXPECT_TRUE(matches(got.leftRms, p.leftRms, l.left) && matches(got.rightRms, p.rightRms, l.right))
            << l.file << " volume " << l.volume << " balance " << l.balance << ": " << got.leftRms << ", "
            << got.rightRms;
        if (l.left == 0 && l.right == 0) {
            EXPECT_EQ(got.soundingSeconds, 0);
        }
    }
}

TEST_F(DshowGraphTest, RateTwoHalvesThePlayingTimeNotTheLength) {
    auto graph = load("tone.wav");
    graph->SetRate(2.0);  // before the start, as the speed bar may be
    MonitorRecording recording("rate2");
    const auto started = Clock::now();
    ASSERT_TRUE(playToEnd(*graph));
    const double wall = std::chrono::duration<double>(Clock::now() - started).count();
    EXPECT_EQ(graph->Duration(), 2.0);
    const Sound sound = recording.stop();
    if (testing::underWine() && wall > 1.7) {
        // Wine's IMediaSeeking::SetRate is a stub that answers S_OK: the
        // file still plays whole, at normal speed.
        expectLength(sound.soundingSeconds, 2.0, "the file at rate 2 under Wine");
        GTEST_SKIP() << "Wine's quartz plays at normal speed whatever the rate (" << wall << " s for 2 s at rate 2)";
    }
    expectLength(sound.soundingSeconds, 1.0, "the file at rate 2");
    EXPECT_GT(wall, 0.8);
    EXPECT_LT(wall, 1.6) << "at normal speed it would take 2 s";
}

// Stop keeps the position where the heard sound stood, even where the
// component goes back to its last seek (Wine's quartz), and Run plays on:
// the air hears the file once. A restart by a seek plays on at once
// instead of 200 ms later, and a released graph is silent at once.
TEST_F(DshowGraphTest, StopAndRunPlayOnAndARestartOrAReleaseIsHeardAtOnce) {
    const test::StopAndRun seen = test::stopKeepsThePositionAndRunPlaysOn(bench());
    EXPECT_GE(seen.stopped, seen.reached - 1e-6);  // to the component's 100 ns grain

    auto graph = load("tone.wav");
    const auto ended = [&] { return graph->CurrentPosition() == graph->Duration(); };
    {
        MonitorRecording recording("resumed");
        test::startAsATransmission(*graph);
        waitFor([&] { return graph->CurrentPosition() >= 0.8; });
        graph->Stop();
        Sleep(500);
        graph->Run();
        ASSERT_TRUE(waitFor(ended, 10s));
        // Also heard: what the output held at the Stop (40-70 ms under Wine;
        // the air does not hear it, the unkey comes first), and two stretches
        // counted in whole windows add 40 ms. Replaying from the last seek,
        // the fault this catches, sounds 2.8 s.
        const double seconds = recording.stop().soundingSeconds;
        EXPECT_GE(seconds, 2.0 - kLengthTolerance);
        expectTimely(seconds <= 2.2, "Stop and Run sounded " + std::to_string(seconds) + " s of a 2 s file");
    }
    // Stop after the end: where the component rewinds, the end no longer
    // holds and Run plays the file to its end again.
    graph->Stop();
    if (!ended()) {
        graph->Run();
        EXPECT_TRUE(waitFor([&] { return graph->CurrentPosition() > 0.1; }));
        EXPECT_LT(graph->CurrentPosition(), graph->Duration());
        EXPECT_TRUE(waitFor(ended));
    }
    {
        MonitorRecording recording("restarted");
        test::startAsATransmission(*graph);
        waitFor([&] { return graph->CurrentPosition() >= 1.0; });
        graph->SetCurrentPosition(0);
        EXPECT_LT(graph->CurrentPosition(), 0.5);
        ASSERT_TRUE(waitFor(ended, 10s));
        const Sound sound = recording.stop();
        const Heard heard = recording.heard();
        ASSERT_TRUE(heard.found);
        const double silence = (heard.lastMs - heard.firstMs) / 1000 - sound.soundingSeconds;
        expectTimely(silence <= 0.05, "the restart left " + std::to_string(silence * 1000) + " ms of silence");
    }
    // Released while it plays, no Stop first.
    test::startAsATransmission(*graph);
    Sleep(200);
    graph.reset();
    MonitorRecording recording("released");
    Sleep(300);
    EXPECT_EQ(recording.stop().soundingSeconds, 0);
}

TEST_F(DshowGraphTest, FilesThatCannotBePlayedFailToRenderWithTheirHresultNamingTheFile) {
    for (const std::string& path : {media("missing.wav"), media("notes.wav")}) {
        try {
            factory_.create()->RenderFile(path);
            ADD_FAILURE() << path << " rendered";
        } catch (const Failure& failure) {
            EXPECT_LT(failure.number(), 0) << "a failed HRESULT";
            EXPECT_NE(failure.description().find(path), std::string::npos) << failure.description();
            EXPECT_NE(failure.description().find("(0x8"), std::string::npos) << failure.description();
        }
    }
}

// A picture's renderer sets up Direct3D on this thread; every number of the
// program must still have its 15 digits.
TEST_F(DshowGraphTest, PicturesNeitherHangNorCrashNorTakeTheThreadsPrecision) {
    const unsigned precision = _control87(0, 0) & _MCW_PC;
    for (const char* name : {"picture.bmp", "picture.jpg"}) {
        ASSERT_TRUE(testing::fileExists(media(name))) << name;
        auto graph = factory_.create();
        const auto started = Clock::now();
        try {
            graph->RenderFile(media(name));
            EXPECT_TRUE(playToEnd(*graph, 20s)) << name << ": found something to play, but no end";
        } catch (const Failure&) {
        }
        EXPECT_LT(Clock::now() - started, 25s) << name;
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
    const auto started = Clock::now();
    try {
        factory.create()->RenderFile(media("tone.wav"));
        ADD_FAILURE() << "rendered without any sound output";
    } catch (const Failure& failure) {
        EXPECT_LT(failure.number(), 0);
        EXPECT_NE(failure.description().find("tone.wav"), std::string::npos) << failure.description();
    }
    EXPECT_LT(Clock::now() - started, 15s);
}

// Every kind of file the window offers that carries sound, a long one and a
// name in the ANSI code page, played whole. A transmission unkeys one tick
// after the position reads the length, so the length may be read only once
// the last sound has left the output: read when the component reports the
// end (under Wine a quarter of a second early), it cuts the end of every
// identification. Read every millisecond, so that the moment is known to
// within one.
struct Format {
    const char* file;
    double seconds;  // how long it sounds
    friend std::ostream& operator<<(std::ostream& out, const Format& f) { return out << f.file; }
};

class DshowGraphFormatTest : public DshowGraphTest, public ::testing::WithParamInterface<Format> {};

TEST_P(DshowGraphFormatTest, PlaysWholeAndReadsTheLengthOnlyOnceTheLastSoundHasBeenHeard) {
    const std::string file = GetParam().file;
    if (file.find('\xF4') != std::string::npos && GetACP() != 1252)
        GTEST_SKIP() << "the name is written in code page 1252, this is " << GetACP();
    ASSERT_TRUE(testing::fileExists(media(file))) << "could not make " << file;
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
    // A wav's length is exact; containers that only estimate theirs may be
    // a little off.
    EXPECT_NEAR(graph->Duration(), GetParam().seconds, file.ends_with(".wav") ? 1e-9 : 0.65);
    MonitorRecording recording("format-" + plainName(file));
    test::startAsATransmission(*graph);
    double atLength = 0;
    for (const auto until = Clock::now() + 30s; atLength == 0 && Clock::now() < until; Sleep(1))
        if (graph->CurrentPosition() == graph->Duration()) atLength = epochMs();
    ASSERT_GT(atLength, 0) << "the end was not reached";
    EXPECT_TRUE(endSeen(*graph).has_value());
    const Sound sound = recording.stop();
    expectLength(sound.soundingSeconds, GetParam().seconds, file);
    EXPECT_GT(sound.leftRms, 500);
    EXPECT_GT(sound.rightRms, 500);
    const Heard heard = recording.heard();
    ASSERT_TRUE(heard.found) << "nothing was recorded";
    // The recorder stamps a sample at most its 5 ms latency after the sink
    // played it, never before.
    EXPECT_LE(heard.lastMs, atLength + 5)
        << "the length was read " << heard.lastMs - atLength << " ms before the last sound was heard";
    // Held back much longer, the transmitter would carry silence.
    expectTimely(atLength - heard.lastMs < 250,
                 "the length was read " + std::to_string(atLength - heard.lastMs) + " ms after the last sound");
}

INSTANTIATE_TEST_SUITE_P(Formats, DshowGraphFormatTest,
                         ::testing::Values(Format{"tone.wav", 2.0}, Format{"long.wav", 12.5}, Format{"tone.mp3", 2.0},
                                           Format{"tone.mp2", 2.0}, Format{"note.mid", 1.0}, Format{"tone.mpg", 2.0},
                                           Format{"tone.avi", 2.0}, Format{"t\xF4ne.wav", 1.0}),
                         [](const ::testing::TestParamInfo<Format>& info) { return plainName(info.param.file); });

}  // namespace
}  // namespace tarnwick

// In the program's own kind of COM apartment, a single-threaded one.
int main(int argc, char** argv) {
    OleInitialize(nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    OleUninitialize();
    return rc;
}
