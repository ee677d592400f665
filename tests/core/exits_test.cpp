#include "seams/dialogs.h"
#include "core/started.h"

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

constexpr const char* kQuestion = "Quit - Remember to save your settings - Are You Sure ? ";

struct Exits : ::testing::Test {
    Rig r;
    std::size_t mark = 0;
    void SetUp() override {
        ASSERT_TRUE(r.start());
        mark = r.node.trace.size();
    }
};

TEST_F(Exits, AnsweringNoKeepsEverythingRunningAndTheWindowCanBeClosedLater) {
    r.form().PTT.setCaption("PTT ON");
    r.dialogs.answers.push_back({MsgResult::No, nullptr});
    EXPECT_TRUE(r.act([&] { r.system().requestClose(); }));
    ASSERT_EQ(r.dialogs.boxes.size(), 1u);
    EXPECT_EQ(r.dialogs.boxes[0].text, kQuestion);
    EXPECT_EQ(r.dialogs.boxes[0].title, "Exit Program");
    EXPECT_EQ(r.dialogs.boxes[0].style, 36);
    EXPECT_EQ(r.node.traceText(mark), "");
    EXPECT_EQ(r.form().PTT.caption(), "PTT ON");

    int ticks = 0;
    r.form().Timer4.onTick = [&] { ++ticks; };
    r.dialogs.answers.push_back({MsgResult::No, [&] { r.loop.advance(1s); }});
    EXPECT_TRUE(r.act([&] { r.system().requestClose(); }));
    EXPECT_EQ(ticks, 10);  // the timers ran while the question was open

    r.dialogs.answers.push_back({MsgResult::Yes, nullptr});
    EXPECT_FALSE(r.act([&] { r.system().requestClose(); }));
    EXPECT_EQ(r.dialogs.boxes.size(), 3u);
}

TEST_F(Exits, AnsweringYesUnkeysListsFreeAndDropsUnsavedSettings) {
    r.form().Beacon8.setEnabled(true);
    r.form().CWCallsign.setText("K1CHANGED");
    r.dialogs.answers.push_back({MsgResult::Yes, nullptr});
    EXPECT_FALSE(r.act([&] { r.system().requestClose(); }));
    EXPECT_EQ(r.node.traceText(mark), "SetPtt 0\nSetListedBusy 0");
    EXPECT_EQ(r.form().PTT.caption(), "PTT OFF");
    EXPECT_FALSE(r.form().Beacon8.enabled());
    EXPECT_FALSE(r.store.text.has_value());
    EXPECT_EQ(r.loop.exitStatus(), 0);
    // Nothing runs after the end.
    EXPECT_FALSE(r.loop.advance(5s));
}

TEST_F(Exits, ClosingWhileTheQuestionIsOpenSavesAndEndsWithoutTheAnswer) {
    r.form().CWCallsign.setText("K1ABC");
    r.dialogs.answers.push_back({MsgResult::No, [&] {
                                     r.node.raiseClosing();
                                     r.loop.advance(100ms);
                                 }});
    EXPECT_FALSE(r.act([&] { r.system().requestClose(); }));
    EXPECT_EQ(r.node.traceText(mark), "event Closing\nSetPtt 0");  // no SetListedBusy from the question's path
    EXPECT_TRUE(r.saved("CWCALLSIGN=K1ABC"));
    EXPECT_EQ(r.dialogs.boxes.size(), 1u);
}

TEST_F(Exits, SaveAndExitSavesWithoutAsking) {
    r.form().CWCallsign.setText("K1ABC");
    r.form().Beacon8.setEnabled(true);
    EXPECT_FALSE(r.act([&] { r.form().SaveAndExit.userClick(); }));
    EXPECT_EQ(r.node.traceText(mark), "SetPtt 0\nSetListedBusy 0");
    EXPECT_TRUE(r.dialogs.boxes.empty());
    EXPECT_FALSE(r.form().Beacon8.enabled());
    EXPECT_TRUE(r.saved("CWCALLSIGN=K1ABC"));
}

