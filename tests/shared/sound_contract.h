// What every backend's graph sounds like, recorded from the monitor of the
// private null sink: checked the same way on GStreamer and DirectShow. Each
// suite says where its test media are and how it records the sink. The
// media, all the same 1 kHz sine at half of full scale: tone.wav (2 s),
// short.wav (1 s), mono.wav (1 s, one channel), long.wav (12.5 s), and
// notes.wav (text), picture.bmp and picture.jpg (16 x 16 pictures).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "base/errors.h"
#include "shared/graph_contract.h"
#include "shared/wav_measure.h"

namespace tarnwick::test {

// The tone's RMS: 32767 * 0.5 / sqrt(2).
inline constexpr double kToneRms = 11585;
// How far a recorded sound's length may be from the file's: the recording
// loses nothing and is timed within 5 ms (tests/air), and Sound counts whole
// 10 ms windows, so each end may add one.
inline constexpr double kLengthTolerance = 0.0205;  // two windows, and a hair for rounding

// Starts the file as a transmission does and reads the position
// every 10 ms, as the progress tick does; below the length until it reads
// it, and stamped as ended by the backend then.
inline bool playToEndByTheTick(const GraphBench& b, MediaGraph& graph) {
    startAsATransmission(graph);
    bool below = true;
    const bool ended = b.waitFor(
        [&] {
            const double position = graph.CurrentPosition();
            below = below && position <= graph.Duration();
            return position == graph.Duration();
        },
        std::chrono::seconds(30));
    EXPECT_TRUE(below) << "the position passed the length";
    if (ended) b.endStamp(graph, true);
    return ended;
}

struct SoundBench {
    explicit SoundBench(GraphBench g) : graph(std::move(g)) {}
    GraphBench graph;
    std::function<std::string(const std::string& file)> path;  // a file of the media folder
    std::function<std::unique_ptr<Recording>(const std::string& name)> record;
    // Starts the file as a transmission does and reads the position until
    // it reads the length; false when it never did. None: playToEndByTheTick.
    std::function<bool(MediaGraph&)> playsToEnd;
    // After a file of another kind was played to its end and recorded: what
    // the backend promises of its end's timing against the recording.
    std::function<void(Recording&)> heardEnd = [](Recording&) {};
    std::function<void(double seconds, double expected, const std::string& what, double tolerance)> expectLength =
        [](double seconds, double expected, const std::string& what, double tolerance) {
            EXPECT_NEAR(seconds, expected, tolerance) << what;
        };

