#include "media/load_file.h"
#include "media/player_controls.h"
#include "platform/dialogs.h"
#include "transmit/transmit_sequence.h"
#include "support/rig.h"

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

constexpr const char* kRenderError = "Render error no rendering device found";

// A started system with the node's start-up calls cleared.
struct Player : ::testing::Test {
    Rig r;
    std::string file;
    // The schedule's once-a-second node queries stay out of these traces.
    void start(std::string settings = "[SETTINGS]\n") {
        if (settings.find("CHECK2=") == std::string::npos) settings += "CHECK2=0\n";
        r.store.text = settings;
        ASSERT_TRUE(r.start());
        r.quietMonitors();
        r.node.clearTrace();
    }
    void startWithFile(double seconds) {
        file = r.mediaFile("id.wav", seconds);
        start("[SETTINGS]\nTEXT4=" + file + "\n");
    }
    Form& f() { return r.form(); }
    void click(CommandButton& b) { ASSERT_TRUE(r.act([&] { b.userClick(); })); }
    // The node calls from the next `ms` of ticks.
    std::string callsDuring(std::chrono::milliseconds ms) {
        const auto mark = r.node.trace.size();
        r.loop.advance(ms);
        return r.node.traceText(mark);
    }
};

TEST_F(Player, IdleTicksListFreeAndUnkeyEveryTickAndMoveNothing) {
    start();
    EXPECT_EQ(callsDuring(30ms), "SetListedBusy 0\nSetPtt 0\nSetListedBusy 0\nSetPtt 0\nSetListedBusy 0\nSetPtt 0");
    EXPECT_EQ(f().Label22.caption(), "00:00:00");
    EXPECT_EQ(f().H1.value(), 0);
    EXPECT_FALSE(f().Beacon8.enabled());
}

TEST_F(Player, PlayKeysThenTheEndIsActedOnOneTickAfterThePositionMeetsTheLength) {
    startWithFile(12.5);
    r.loop.advance(5ms);  // between ticks
    r.node.clearTrace();
    click(f().Command1);
    EXPECT_TRUE(r.dialogs.fileDialogs.empty());  // the saved path needs no dialog
    EXPECT_EQ(r.node.traceText(), "SetPtt -1");
    EXPECT_EQ(f().PTT.caption(), "PTT ON");
    EXPECT_TRUE(f().Beacon8.enabled());
    EXPECT_EQ(f().Text3.text(), "12.5");
    EXPECT_EQ(f().H1.max(), 12);  // 12.5 rounds to the even 12

    // Ticks fall at 10 ms steps; the file runs from 5 ms to 12.505 s.
    EXPECT_EQ(callsDuring(12500ms - 5ms), "");
    EXPECT_EQ(f().Text2.text(), "12.495");
    EXPECT_EQ(callsDuring(10ms), "");  // this tick writes 12.5
    EXPECT_EQ(f().Text2.text(), "12.5");
    EXPECT_EQ(f().Label22.caption(), "00:00:00");
    EXPECT_EQ(callsDuring(10ms), "SetListedBusy 0\nSetPtt 0");
    EXPECT_FALSE(f().Beacon8.enabled());
    EXPECT_EQ(callsDuring(20ms), "SetListedBusy 0\nSetPtt 0\nSetListedBusy 0\nSetPtt 0");  // and on every tick
}

TEST_F(Player, PlayAfterTheEndReplaysTheSameGraphFromZero) {
    startWithFile(1);
    click(f().Command1);
    r.loop.advance(2s);
    r.node.clearTrace();
    click(f().Command1);
    EXPECT_EQ(r.node.traceText(), "SetPtt -1");
    EXPECT_EQ(r.graphs.created, 1);
    EXPECT_EQ(callsDuring(500ms), "");  // playing again, not at the end
    EXPECT_NEAR(r.graphs.current->CurrentPosition(), 0.5, 0.011);
}

TEST_F(Player, StopUnkeysButLeavesTheNodeListedBusy) {
    file = r.mediaFile("id.wav", 60);
    start("[SETTINGS]\nTEXT4=" + file + "\nLISTASBUSYCHECK=1\n");
    ASSERT_TRUE(r.act([&] { TXFile(r.system()); }));
    EXPECT_EQ(r.node.traceText(), "SetListedBusy -1\nSetPtt -1");
    r.loop.advance(1s);
    r.node.clearTrace();
    click(f().Command2);
    EXPECT_EQ(r.node.traceText(), "SetPtt 0");
    EXPECT_EQ(r.node.listedBusy, kNodeTrue);
    EXPECT_EQ(f().PTT.caption(), "PTT OFF");
    EXPECT_FALSE(f().Beacon8.enabled());
    EXPECT_FALSE(r.graphs.current->running());
    // Resume continues where Stop left it.
    click(f().Command4);
    r.loop.advance(500ms);
    EXPECT_NEAR(r.graphs.current->CurrentPosition(), 1.5, 0.011);
}