// A node that fails (or is already gone) must not cost the save: the
// settings land first, then the report, under which no tick runs.
TEST_F(Exits, AFailingNodeInAnExitThatSavesStillSaves) {
    for (const std::string op : {"SetPtt", "SetListedBusy"}) {
        Rig e;
        ASSERT_TRUE(e.start());
        int ticks = 0;
        e.form().Timer4.onTick = [&] { ++ticks; };
        e.form().Mon3.userToggle();
        e.node.failing.insert(op);
        e.dialogs.answers.push_back({MsgResult::Ok, [&] { e.loop.advance(1s); }});
        EXPECT_FALSE(e.act([&] { e.form().SaveAndExit.userClick(); }));
        EXPECT_TRUE(e.saved("MON3=1")) << op;
        ASSERT_EQ(e.dialogs.boxes.size(), 1u) << op;
        EXPECT_NE(e.dialogs.boxes[0].text.find(op), std::string::npos) << op;
        EXPECT_EQ(e.loop.exitStatus(), 1);
        EXPECT_EQ(ticks, 0);
    }
    // The node closing: it may well not answer any more; no box for that.
    r.form().Mon3.userToggle();
    r.node.failing = {"SetPtt", "SetListedBusy"};
    r.node.raiseClosing();
    EXPECT_FALSE(r.loop.advance(10ms));
    EXPECT_TRUE(r.saved("MON3=1"));
    EXPECT_TRUE(r.dialogs.boxes.empty());
    EXPECT_EQ(r.loop.exitStatus(), 0);
}

// The graph is released before the process ends, on the node's closing
// while it plays as on a report: a component's threads may not survive
// being ended with the process.
TEST_F(Exits, TheGraphGoesBeforeTheProcess) {
    StartedRig s;
    s.start();
    s.click(s.f().Command1);
    ASSERT_TRUE(s.r.graphs.current != nullptr && s.r.graphs.current->running());
    s.r.node.raiseClosing();
    EXPECT_FALSE(s.r.loop.advance(10ms));
    EXPECT_EQ(s.r.loop.exitStatus(), 0);
    EXPECT_EQ(s.r.graphs.current, nullptr) << "the graph outlived the program";
}

// Once an exit has begun nothing keys the node: not a DTMF command nor a
// beacon falling due while the save's failure is reported. The message
// does not promise to keep what is about to go.
TEST_F(Exits, NothingKeysWhileAFailedSaveOnTheWayOutIsReported) {
    StartedRig s;
    Rig& e = s.r;
    s.start("DTMFInfo3=55\nBEACONPERIOD6=1\n", 5);
    e.store.failWith = {{"/var/lib/tarnwick/tarnwick.ini", "Read-only file system"}};
    e.dialogs.answers.push_back({MsgResult::Ok, [&] {
                                     e.node.raiseDTMF("55");
                                     e.loop.advance(120s);
                                 }});
    EXPECT_FALSE(e.act([&] { e.form().SaveAndExit.userClick(); }));
    EXPECT_EQ(s.keys(), 0) << e.node.traceText();
    ASSERT_EQ(e.dialogs.boxes.size(), 1u);
    EXPECT_EQ(e.dialogs.boxes[0].text.find("kept"), std::string::npos);
    EXPECT_NE(e.dialogs.boxes[0].text.find("closing"), std::string::npos);
}

// An exit that saves, whose unkey the node failed once: the unkey goes
// again before the save, whose message may then wait a long time with
// nothing else running, and no transmitter stays keyed under it.
TEST_F(Exits, AnUnkeyFailedOnAnExitThatSavesGoesAgainBeforeTheSave) {
    for (const bool nodeCloses : {false, true}) {
        StartedRig s;
        Rig& e = s.r;
        s.start("", 30);
        s.click(s.f().Command1);
        e.node.failNext = {"SetPtt"};
        e.store.failWith = {{"/var/lib/tarnwick/tarnwick.ini", "No space left on device"}};
        int pttUnderTheBox = kNodeTrue;
        e.dialogs.answers.push_back({MsgResult::Ok, [&] { pttUnderTheBox = e.node.ptt; }});
        if (nodeCloses) {
            e.node.raiseClosing();
            EXPECT_FALSE(e.loop.advance(10ms));
        } else {
            EXPECT_FALSE(e.act([&] { e.form().SaveAndExit.userClick(); }));
        }
        ASSERT_FALSE(e.dialogs.boxes.empty());
        EXPECT_NE(e.dialogs.boxes[0].text.find("could not be saved"), std::string::npos) << nodeCloses;
        EXPECT_EQ(pttUnderTheBox, 0) << nodeCloses;
    }
}