    std::unique_ptr<MediaGraph> load(const std::string& file) const { return graph.load(path(file)); }
    bool playToEnd(MediaGraph& played) const {
        return playsToEnd ? playsToEnd(played) : playToEndByTheTick(graph, played);
    }
    // Plays the file to its end while recording the sink; `judgeTheEnd`:
    // and checks heardEnd.
    Sound playRecorded(MediaGraph& played, const std::string& name, bool judgeTheEnd = false) const {
        auto recording = record(name);
        EXPECT_TRUE(recording->running()) << "the recorder did not start";
        const bool ended = playToEnd(played);
        EXPECT_TRUE(ended) << "the end of " << name << " was not reached";
        const Sound sound = recording->stop();
        if (ended && judgeTheEnd) heardEnd(*recording);
        return sound;
    }
};

// The contract's end, heard: the file to its end, and again after the rewind.
inline void theFileIsHeardToItsEndAndAgainAfterTheRewind(const SoundBench& b) {
    auto recording = b.record("twice");
    theEndReadsExactlyTheLengthUntilASeek(b.graph);
    const Sound sound = recording->stop();
    ASSERT_TRUE(sound.readable);
    // Two stretches of sound, each with two ends that may add a window.
    b.expectLength(sound.soundingSeconds, 2 * 2.0, "the file twice", 2 * kLengthTolerance);
    EXPECT_NEAR(sound.leftRms, kToneRms, kToneRms * 0.1);
    EXPECT_NEAR(sound.rightRms, kToneRms, kToneRms * 0.1);
}

// Volume scales both channels by 10^(volume/2000) (-600: 0.501; Wine's
// sound mixer scales by 2^(volume/600), 0.5); balance lowers the other
// channel alike on top of it, mono files too; -10000 is silence. Each
// channel's level is judged against the same file played plainly first.
inline void volumeAndBalanceScaleEachChannel(const SoundBench& b) {
    struct Level {
        const char* file;
        long volume, balance;
        double left, right;
    };
    const Level levels[] = {{"short.wav", -600, -600, 0.501, 0.501 * 0.501},
                            {"short.wav", -10000, 0, 0, 0},
                            {"short.wav", 0, 10000, 0, 1},
                            {"mono.wav", 0, -10000, 1, 0}};
    const auto matches = [](double level, double plainLevel, double want) {
        if (want == 0) return level < plainLevel * 0.01;
        return std::abs(level / plainLevel - want) < want * 0.05;
    };
    std::map<std::string, std::unique_ptr<MediaGraph>> graphs;
    std::map<std::string, Sound> plain;
    for (const char* file : {"short.wav", "mono.wav"}) {
        graphs[file] = b.load(file);
        const Sound& p = plain[file] = b.playRecorded(*graphs[file], std::string("plain-") + file);
        ASSERT_TRUE(p.readable);
        b.expectLength(p.soundingSeconds, 1.0, file, kLengthTolerance);
        EXPECT_NEAR(p.rightRms, p.leftRms, p.leftRms * 0.03) << file;
    }
    EXPECT_NEAR(plain["short.wav"].leftRms, kToneRms, kToneRms * 0.1);
    int n = 0;
    for (const Level& l : levels) {
        MediaGraph& graph = *graphs[l.file];
        graph.SetVolume(l.volume);
        graph.SetBalance(l.balance);
        const Sound got = b.playRecorded(graph, "level" + std::to_string(n++));
        const Sound& p = plain[l.file];
        EXPECT_TRUE(matches(got.leftRms, p.leftRms, l.left) && matches(got.rightRms, p.rightRms, l.right))
            << l.file << " volume " << l.volume << " balance " << l.balance << ": " << got.leftRms << ", "
            << got.rightRms;
        if (l.left == 0 && l.right == 0) {
            EXPECT_EQ(got.soundingSeconds, 0);
        }
    }
}

// A rate scales the playing time, never the length the end must read. The
// rate is set before the start, as the speed bar may be. `ignoresRate`: the
// backend's component is known to take a rate and keep normal speed, as
// the wall time shows; the file must then still play whole.
inline void rateTwoHalvesThePlayingTime(const SoundBench& b,
                                        const std::function<bool(double wall)>& ignoresRate = nullptr) {
    auto graph = b.load("tone.wav");
    const double length = graph->Duration();
    graph->SetRate(2.0);
    auto recording = b.record("rate2");
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(b.playToEnd(*graph));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(graph->CurrentPosition(), length);
    EXPECT_EQ(graph->Duration(), length);
    const Sound sound = recording->stop();
    if (ignoresRate && ignoresRate(wall)) {
        b.expectLength(sound.soundingSeconds, 2.0, "the file at a rate ignored", kLengthTolerance);
        GTEST_SKIP() << "the component plays at normal speed whatever the rate (" << wall << " s for 2 s at rate 2)";
    }
    b.expectLength(sound.soundingSeconds, 1.0, "the file at rate 2", kLengthTolerance);
    EXPECT_GT(wall, 0.8);
    EXPECT_LT(wall, 1.6) << "at normal speed it would take 2 s";
}

// Released while it plays, with no Stop first, a graph falls silent at once.
inline void releasingAPlayingGraphSilencesItAtOnce(const SoundBench& b, std::unique_ptr<MediaGraph> playing) {
    playing.reset();
    auto recording = b.record("released");
    b.graph.wait(std::chrono::milliseconds(300));
    EXPECT_EQ(recording->stop().soundingSeconds, 0);
}

// What cannot be played fails to render, naming the file (`more`: what the
// backend adds to its failure). Pictures at least neither hang nor crash:
// should the component find something to play in one, it plays to an end
// (`afterPicture`: what the backend checks after each).
inline void whatCannotBePlayedFailsAndPicturesDoNotHang(
    const SoundBench& b, const std::function<void(const Failure&)>& more = [](const Failure&) {},
    const std::function<void(const std::string&)>& afterPicture = [](const std::string&) {}) {
    using namespace std::chrono_literals;
    for (const std::string& path : {b.graph.missing, b.path("notes.wav")}) {
        auto graph = b.graph.graphs.create();
        try {
            graph->RenderFile(path);
            ADD_FAILURE() << path << " rendered";
        } catch (const Failure& failure) {
            EXPECT_NE(failure.description().find(path), std::string::npos) << failure.description();
            more(failure);
        }
    }
    for (const char* name : {"picture.bmp", "picture.jpg"}) {
        auto graph = b.graph.graphs.create();
        const MonoTime started = b.graph.clock.now();
        try {
            graph->RenderFile(b.path(name));
            EXPECT_TRUE(b.playToEnd(*graph)) << name;
        } catch (const Failure&) {
        }
        EXPECT_LT(b.graph.clock.now() - started, 25s) << name;
        afterPicture(name);
    }
}

// A file of another kind, rendered, plays its sound to the end, heard whole.
inline void playsItsSoundToTheEnd(const SoundBench& b, MediaGraph& graph, const std::string& file, double seconds) {
    EXPECT_NEAR(graph.Duration(), seconds, 0.65);  // containers that estimate their length may be off
    const Sound sound = b.playRecorded(graph, "format-" + file, true);
    EXPECT_EQ(graph.CurrentPosition(), graph.Duration());
    b.expectLength(sound.soundingSeconds, seconds, file, kLengthTolerance);
    EXPECT_GT(sound.leftRms, 500);
    EXPECT_GT(sound.rightRms, 500);
}

}  // namespace tarnwick::test
