// The stand-in node's behaviour on fake clocks that the node-link contract
// (tests/shared/node_link_contract.h, run against it over D-Bus and COM)
// cannot see: how long Morse keys it, and its state text. What it traces,
// made-to-fail and stalled calls are that contract's.
#include <gtest/gtest.h>

#include <sstream>

#include "nodesim/morse.h"
#include "nodesim/node_sim.h"
#include "nodesim/trace.h"

namespace tarnwick::nodesim {
namespace {

// A stand-in on hand-moved clocks. The wall clock moves one ms per line
// written, so that each line has a stamp of its own.
struct SimOnFakeClocks {
    std::int64_t wall = 1765053600123;
    std::int64_t mono = 0;
    std::ostringstream out;
    TraceWriter trace{&out, [this] { return wall++; }};
    NodeSim sim;

    explicit SimOnFakeClocks(NodeSim::Config config = {}) : sim(std::move(config), trace, [this] { return mono; }) {}

    // The trace without stamps, one body per line.
    std::vector<std::string> bodies() const {
        std::vector<std::string> lines;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) lines.push_back(line.substr(line.find(' ') + 1));
        return lines;
    }
};

// PARIS timing: a unit per dot, three per dash, one between the parts of a
// character, three between characters, seven between words; unknown
// characters are skipped and runs of blanks count as one.
TEST(NodeSimMorse, UsesParisTiming) {
    EXPECT_EQ(morseDurationMs("PARIS ", 20), 3000);
    EXPECT_EQ(morseDurationMs("PARIS ", 40), 1500);
    // clang-format off
    const std::pair<const char*, int> cases[] = {
        {"PARIS ", 50}, {"PARIS", 43}, {"paris ", 50}, {"E", 1}, {"T", 3}, {"EE", 5}, {"E E", 9}, {"0", 19},
        {"/", 13}, {"?", 15}, {"PA@RIS ", 50}, {"E   E", 9}, {"  E", 1}, {"E @ E", 9}, {"", 0}, {"@#$ ", 0}};
    // clang-format on
    for (const auto& [text, units] : cases) EXPECT_EQ(morseUnits(text), units) << '"' << text << '"';
    for (const char c : std::string("ABCXYZ0123456789/-?.,")) EXPECT_FALSE(morseCode(c).empty()) << c;
}

TEST(NodeSimPtt, CwKeysTheTransmitterForItsMorseTime) {
    SimOnFakeClocks s;
    s.mono = 10'000;
    s.sim.SendCwText(0, "PARIS ");
    EXPECT_EQ(s.sim.GetPttState(), kTrue);
    s.mono += 2999;
    EXPECT_EQ(s.sim.GetPttState(), kTrue);
    s.mono += 1;
    EXPECT_EQ(s.sim.GetPttState(), kFalse);
    EXPECT_EQ(s.sim.lastCwText(), "PARIS ");
    s.sim.SendCwText(0, "@@");  // nothing to send: no keying
    EXPECT_EQ(s.sim.GetPttState(), kFalse);
    EXPECT_EQ(s.sim.lastCwText(), "@@");
}

TEST(NodeSimPtt, QueuedTextsFollowEachOtherAndKeyingStaysContinuous) {
    SimOnFakeClocks s({"N0CALL-L", 40});  // "PARIS " takes 1500 ms
    s.sim.SetPtt(kTrue);
    s.mono = 500;
    s.sim.SendCwText(0, "PARIS ");
    s.sim.SendCwText(0, "PARIS ");  // goes out after the first: until 3500
    s.mono = 1000;
    s.sim.SetPtt(kFalse);  // the Morse still holds the transmitter
    s.mono = 3499;
    EXPECT_TRUE(s.sim.keyed());
    EXPECT_EQ(s.sim.keyedForMs(), 3499);  // one keying since SetPtt at 0
    s.mono = 3500;
    EXPECT_FALSE(s.sim.keyed());
}

// Switches are not node calls, and the window hears of every change (but
// not of queries).
TEST(NodeSimState, ReportsEverySwitchAndTheLastTextAndNotifiesTheWindow) {
    SimOnFakeClocks s;
    EXPECT_EQ(s.sim.stateText(), R"(ptt=0 listed_busy=0 rx=0 busy_a=0 busy_b=0 cw="")");
    int changes = 0;
    std::vector<std::string> texts;
    s.sim.onChange = [&] { ++changes; };
    s.sim.onCwText = [&](const std::string& t) { texts.push_back(t); };

    s.sim.setReceiving(true);
    s.sim.setBusyB(true);
    s.sim.SetListedBusy(7);  // any non-zero lists busy
    s.sim.SendCwText(0, R"(CQ "DE" \)");
    EXPECT_EQ(s.sim.stateText(), R"(ptt=-1 listed_busy=-1 rx=-1 busy_a=0 busy_b=-1 cw="CQ \"DE\" \\")");
    EXPECT_EQ(s.sim.GetReceivingSignal(), kTrue);
    EXPECT_EQ(s.sim.GetBusyFlagB(), kTrue);
    EXPECT_EQ(s.bodies().size(), 4u);  // the listing, the text and the two queries
    EXPECT_EQ(changes, 4);
    EXPECT_EQ(texts, std::vector<std::string>{R"(CQ "DE" \)"});
}

}  // namespace
}  // namespace tarnwick::nodesim