// No handler runs while the standard error report is open, so no
// end-of-file tick would unkey: the node is unkeyed and listed free and the
// playback stopped before the box opens, also when those calls fail too;
// a DTMF command and a beacon falling due under the box key nothing.
TEST_F(Exits, TheErrorReportOpensOnlyOnceTheTransmitterIsSafe) {
    for (const bool nodeFailsToo : {false, true}) {
        StartedRig s;
        Rig& e = s.r;
        s.start("ListAsBusyCheck=1\nDTMFInfo3=55\nSTOPCLOCK6=1\nBEACONPERIOD6=1\n", 30);
        s.click(s.f().Command1);
        e.form().Timer4.setEnabled(true);  // the monitor whose query fails
        e.node.listedBusy = kNodeTrue;
        bool safeWhileOpen = false, silentWhileOpen = false;
        int keysUnderTheBox = -1;
        e.dialogs.answers.push_back({MsgResult::Ok, [&] {
                                         silentWhileOpen = !e.graphs.current->running();
                                         safeWhileOpen = e.node.ptt == 0 && e.node.listedBusy == 0 && silentWhileOpen;
                                         const int before = s.keys();
                                         e.node.raiseDTMF("55");
                                         e.loop.advance(60s);
                                         keysUnderTheBox = s.keys() - before;
                                     }});
        e.node.failing.insert("GetReceivingSignal");  // the monitor's query, 100 ms on
        if (nodeFailsToo) e.node.failing.insert("SetPtt");
        EXPECT_FALSE(e.loop.advance(1s));
        ASSERT_EQ(e.dialogs.boxes.size(), 1u);
        EXPECT_NE(e.dialogs.boxes[0].text.find("Run-time error"), std::string::npos);
        EXPECT_EQ(safeWhileOpen, !nodeFailsToo) << e.node.traceText();
        EXPECT_EQ(keysUnderTheBox, 0);
        if (nodeFailsToo) {
            // The unkey failed, but the listing and the playback were still seen to.
            EXPECT_EQ(e.node.listedBusy, 0);
            EXPECT_TRUE(silentWhileOpen);
        }
        EXPECT_EQ(e.loop.exitStatus(), 1);
        EXPECT_EQ(e.graphs.current, nullptr) << "the graph outlived the program";
    }
}

// A node program that quits as soon as it has raised Closing fails the
// monitor's call made before the event's turn: that is the node closing,
// and its path saves, with no report.
TEST_F(Exits, ACallFailedByANodeThatRaisedClosingAndQuitTakesTheClosingPath) {
    r.form().CWCallsign.setText("K1CHANGED");
    r.node.failsNow = [&](const std::string& op, bool) {
        if (op == "GetPttState" && !r.node.closingRaised) r.node.raiseClosing();
        return r.node.closingRaised;
    };
    EXPECT_FALSE(r.loop.advance(200ms));
    EXPECT_TRUE(r.dialogs.boxes.empty());
    EXPECT_EQ(r.loop.exitStatus(), 0);
    EXPECT_TRUE(r.saved("CWCALLSIGN=K1CHANGED"));
    EXPECT_NE(r.log.events().find("a node call failed as the node was closing: Automation error: GetPttState failed\n"
                                  "exit: node closing"),
              std::string::npos)
        << r.log.events();
}

TEST_F(Exits, ASaveThatFailsIsReportedWithTheFileAndTheReason) {
    r.store.failWith = {{"/var/lib/tarnwick/tarnwick.ini", "No space left on device"}};
    EXPECT_TRUE(r.act([&] { r.form().Command5.userClick(); }));
    ASSERT_EQ(r.dialogs.boxes.size(), 1u);
    const std::string& text = r.dialogs.boxes[0].text;
    EXPECT_NE(text.find("/var/lib/tarnwick/tarnwick.ini"), std::string::npos);
    EXPECT_NE(text.find("No space left on device"), std::string::npos);
    EXPECT_EQ(r.dialogs.boxes[0].style, mb::kOk | mb::kIconExclamation);
}

}  // namespace
}  // namespace tarnwick::test