TEST_F(Player, ResumeAfterTheEndIsUnkeyedOnTheNextTick) {
    startWithFile(1);
    click(f().Command1);
    r.loop.advance(2s);
    r.node.clearTrace();
    click(f().Command4);
    EXPECT_EQ(r.node.traceText(), "SetPtt -1");
    EXPECT_EQ(callsDuring(10ms), "SetListedBusy 0\nSetPtt 0");
}

TEST_F(Player, TheListedBusyRuleFollowsTheBoxExactly) {
    file = r.mediaFile("id.wav", 1);
    start("[SETTINGS]\nTEXT4=" + file + "\nLISTASBUSYCHECK=2\n");
    ASSERT_TRUE(r.act([&] { TXFile(r.system()); }));
    EXPECT_EQ(r.node.traceText(), "SetPtt -1");  // greyed is not ticked
    r.loop.advance(1020ms);
    EXPECT_EQ(r.node.trace.back(), "SetPtt 0");
    EXPECT_EQ(r.node.trace[r.node.trace.size() - 2], "SetListedBusy 0");  // always at the end
}

TEST_F(Player, TxFileDuringATransmissionRestartsTheFileFromZero) {
    startWithFile(10);
    ASSERT_TRUE(r.act([&] { TXFile(r.system()); }));
    r.loop.advance(6s);
    ASSERT_TRUE(r.act([&] { TXFile(r.system()); }));
    EXPECT_EQ(callsDuring(9s), "");  // lasts a whole length from the restart
    EXPECT_EQ(callsDuring(1015ms), "SetListedBusy 0\nSetPtt 0");
}

TEST_F(Player, TheFirstPlayWithNoPathAsksAndCancelKeysNothing) {
    start();
    click(f().Command1);
    ASSERT_EQ(r.dialogs.fileDialogs.size(), 1u);
    EXPECT_EQ(r.dialogs.fileDialogs[0].filter,
              "*.wav, *.mp2, *.mp3, *.bmp, *.jpg, *.mpg, *.avi, *.mid|"
              "*.wav;*.mp2;*.mp3;*.bmp;*.jpg;*.mpg;*.avi;*.mid");
    ASSERT_EQ(r.dialogs.boxes.size(), 1u);
    EXPECT_EQ(r.dialogs.boxes[0].text, "Please select a file");
    EXPECT_EQ(r.dialogs.boxes[0].title, "Error");
    EXPECT_EQ(r.dialogs.boxes[0].style, mb::kIconInformation);
    EXPECT_EQ(r.node.traceText(), "");  // not keyed with nothing to play
    EXPECT_EQ(f().PTT.caption(), "PTT OFF");
}

TEST_F(Player, APathThatIsGoneAsksToSelectAFileOnEveryCall) {
    start("[SETTINGS]\nTEXT4=/nonexistent/id.wav\n");
    click(f().Command1);
    click(f().Command1);
    EXPECT_EQ(r.dialogs.boxes.size(), 2u);
    EXPECT_TRUE(r.dialogs.fileDialogs.empty());
    EXPECT_EQ(r.node.traceText(), "");
}

TEST_F(Player, CancelOnLoadFileKeepsTheEarlierGraphInUse) {
    startWithFile(30);
    click(f().Command1);
    r.loop.advance(1s);
    click(f().Command3);  // Cancel (no scripted answer)
    EXPECT_EQ(f().Text4.text(), "");
    EXPECT_EQ(r.dialogs.boxes.back().text, "Please select a file");
    EXPECT_EQ(r.graphs.created, 1);
    ASSERT_NE(r.graphs.current, nullptr);
    EXPECT_TRUE(r.graphs.current->running());
    click(f().Command1);  // later transmissions play it
    EXPECT_EQ(r.graphs.created, 1);
    EXPECT_TRUE(r.graphs.current->running());
}

TEST_F(Player, AFailedLoadLeavesNoGraphIsNotRetriedAndKeysNothing) {
    file = r.mediaFile("bad.wav", 1);
    r.graphs.lengths.erase(file);  // exists, but cannot be rendered
    start("[SETTINGS]\nTEXT4=" + file + "\n");
    click(f().Command1);
    ASSERT_EQ(r.dialogs.boxes.size(), 1u);
    EXPECT_EQ(r.dialogs.boxes[0].text, kRenderError);
    EXPECT_EQ(r.dialogs.boxes[0].style, mb::kIconExclamation);
    EXPECT_FALSE(r.system().hasGraph());
    EXPECT_EQ(r.system().LoadedFile, file);
    click(f().Command1);
    click(f().Command4);
    EXPECT_EQ(r.dialogs.boxes.size(), 1u);  // no second attempt
    EXPECT_EQ(r.graphs.calls.size(), 2u);   // one RenderFile, one Release
    EXPECT_EQ(r.node.traceText(), "");      // and nothing keyed, ever
}

