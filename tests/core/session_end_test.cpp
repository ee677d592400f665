// The end that comes from outside (a signal, a session that ends without
// asking), and the keying changes the guardian is told of.
#include "app/session_end.h"
#include "core/started.h"
#include "guard/keying_watch.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnwick::test {
namespace {

struct SessionEnd : Started {
    void SetUp() override { start(); }
    bool endSession(int status) {
        return r.act([&] { EndSession(r.system(), status); });
    }
};

TEST_F(SessionEnd, WhileKeyedItUnkeysListsFreeAndEndsWithoutSaving) {
    click(f().Command1);
    ASSERT_EQ(keys(), 1);
    f().CWCallsign.setText("K1CHANGED");
    const auto mark = r.node.trace.size();
    EXPECT_FALSE(endSession(143));
    EXPECT_EQ(r.node.traceText(mark), "SetPtt 0\nSetListedBusy 0");
    EXPECT_EQ(r.loop.exitStatus(), 143);
    EXPECT_EQ(f().PTT.caption(), "PTT OFF");
    EXPECT_FALSE(f().Beacon8.enabled());
    ASSERT_TRUE(r.store.text.has_value());
    EXPECT_EQ(r.store.text->find("K1CHANGED"), std::string::npos);  // not saved
    EXPECT_TRUE(r.dialogs.boxes.empty());
}

// The end comes whatever the node does: a failing unkey still lists free,
// and a node that fails everything still lets the program end.
TEST_F(SessionEnd, AFailingStepIsSkipped) {
    click(f().Command1);
    r.node.failing = {"SetPtt"};
    auto mark = r.node.trace.size();
    EXPECT_FALSE(endSession(130));
    EXPECT_EQ(r.node.traceText(mark), "SetPtt => error\nSetListedBusy 0");
    EXPECT_TRUE(r.dialogs.boxes.empty());

    StartedRig other;
    other.start();
    other.r.node.failing = {"SetPtt", "SetListedBusy"};
    EXPECT_FALSE(other.r.act([&] { EndSession(other.r.system(), 129); }));
    EXPECT_EQ(other.r.loop.exitStatus(), 129);
}

// A box waits for someone who may never come: the end does not wait for it.
TEST_F(SessionEnd, ItEndsAlsoFromInsideAnOpenQuestion) {
    click(f().Command1);
    const auto mark = r.node.trace.size();
    r.dialogs.answers.push_back({MsgResult::No, [&] { EndSession(r.system(), 143); }});
    EXPECT_FALSE(r.act([&] { r.system().requestClose(); }));
    EXPECT_EQ(r.node.traceText(mark), "SetPtt 0\nSetListedBusy 0");
    EXPECT_EQ(r.loop.exitStatus(), 143);
}

// What the guardian is told, from the real handlers: a change, never a repeat.
struct Keying : Started, KeyingObserver {
    std::vector<bool> told;
    std::unique_ptr<KeyingWatchConnector> watched;

    void keyingChanged(bool keyed) override { told.push_back(keyed); }
    void SetUp() override {
        watched = std::make_unique<KeyingWatchConnector>(r.connector, *this);
        r.sys = std::make_unique<System>(
            Platform{r.loop, r.dialogs, r.frame, r.locale, r.store, *watched, r.graphs, VersionInfo{1, 0, 0, 5}});
        start("", 2);
    }
    void TearDown() override { r.sys.reset(); }  // the link refers to this observer
};

TEST_F(Keying, EachKeyAndUnkeyIsToldOnceAndTheIdleUnkeysNever) {
    EXPECT_TRUE(told.empty());  // start-up's unkey changes nothing
    click(f().Command1);
    EXPECT_EQ(told, std::vector<bool>({true}));
    // The file ends, and the idle tick unkeys a hundred times a second.
    ASSERT_TRUE(r.loop.advance(5s));
    ASSERT_GT(count("SetPtt 0"), 100);
    EXPECT_EQ(told, std::vector<bool>({true, false}));
    click(f().Command1);
    click(f().Command2);  // Stop
    click(f().Command4);  // Resume
    click(f().Command4);  // a second Resume keys an already keyed node
    EXPECT_EQ(told, std::vector<bool>({true, false, true, false, true}));
}

// Until an unkey has gone out, the node may be on the air: a key counts
// from before its call, an unkey only once it did not fail.
TEST_F(Keying, AFailedKeyCountsAsKeyedAndAFailedUnkeyLeavesItKeyed) {
    r.node.failing = {"SetPtt"};
    click(f().Command1);
    EXPECT_EQ(told, std::vector<bool>({true}));
    ASSERT_TRUE(r.loop.advance(5s));  // the end-of-file unkeys all fail
    EXPECT_EQ(told, std::vector<bool>({true}));
    r.node.failing.clear();
    ASSERT_TRUE(r.loop.advance(20ms));
    EXPECT_EQ(told, std::vector<bool>({true, false}));
}

// A link that only queues an unkey for its own thread (the COM link): the
// node is on the air until it has the unkey, and a process that ends before
// loses it. The guardian hears "unkeyed" only once the node has it; the
// program's end waits for it, and a node that sits on it past that wait is
// left to the guardian.
TEST_F(Keying, AnUnkeyOnItsWayIsToldOnlyOnceTheNodeHasItAndTheEndWaitsForIt) {
    r.node.sendLate = true;
    click(f().Command1);
    ASSERT_TRUE(r.loop.advance(3s));  // the 2 s file ended; its unkeys are all still queued
    EXPECT_EQ(told, std::vector<bool>({true}));
    r.node.deliverSent();
    ASSERT_TRUE(r.loop.advance(20ms));
    EXPECT_EQ(told, std::vector<bool>({true, false}));

    // The error report while keyed: makeSafe's unkey is queued, the report
    // answered, and the node has the unkey before the process ends.
    click(f().Command1);
    r.node.failNext = {"GetPttState"};
    f().Timer5.setEnabled(true);
    EXPECT_FALSE(r.loop.advance(200ms));
    EXPECT_EQ(r.loop.exitStatus(), 1);
    EXPECT_EQ(r.node.trace.back(), "SetListedBusy 0");
    EXPECT_EQ(r.node.ptt, kNodeFalse);
    EXPECT_EQ(told, std::vector<bool>({true, false, true, false}));
}

TEST_F(Keying, ANodeThatSitsOnTheUnkeyAtTheEndLeavesTheGuardianToldKeyed) {
    r.node.sendLate = r.node.sentStall = true;
    std::chrono::milliseconds waited{0};
    r.node.blocked = [&](std::chrono::milliseconds d) { waited += d; };
    click(f().Command1);
    r.node.failNext = {"GetPttState"};
    f().Timer5.setEnabled(true);
    EXPECT_FALSE(r.loop.advance(200ms));
    EXPECT_EQ(r.loop.exitStatus(), 1);
    EXPECT_EQ(waited, kSentCallsWaitAtEnd);
    EXPECT_EQ(r.node.ptt, kNodeTrue);
    EXPECT_EQ(told, std::vector<bool>({true}));
}

}  // namespace
}  // namespace tarnwick::test
