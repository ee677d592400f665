// The stand-in node's behaviour on fake clocks: what it traces, how long
// Morse keys it, made-to-fail calls and its state text. Its command line is
// what every scenario and node-link suite starts it with.
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

TEST(NodeSimTrace, WritesOneStampedLinePerCallAndEvent) {
    SimOnFakeClocks s;
    ASSERT_TRUE(s.sim.GetSysopInfo());
    EXPECT_EQ(s.sim.GetCallsign(), "N0CALL-L");
    ASSERT_TRUE(s.sim.SetPtt(kFalse));
    EXPECT_EQ(s.sim.GetPttState(), kFalse);
    s.sim.noteDtmf("1234");
    ASSERT_TRUE(s.sim.SetPtt(kTrue));
    ASSERT_TRUE(s.sim.SendCwText(0, "N0CALL"));
    s.sim.noteClosing();

    EXPECT_EQ(s.out.str(),
              "1765053600123 GetSysopInfo\n"
              "1765053600124 GetCallsign => \"N0CALL-L\"\n"
              "1765053600125 SetPtt 0\n"
              "1765053600126 GetPttState => 0\n"
              "1765053600127 event DTMFString \"1234\"\n"
              "1765053600128 SetPtt -1\n"
              "1765053600129 SendCwText 0 \"N0CALL\"\n"
              "1765053600130 event Closing\n");
}

TEST(NodeSimTrace, EscapesQuotesBackslashesAndLineBreaksAndANullStreamWritesNothing) {
    EXPECT_EQ(quoted(R"(say "hi" \ now)"), R"("say \"hi\" \\ now")");
    EXPECT_EQ(quoted("two\nlines\r\tx"), R"("two\nlines\r\tx")");
    EXPECT_EQ(quoted(""), R"("")");

    SimOnFakeClocks s({"K1\"X\\-L", 20});
    s.sim.GetCallsign();
    s.sim.noteDtmf("1\"2");
    EXPECT_EQ(s.bodies(), (std::vector<std::string>{R"(GetCallsign => "K1\"X\\-L")", R"(event DTMFString "1\"2")"}));

    TraceWriter silent(nullptr, [] { return std::int64_t{0}; });
    silent.write("SetPtt", "0");
    EXPECT_TRUE(silent.good());
}

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

TEST(NodeSimPtt, SetPttKeysUntilReleasedAndAnyNonZeroIsTrue) {
    SimOnFakeClocks s;
    EXPECT_EQ(s.sim.GetPttState(), kFalse);
    s.sim.SetPtt(kTrue);
    s.mono += 60'000;
    EXPECT_EQ(s.sim.GetPttState(), kTrue);
    EXPECT_EQ(s.sim.keyedForMs(), 60'000);
    s.sim.SetPtt(kFalse);
    EXPECT_EQ(s.sim.GetPttState(), kFalse);
    EXPECT_EQ(s.sim.keyedForMs(), std::nullopt);
    s.sim.SetPtt(1);
    EXPECT_EQ(s.sim.GetPttState(), kTrue);
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

TEST(NodeSimFailNext, FailsOnlyTheNextCallOfEachOperationWithoutEffect) {
    SimOnFakeClocks s;
    s.sim.failNext(Operation::SetPtt);
    s.sim.failNext(Operation::GetPttState);
    s.sim.failNext(Operation::GetPttState);
    for (Operation op :
         {Operation::SendCwText, Operation::GetSysopInfo, Operation::GetCallsign, Operation::SetListedBusy}) {
        s.sim.failNext(op);
    }

    EXPECT_FALSE(s.sim.SetPtt(kTrue));
    EXPECT_FALSE(s.sim.keyed());
    EXPECT_EQ(s.sim.GetBusyFlagA(), kFalse);  // another operation is not touched
    EXPECT_EQ(s.sim.GetPttState(), std::nullopt);
    EXPECT_EQ(s.sim.GetPttState(), std::nullopt);
    EXPECT_EQ(s.sim.GetPttState(), kFalse);
    EXPECT_TRUE(s.sim.SetPtt(kTrue));
    EXPECT_FALSE(s.sim.SendCwText(0, "X"));
    EXPECT_EQ(s.sim.lastCwText(), "");
    EXPECT_FALSE(s.sim.GetSysopInfo());
    EXPECT_EQ(s.sim.GetCallsign(), std::nullopt);
    EXPECT_FALSE(s.sim.SetListedBusy(kTrue));
    EXPECT_FALSE(s.sim.listedBusy());

    EXPECT_EQ(s.bodies(), (std::vector<std::string>{"SetPtt -1 => error", "GetBusyFlagA => 0", "GetPttState => error",
                                                    "GetPttState => error", "GetPttState => 0", "SetPtt -1",
                                                    R"(SendCwText 0 "X" => error)", "GetSysopInfo => error",
                                                    "GetCallsign => error", "SetListedBusy -1 => error"}));
}

// A stall holds up the next call only, whichever it is, and the trace shows
// when it came (the stall's line) and when it was answered (its own).
TEST(NodeSimStall, HoldsOnlyTheNextCallOfAnyKindAndTracesWhenItCameAndWhenAnswered) {
    SimOnFakeClocks s;
    std::vector<std::int64_t> slept;
    s.sim.sleep = [&](std::int64_t ms) {
        slept.push_back(ms);
        s.mono += ms;
        s.wall += ms;
    };
    s.sim.stallNext(1000);
    s.sim.stallNext(3000);  // replaces the first
    ASSERT_TRUE(s.sim.SetPtt(kTrue));
    EXPECT_EQ(s.sim.GetPttState(), kTrue);
    s.sim.stallNext(250);
    s.sim.failNext(Operation::GetCallsign);
    EXPECT_EQ(s.sim.GetCallsign(), std::nullopt);  // stalled, then failed
    s.sim.stallNext(0);
    EXPECT_EQ(s.sim.GetBusyFlagB(), kFalse);

    EXPECT_EQ(slept, (std::vector<std::int64_t>{3000, 250}));
    EXPECT_EQ(s.out.str(),
              "1765053600123 stall 3000\n"
              "1765053603124 SetPtt -1\n"
              "1765053603125 GetPttState => -1\n"
              "1765053603126 stall 250\n"
              "1765053603377 GetCallsign => error\n"
              "1765053603378 GetBusyFlagB => 0\n");
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