TEST_F(Player, TheProgressBarTakesTheLengthAsASigned16BitWhole) {
    start();
    auto load = [&](double seconds) {
        const std::string p = r.mediaFile("f" + std::to_string(seconds) + ".wav", seconds);
        r.dialogs.fileAnswers.push_back({p, nullptr});
        EXPECT_TRUE(r.act([&] { f().Command3.userClick(); }));
    };
    load(2.5);
    EXPECT_EQ(f().H1.max(), 2);
    load(3.5);
    EXPECT_EQ(f().H1.max(), 4);
    load(32767.4);
    EXPECT_EQ(f().H1.max(), 32767);
    EXPECT_EQ(f().Text3.text(), "32767.4");
    load(32767.5);
    EXPECT_EQ(r.dialogs.boxes.back().text, kRenderError);
    EXPECT_FALSE(r.system().hasGraph());
    EXPECT_EQ(f().H1.max(), 32767);  // the earlier length stays
    EXPECT_EQ(f().Text3.text(), "32767.4");
}

TEST_F(Player, ASecondLoadWhileTheDialogIsOpenIsRefused) {
    startWithFile(30);
    const std::string other = r.mediaFile("other.wav", 5);
    r.dialogs.fileAnswers.push_back({other, [&] {
                                         // Play pressed (a beacon, a DTMF command) while the dialog waits.
                                         f().Command1.userClick();
                                         r.loop.advance(50ms);
                                     }});
    click(f().Command3);
    EXPECT_EQ(r.dialogs.fileDialogs.size(), 1u);
    EXPECT_EQ(r.node.traceText().find("SetPtt -1"), std::string::npos);  // the nested start sent nothing
    EXPECT_EQ(r.system().LoadedFile, other);
}

TEST_F(Player, LoadFileDuringATransmissionEndsItWhenTheGraphIsReleased) {
    file = r.mediaFile("id.wav", 60);
    start("[SETTINGS]\nTEXT4=" + file + "\nLISTASBUSYCHECK=1\n");
    ASSERT_TRUE(r.act([&] { TXFile(r.system()); }));
    r.loop.advance(1s);
    const std::string other = r.mediaFile("other.wav", 5);
    r.dialogs.fileAnswers.push_back({other, nullptr});
    r.node.clearTrace();
    click(f().Command3);
    EXPECT_EQ(r.node.traceText(), "SetListedBusy 0\nSetPtt 0");
    EXPECT_FALSE(f().Beacon8.enabled());
    EXPECT_FALSE(r.graphs.current->running());  // the new graph waits for a start
}

TEST_F(Player, TheBarsReachTheGraphOnlyWhenTheyChange) {
    startWithFile(30);
    click(f().Command1);
    f().V2.userChange(200);
    f().V2.userChange(10);
    f().V1.userChange(-3000);
    f().H2.userChange(-5000);
    f().H1.userScroll(12);
    std::vector<std::string> tail(r.graphs.calls.end() - 5, r.graphs.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"SetRate 2", "SetRate 0.1", "SetVolume -3000", "SetBalance -5000",
                                              "SetCurrentPosition 12"}));
    EXPECT_EQ(f().VolSet.text(), "-3000");
    // A new graph starts at the component's own values.
    EXPECT_EQ(r.graphs.current->rate(), 0.1);
}

TEST_F(Player, TheVolumeBarWritesItsValueBackWithoutAGraph) {
    start();
    f().V1.userChange(-1500);
    EXPECT_EQ(f().VolSet.text(), "-1500");
}

TEST(FormatClock, Table) {
    EXPECT_EQ(FormatClock(0.99), "00:00:00");
    EXPECT_EQ(FormatClock(1), "00:00:01");
    EXPECT_EQ(FormatClock(59.9), "00:00:59");
    EXPECT_EQ(FormatClock(3600), "01:00:00");
    EXPECT_EQ(FormatClock(86399), "23:59:59");
    EXPECT_EQ(FormatClock(86400), "24:00:00");
    EXPECT_EQ(FormatClock(89999), "24:59:59");
    EXPECT_EQ(FormatClock(90000), "24:59:59");
    EXPECT_EQ(FormatClock(1e9), "24:59:59");
    EXPECT_EQ(FormatClock(-5), "00:00:00");
}

}  // namespace
}  // namespace tarnwick::test
