#include "platform/dialogs.h"
#include "support/rig.h"

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
    ASSERT_TRUE(r.store.text.has_value());
    EXPECT_NE(r.store.text->find("CWCALLSIGN=K1ABC"), std::string::npos);
    EXPECT_EQ(r.dialogs.boxes.size(), 1u);
}

TEST_F(Exits, SaveAndExitSavesWithoutAsking) {
    r.form().CWCallsign.setText("K1ABC");
    r.form().Beacon8.setEnabled(true);
    EXPECT_FALSE(r.act([&] { r.form().SaveAndExit.userClick(); }));
    EXPECT_EQ(r.node.traceText(mark), "SetPtt 0\nSetListedBusy 0");
    EXPECT_TRUE(r.dialogs.boxes.empty());
    EXPECT_FALSE(r.form().Beacon8.enabled());
    ASSERT_TRUE(r.store.text.has_value());
    EXPECT_NE(r.store.text->find("CWCALLSIGN=K1ABC"), std::string::npos);
}

// The report stays open a second: no tick runs under it, nothing is saved.
TEST_F(Exits, AFailingNodeCallInSaveAndExitEndsBeforeTheSave) {
    int ticks = 0;
    r.form().Timer4.onTick = [&] { ++ticks; };
    r.node.failing.insert("SetListedBusy");
    r.dialogs.answers.push_back({MsgResult::Ok, [&] { r.loop.advance(1s); }});
    EXPECT_FALSE(r.act([&] { r.form().SaveAndExit.userClick(); }));
    EXPECT_FALSE(r.store.text.has_value());
    ASSERT_EQ(r.dialogs.boxes.size(), 1u);
    EXPECT_NE(r.dialogs.boxes[0].text.find("SetListedBusy"), std::string::npos);
    EXPECT_EQ(r.loop.exitStatus(), 1);
    EXPECT_EQ(ticks, 0);
}

TEST_F(Exits, NodeClosingUnkeysSavesAndEndsWithoutAQuestion) {
    r.form().PTT.setCaption("PTT ON");
    r.node.raiseClosing();
    EXPECT_FALSE(r.loop.advance(10ms));
    EXPECT_EQ(r.node.traceText(mark), "event Closing\nSetPtt 0");
    EXPECT_TRUE(r.store.text.has_value());
    EXPECT_EQ(r.form().PTT.caption(), "PTT ON");  // this path leaves the label alone
    EXPECT_TRUE(r.dialogs.boxes.empty());
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

TEST_F(Exits, AboutOpensWithoutBlockingTheTimers) {
    int ticks = 0;
    r.form().Timer5.onTick = [&] { ++ticks; };
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(r.act([&] { r.form().Command7.userClick(); }));
    EXPECT_EQ(r.dialogs.aboutShown, 2);
    EXPECT_EQ(r.dialogs.lastAbout.version, "1.0.5");
    EXPECT_EQ(r.dialogs.lastAbout.product, "Tarnwick");
    EXPECT_TRUE(r.loop.advance(1s));
    EXPECT_EQ(ticks, 10);
}

}  // namespace
}  // namespace tarnwick::test
