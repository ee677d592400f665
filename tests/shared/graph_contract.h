// What every backend's graph must do, as the program gets it (wrapped by
// GuardedGraphFactory), checked the same way on each: the scripted graph in
// virtual time, GStreamer and DirectShow against a real sound server. See
// seams/media_graph.h for the promises.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "base/errors.h"
#include "seams/event_loop.h"
#include "seams/media_graph.h"

namespace tarnwick::test {

struct GraphBench {
    GraphFactory& graphs;    // guarded, as the program makes them
    const EventLoop& clock;  // the clock the guard reads
    std::string tone;        // sounds for 2 s
    std::string longTone;    // sounds for 12.5 s
    std::string missing;     // no file there
    // Lets `d` pass: real time, or the test loop's virtual time.
    std::function<void(MonoTime)> wait;
    // Checks what the backend itself stamps at the end of a file (a backend
    // graph under the guard), `ended` or not; none for the scripted graph.
    std::function<void(MediaGraph&, bool ended)> endStamp = [](MediaGraph&, bool) {};

    // Reads `done` every 10 ms, as the progress tick does; false when
    // `limit` passed first.
    bool waitFor(const std::function<bool()>& done, MonoTime limit) const {
        for (const MonoTime until = clock.now() + limit; !done(); wait(std::chrono::milliseconds(10)))
            if (clock.now() > until) return false;
        return true;
    }
    std::unique_ptr<MediaGraph> load(const std::string& path) const {
        auto graph = graphs.create();
        graph->RenderFile(path);
        return graph;
    }
};

// The real backends' loop, of which the guard reads only the clock: the
// monotonic one, as the program's loops.
class MonotonicClock final : public EventLoop {
public:
    MonoTime now() const override {
        return std::chrono::duration_cast<MonoTime>(std::chrono::steady_clock::now().time_since_epoch());
    }
    TimerId addTimer(std::chrono::milliseconds, std::function<void()>) override { return unused(); }
    void removeTimer(TimerId) override { unused(); }
    void post(std::function<void()>) override { unused(); }
    void processPendingEvents() override { unused(); }
    void run() override { unused(); }
    [[noreturn]] void endProgram(int) override { std::abort(); }

private:
    static TimerId unused() {
        ADD_FAILURE() << "a graph used the loop for more than its clock";
        return 0;
    }
};

// As a transmission starts a file: Run, then position 0.
inline void startAsATransmission(MediaGraph& graph) {
    graph.Run();
    graph.SetCurrentPosition(0);
}

inline void aGraphWithoutAFileRefusesToPlay(const GraphBench& b) {
    auto graph = b.graphs.create();
    EXPECT_THROW(graph->RenderFile(b.missing), Failure);
    EXPECT_THROW(graph->Run(), Failure);
    EXPECT_THROW(graph->Stop(), Failure);
    EXPECT_THROW(graph->Duration(), Failure);
    EXPECT_THROW(graph->CurrentPosition(), Failure);
    EXPECT_THROW(graph->SetCurrentPosition(0), Failure);
    EXPECT_THROW(graph->SetRate(1.0), Failure);
}

// The position stays below the length while the file plays and reads that
// very number at the end, on every read, Run included, until a seek plays
// the file again.
inline void theEndReadsExactlyTheLengthUntilASeek(const GraphBench& b) {
    using namespace std::chrono_literals;
    auto graph = b.load(b.tone);
    const double length = graph->Duration();
    EXPECT_DOUBLE_EQ(length, 2.0);
    EXPECT_LT(graph->CurrentPosition(), 0.1);

    startAsATransmission(*graph);
    bool belowUntilTheEnd = true;
    ASSERT_TRUE(b.waitFor(
        [&] {
            const double position = graph->CurrentPosition();
            belowUntilTheEnd = belowUntilTheEnd && position <= length;
            return position == length;
        },
        20s))
        << "the end was not reached";
    EXPECT_TRUE(belowUntilTheEnd) << "the position passed the length";
    b.endStamp(*graph, true);
    for (int read = 0; read < 30; ++read) {
        ASSERT_EQ(graph->CurrentPosition(), length) << "read " << read;
        b.wait(10ms);
    }
    graph->Run();  // Resume after the end runs without leaving it
    EXPECT_EQ(graph->CurrentPosition(), length);
    EXPECT_EQ(graph->Duration(), length);

    // Play again: the rewind leaves the end at once, so that the tick does
    // not end the new transmission.
    startAsATransmission(*graph);
    EXPECT_LT(graph->CurrentPosition(), 0.5);
    b.endStamp(*graph, false);
    b.wait(500ms);
    EXPECT_GT(graph->CurrentPosition(), 0.2);
    EXPECT_LT(graph->CurrentPosition(), length);
    EXPECT_TRUE(b.waitFor([&] { return graph->CurrentPosition() == length; }, 10s));
}

// Stop keeps the position, which stands while stopped; Run plays on from
// there. Returns the position read before the Stop and the one after it.
struct StopAndRun {
    double reached = 0, stopped = 0;
};
inline StopAndRun stopKeepsThePositionAndRunPlaysOn(const GraphBench& b) {
    using namespace std::chrono_literals;
    StopAndRun seen;
    auto graph = b.load(b.tone);
    startAsATransmission(*graph);
    b.waitFor([&] { return graph->CurrentPosition() >= 0.6; }, 5s);
    seen.reached = graph->CurrentPosition();
    graph->Stop();
    seen.stopped = graph->CurrentPosition();
    EXPECT_NEAR(seen.stopped, seen.reached, 0.05);
    b.wait(400ms);
    EXPECT_NEAR(graph->CurrentPosition(), seen.stopped, 0.02) << "the position moved while stopped";
    graph->Run();
    EXPECT_TRUE(b.waitFor([&] { return graph->CurrentPosition() >= seen.stopped + 0.3; }, 5s));
    EXPECT_LT(graph->CurrentPosition(), graph->Duration()) << "Run after Stop must continue, not jump to the end";
    return seen;
}

inline void valuesOutOfRangeAreRefused(const GraphBench& b) {
    auto graph = b.load(b.tone);
    for (long volume : {1L, -10001L}) EXPECT_THROW(graph->SetVolume(volume), Failure) << volume;
    for (long balance : {-10001L, 10001L}) EXPECT_THROW(graph->SetBalance(balance), Failure) << balance;
    for (double rate : {0.0, 0.09, 2.01}) EXPECT_THROW(graph->SetRate(rate), Failure) << rate;
    EXPECT_NO_THROW({
        graph->SetVolume(-10000);
        graph->SetVolume(0);
        graph->SetBalance(-10000);
        graph->SetBalance(10000);
        graph->SetBalance(0);
        graph->SetRate(0.1);
        graph->SetRate(2.0);
        graph->SetRate(1.0);
    });
}

// A playback that stalls (`stall` makes the backend's stand still) reads the
// end once its position has stood for 5 s, so that nothing stays keyed; a
// seek leaves that end. `resume` undoes the stall.
inline void aStalledPlaybackCountsAsEnded(const GraphBench& b, const std::function<void()>& stall,
                                          const std::function<void()>& resume) {
    using namespace std::chrono_literals;
    auto graph = b.load(b.longTone);
    startAsATransmission(*graph);
    b.waitFor([&] { return graph->CurrentPosition() >= 0.5; }, 5s);
    stall();
    const MonoTime stalled = b.clock.now();
    const bool ended = b.waitFor([&] { return graph->CurrentPosition() == graph->Duration(); }, 10s);
    const MonoTime after = b.clock.now() - stalled;
    resume();
    EXPECT_TRUE(ended) << "a stalled graph never reached its end";
    EXPECT_GE(after, 4s) << "a playing graph was taken for stalled";
    graph->SetCurrentPosition(0);
    EXPECT_LT(graph->CurrentPosition(), graph->Duration()) << "the stall's end outlived a seek";
}

}  // namespace tarnwick::test
