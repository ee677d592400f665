#include "app/lifecycle.h"
#include "seams/dialogs.h"
#include "settings/settings.h"
#include "support/rig.h"

#include <gtest/gtest.h>

#include <functional>

namespace tarnwick::test {
namespace {

// A call sign with a hyphen anywhere is a node in Sysop mode.
TEST(StartUp, TalksToTheNodeInOrderThenRestoresSettings) {
    for (const std::string call : {"N0CALL-L", "-", "K1ABC-R", "A-B-C", "-X"}) {
        Rig r;
        r.node.callsign = call;
        ASSERT_TRUE(r.start()) << call;
        const std::string read = "GetSysopInfo\nGetCallsign => \"" + call + "\"\n";
        EXPECT_EQ(r.node.traceText(), read + read + "SetPtt 0");
        EXPECT_EQ(r.form().caption(), "Tarnwick    " + call + "   v1.0.5");
        EXPECT_TRUE(r.frame.shown);
        EXPECT_TRUE(r.dialogs.boxes.empty());
        EXPECT_FALSE(r.store.text.has_value());  // nothing written at start
    }
}

TEST(StartUp, RefusesANodeOutsideSysopModeWithoutTouchingAnything) {
    Rig r;
    r.node.callsign = "N0CALL";
    r.store.text = "[SETTINGS]\nTEXT6=7\n";
    r.node.ptt = kNodeTrue;
    EXPECT_FALSE(r.start());
    ASSERT_EQ(r.dialogs.boxes.size(), 1u);
    const auto& box = r.dialogs.boxes[0];
    EXPECT_EQ(box.text, std::string(20, ' ') + "Quillmoor ONLY Runs in Sysop Mode\r\n\r\n" +
                            " Visit the Website for more information.  " + kProductWebAddress);
    EXPECT_EQ(box.title, "Tarnwick");
    EXPECT_EQ(box.style, mb::kOk);
    EXPECT_EQ(r.node.traceText(), "GetSysopInfo\nGetCallsign => \"N0CALL\"");  // no unkey, no second read
    EXPECT_FALSE(r.frame.shown);
    EXPECT_EQ(r.form().Text6.text(), "100");  // no setting read
    EXPECT_EQ(*r.store.text, "[SETTINGS]\nTEXT6=7\n");
    EXPECT_EQ(r.loop.exitStatus(), 0);
}

// The refusal ends the program: a node closing while it is open neither
// saves the window's design values nor touches the transmitter.
TEST(StartUp, ANodeClosingDuringTheRefusalChangesNothing) {
    Rig r;
    r.node.callsign = "N0CALL";
    r.store.text = "[SETTINGS]\nCWCALLSIGN=K1ABC\n";
    r.dialogs.answers.push_back({MsgResult::Ok, [&] {
                                     r.node.raiseClosing();
                                     r.node.raiseDTMF("BB");
                                     r.loop.advance(1s);
                                 }});
    EXPECT_FALSE(r.start());
    EXPECT_EQ(*r.store.text, "[SETTINGS]\nCWCALLSIGN=K1ABC\n");
    EXPECT_EQ(r.node.traceText().find("SetPtt"), std::string::npos) << r.node.traceText();
    EXPECT_EQ(r.loop.exitStatus(), 0);
}

// The message about unusable stored values opens once the station runs:
// a command meanwhile transmits and its end unkeys, as at any other time.
TEST(StartUp, TheStationRunsWhileTheMessageAboutStoredValuesWaits) {
    Rig r;
    const std::string file = r.mediaFile("id.wav", 5);
    bool runningWhenShown = false;
    r.dialogs.answers.push_back({MsgResult::Ok, [&] {
                                     runningWhenShown = r.frame.shown && r.form().Timer1.enabled();
                                     r.node.raiseDTMF("55");
                                     r.loop.advance(120s);
                                 }});
    ASSERT_TRUE(r.startWith("TEXT4=" + file + "\nDTMFInfo3=55\nCHECK2=x\nVOLSET=abc\n"));
    ASSERT_EQ(r.dialogs.boxes.size(), 1u);
    EXPECT_TRUE(runningWhenShown);
    EXPECT_NE(r.node.traceText().find("SetPtt -1"), std::string::npos);
    EXPECT_EQ(r.node.ptt, 0);  // the 5 s file ended long before OK
}

TEST(StartUp, WithoutASettingsFileTheDefaultsCountDownAndOnlyTheKeyedCountWaits) {
    Rig r;
    ASSERT_TRUE(r.start());
    Form& f = r.form();
    EXPECT_TRUE(f.Timer3.enabled());
    EXPECT_EQ(f.Label18.caption(), "50");
    EXPECT_EQ(f.BeaconSeconds6.caption(), "900");
    EXPECT_EQ(f.BeaconSeconds7.caption(), "900");
    EXPECT_EQ(f.BeaconSeconds8.caption(), "3000");
    EXPECT_TRUE(f.Beacon6.enabled());
    EXPECT_TRUE(f.Beacon7.enabled());
    EXPECT_FALSE(f.Beacon8.enabled());  // waits for a transmission
    // Timer1, 2, 4, 5, Beacon6, 7 and Timer3, on the loop only once shown.
    EXPECT_EQ(r.loop.timerCount(), 7u);
}

TEST(StartUp, ChangeRulesFollowTheStoredTexts) {
    Rig r;
    ASSERT_TRUE(r.startWith("TEXT6=\nBEACONPERIOD8=0\nBEACONPERIOD6=\nBEACONPERIOD7=999\nHOUR3=09\nVOLSET=-1500\n"));
    Form& f = r.form();
    // An empty break length becomes "0" and switches the countdown off.
    EXPECT_EQ(f.Text6.text(), "0");
    EXPECT_FALSE(f.Timer3.enabled());
    EXPECT_EQ(f.Label18.caption(), "0");
    EXPECT_FALSE(f.Beacon8.enabled());
    EXPECT_EQ(f.BeaconSeconds8.caption(), "0");
    EXPECT_EQ(f.BeaconPeriod6.text(), "0");
    EXPECT_FALSE(f.Beacon6.enabled());
    EXPECT_EQ(f.BeaconSeconds6.caption(), "0");
    EXPECT_EQ(f.BeaconSeconds7.caption(), "59940");
    EXPECT_EQ(f.Hour3.text(), "09");
    EXPECT_EQ(f.V1.value(), -1500);
    EXPECT_EQ(f.VolSet.text(), "-1500");

    Rig doubleZero;  // "00" is not "0": the break countdown runs
    ASSERT_TRUE(doubleZero.startWith("TEXT6=00\n"));
    EXPECT_TRUE(doubleZero.form().Timer3.enabled());
    EXPECT_EQ(doubleZero.form().Label18.caption(), "00");
}

TEST(StartUp, UnusableStoredValuesFallBackToDefaultsWithOneMessage) {
    Rig r;
    const std::string stored =
        "STOPCLOCK8=\nCHECK2=3\nSUN3=yes\nVOLSET=100\nLEFT=abc\nBEACONPERIOD6=five\nTEXT6=1x\nMON3=1\n";
    ASSERT_TRUE(r.startWith(stored));
    Form& f = r.form();
    EXPECT_EQ(f.StopClock8.value(), 0);
    EXPECT_EQ(f.Check2.value(), 1);
    EXPECT_EQ(f.Sun3.value(), 0);
    EXPECT_EQ(f.Mon3.value(), 1);  // the usable ones still apply
    EXPECT_EQ(f.VolSet.text(), "0");
    EXPECT_EQ(f.BeaconPeriod6.text(), "15");
    EXPECT_EQ(f.Text6.text(), "50");
    EXPECT_EQ(r.frame.left(), 300);
    ASSERT_EQ(r.dialogs.boxes.size(), 1u);
    const std::string& text = r.dialogs.boxes[0].text;
    for (const char* item : {"STOPCLOCK8=\"\"", "CHECK2=\"3\"", "SUN3=\"yes\"", "VOLSET=\"100\"", "LEFT=\"abc\"",
                             "BEACONPERIOD6=\"five\"", "TEXT6=\"1x\""}) {
        EXPECT_NE(text.find(item), std::string::npos) << item << " missing in: " << text;
    }
    EXPECT_EQ(text.find("MON3"), std::string::npos);
    EXPECT_NE(text.find("The file is left as it is until the settings are saved."), std::string::npos);
    EXPECT_EQ(*r.store.text, "[SETTINGS]\n" + stored);  // the file waits for the next save
    EXPECT_TRUE(r.frame.shown);
    Rig quiet;  // the bar's other end
    ASSERT_TRUE(quiet.startWith("VOLSET=-3001\n"));
    EXPECT_EQ(quiet.form().VolSet.text(), "0");
}

// Text is taken as written: a 5-minute beacon stored as "5.0" stays a
// 5-minute beacon (and is saved so), a time that cannot match stays for the
// user to fix, and a volume rounds as every whole-number field does.
TEST(StartUp, StoredTextIsTakenAsWrittenAndTheVolumeRounds) {
    Rig r;
    ASSERT_TRUE(
        r.startWith("BEACONPERIOD6=5.0\nSTOPCLOCK6=1\nMINS3=3\"0\nTEXT6=1e3\nBEACONPERIOD8=0.0\nVOLSET=-600.4\n"));
    Form& f = r.form();
    EXPECT_TRUE(r.dialogs.boxes.empty()) << r.dialogs.boxes[0].text;
    EXPECT_EQ(f.BeaconPeriod6.text(), "5.0");
    EXPECT_EQ(f.BeaconSeconds6.caption(), "300");
    EXPECT_EQ(f.Mins3.text(), "3\"0");
    EXPECT_EQ(f.Text6.text(), "1e3");
    EXPECT_FALSE(f.Beacon8.enabled());  // "0.0" minutes: no break
    EXPECT_EQ(f.V1.value(), -600);
    SaveData(r.station());
    const std::string saved = *r.store.text;
    for (const char* kept : {"BEACONPERIOD6=5.0", "MINS3=3\"0", "TEXT6=1e3", "BEACONPERIOD8=0.0"})
        EXPECT_NE(saved.find(kept), std::string::npos) << kept << " not saved as written: " << saved;
}

TEST(StartUp, AWindowStoredOffEveryScreenComesBack) {
    Rig r;  // -32000 is where a minimised window reports itself on Windows
    ASSERT_TRUE(r.startWith("LEFT=-32000\nTOP=-32000\n"));
    EXPECT_EQ(r.frame.left(), 0);
    EXPECT_EQ(r.frame.top(), 0);

    Rig second;
    second.frame.screenRects = {{0, 0, 28800, 16200}, {28800, 0, 28800, 16200}};
    ASSERT_TRUE(second.startWith("LEFT=40000\nTOP=-3000\n"));  // on the second screen, above it
    EXPECT_EQ(second.frame.left(), 40000);
    EXPECT_EQ(second.frame.top(), 0);

    Rig onScreen;  // partly off the left edge, still grabbable
    ASSERT_TRUE(onScreen.startWith("LEFT=-600\nTOP=1200\n"));
    EXPECT_EQ(onScreen.frame.left(), -600);
}

// A node that cannot be created, or fails the unkey: the report, and the
// end before any timer ticks.
TEST(StartUp, ANodeThatFailsEndsTheProgramAfterTheReport) {
    const std::pair<std::function<void(RecordingNode&)>, std::string> cases[] = {
        {[](RecordingNode& n) { n.available = false; },
         "Run-time error '429':\r\n\r\nActiveX component can't create object"},
        {[](RecordingNode& n) { n.failing.insert("SetPtt"); },
         "Run-time error '440':\r\n\r\nAutomation error: SetPtt failed"}};
    for (const auto& [fault, report] : cases) {
        Rig r;
        fault(r.node);
        EXPECT_FALSE(r.start());
        ASSERT_EQ(r.dialogs.boxes.size(), 1u);
        EXPECT_EQ(r.dialogs.boxes[0].text, report);
        EXPECT_EQ(r.dialogs.boxes[0].style, mb::kOk | mb::kIconError);
        EXPECT_FALSE(r.frame.shown);
        EXPECT_EQ(r.loop.exitStatus(), 1);
        EXPECT_FALSE(r.loop.advance(10s));
        EXPECT_EQ(r.loop.ticksDelivered(), 0);
    }
}

}  // namespace
}  // namespace tarnwick::test
