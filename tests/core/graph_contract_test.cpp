// The graph contract on the scripted graph in virtual time, as the core
// suite's systems get it: wrapped by GuardedGraphFactory.
#include "platform/fake/scripted_graph.h"
#include "platform/fake/virtual_event_loop.h"
#include "shared/graph_contract.h"
#include "station/guarded_graph.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick::test {
namespace {

class ScriptedGraphContract : public ::testing::Test {
protected:
    ScriptedGraphContract() { scripted.lengths = {{"tone.wav", 2.0}, {"long.wav", 12.5}}; }

    VirtualEventLoop loop;
    ScriptedGraphFactory scripted{loop};
    GuardedGraphFactory graphs{scripted, loop};
    GraphBench bench{graphs, loop, "tone.wav", "long.wav", "missing.wav", [this](MonoTime d) { loop.advance(d); }};
};

TEST_F(ScriptedGraphContract, AGraphWithoutAFileRefusesToPlay) { aGraphWithoutAFileRefusesToPlay(bench); }

TEST_F(ScriptedGraphContract, TheEndReadsExactlyTheLengthUntilASeek) { theEndReadsExactlyTheLengthUntilASeek(bench); }

TEST_F(ScriptedGraphContract, StopKeepsThePositionAndRunPlaysOn) { stopKeepsThePositionAndRunPlaysOn(bench); }

TEST_F(ScriptedGraphContract, ValuesOutOfRangeAreRefusedBeforeTheBackendSeesThem) {
    valuesOutOfRangeAreRefused(bench);
    EXPECT_EQ(scripted.calls, (std::vector<std::string>{"RenderFile tone.wav", "SetVolume -10000", "SetVolume 0",
                                                        "SetBalance -10000", "SetBalance 10000", "SetBalance 0",
                                                        "SetRate 0.1", "SetRate 2", "SetRate 1", "Release"}));
}

TEST_F(ScriptedGraphContract, AStalledPlaybackCountsAsEndedAfterFiveSeconds) {
    aStalledPlaybackCountsAsEnded(
        bench, [&] { scripted.current->stall(); }, [] {});
}

// The stall watch is the guard's own: only a running playback that stands
// still is taken for ended. A Stop of any length is none, and a Stop after a
// stall lets Resume play on: the rest of the file goes out.
TEST_F(ScriptedGraphContract, OnlyARunningPlaybackThatStandsStillIsTakenForStalled) {
    using namespace std::chrono_literals;
    auto graph = bench.load("long.wav");
    startAsATransmission(*graph);
    ASSERT_TRUE(bench.waitFor([&] { return graph->CurrentPosition() >= 1.0; }, 5s));
    graph->Stop();
    bench.waitFor([&] { return graph->CurrentPosition() < 0; }, 10s);  // read as the tick does
    graph->Run();
    loop.advance(1s);
    EXPECT_NEAR(graph->CurrentPosition(), 2.0, 0.05) << "a Stop of 10 s was taken for a stall";

    scripted.current->stall();
    ASSERT_TRUE(bench.waitFor([&] { return graph->CurrentPosition() == graph->Duration(); }, 10s));
    graph->Stop();
    graph->Run();
    loop.advance(1s);
    EXPECT_LT(graph->CurrentPosition(), graph->Duration()) << "Resume after a stall read the end";
}

}  // namespace
}  // namespace tarnwick::test
