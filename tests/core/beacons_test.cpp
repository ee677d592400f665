#include "platform/dialogs.h"
#include "support/rig.h"

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

// A started system with a 60 s file saved, the schedule's node queries off
// (Check2 0) unless a test sets it, and the node's trace cleared.
struct Beacons : ::testing::Test {
    Rig r;
    std::string file;
    void start(const std::string& extra) {
        file = r.mediaFile("id.wav", 60);
        r.store.text = "[SETTINGS]\nTEXT4=" + file + "\n" + extra;
        if (extra.find("CHECK2=") == std::string::npos) *r.store.text += "CHECK2=0\n";
        ASSERT_TRUE(r.start());
        r.quietMonitors();
        r.node.clearTrace();
    }
    Form& f() { return r.form(); }
    // Keys in the trace (the idle tick's unkeys are noise here).
    int keys() const {
        int n = 0;
        for (const auto& l : r.node.trace) n += l == "SetPtt -1";
        return n;
    }
    int idents() const {
        int n = 0;
        for (const auto& l : r.node.trace) n += l.rfind("SendCwText", 0) == 0;
        return n;
    }
};

TEST_F(Beacons, TheCountRunsDownToOneThenSendsAndStartsAgain) {
    start("STOPCLOCK6=1\nBEACONPERIOD6=15\n");
    EXPECT_EQ(f().BeaconSeconds6.caption(), "900");
    r.loop.advance(1s);
    EXPECT_EQ(f().BeaconSeconds6.caption(), "899");
    r.loop.advance(898s);
    EXPECT_EQ(f().BeaconSeconds6.caption(), "1");
    EXPECT_EQ(keys(), 0);
    r.loop.advance(1s);
    EXPECT_EQ(f().BeaconSeconds6.caption(), "900");
    EXPECT_EQ(keys(), 1);
    EXPECT_EQ(r.graphs.created, 1);
    r.loop.advance(900s);
    EXPECT_EQ(keys(), 2);
    EXPECT_EQ(r.graphs.created, 1);  // the same graph replays
}

TEST_F(Beacons, UnusedFreezesTheCountAndZeroPeriodsSwitchTheBeaconOff) {
    start("STOPCLOCK6=0\nBEACONPERIOD6=1\n");
    r.loop.advance(10s);
    EXPECT_EQ(f().BeaconSeconds6.caption(), "60");
    f().StopClock6.userToggle();
    r.loop.advance(10s);
    EXPECT_EQ(f().BeaconSeconds6.caption(), "50");
    f().StopClock6.userToggle();
    r.loop.advance(100s);
    EXPECT_EQ(f().BeaconSeconds6.caption(), "50");  // continues from where it stood
    for (const char* zero : {"", "0", "00", "000"}) {
        EXPECT_TRUE(f().BeaconPeriod6.userEdit(zero));
        EXPECT_EQ(f().BeaconPeriod6.text(), std::string(*zero ? zero : "0"));
        EXPECT_FALSE(f().Beacon6.enabled()) << zero;
        EXPECT_EQ(f().BeaconSeconds6.caption(), "0") << zero;
    }
    f().StopClock6.userToggle();
    r.loop.advance(300s);
    EXPECT_EQ(keys(), 0);
    EXPECT_EQ(f().BeaconSeconds6.caption(), "0");  // never below zero
}

TEST_F(Beacons, APeriodEditMidCountRestartsFromTheNewPeriod) {
    start("STOPCLOCK6=1\nBEACONPERIOD6=15\n");
    r.loop.advance(100s);
    EXPECT_TRUE(f().BeaconPeriod6.userEdit("2"));
    EXPECT_EQ(f().BeaconSeconds6.caption(), "120");
    r.loop.advance(119s);
    EXPECT_EQ(keys(), 0);
    r.loop.advance(1s);
    EXPECT_EQ(keys(), 1);
    EXPECT_TRUE(f().BeaconPeriod6.userEdit("999"));
    EXPECT_EQ(f().BeaconSeconds6.caption(), "59940");
}

TEST_F(Beacons, ADueBeaconWhileTheNodeIsInUseIsDroppedNotRetried) {
    start("STOPCLOCK6=1\nBEACONPERIOD6=1\nCHECK2=1\n");
    r.loop.advance(59s);
    r.node.busyB = kNodeTrue;
    r.node.clearTrace();
    r.loop.advance(1s);
    EXPECT_EQ(f().BeaconSeconds6.caption(), "60");  // reset before the test
    EXPECT_EQ(keys(), 0);
    r.node.busyB = 0;
    r.loop.advance(59s);
    EXPECT_EQ(keys(), 0);
    r.loop.advance(1s);
    EXPECT_EQ(keys(), 1);
}

TEST_F(Beacons, SendNowTransmitsWithoutTouchingTheCountAndHoldsBackWhenInUse) {
    start("STOPCLOCK6=1\nBEACONPERIOD6=1\nCHECK2=1\n");
    r.loop.advance(20s);
    r.node.clearTrace();
    ASSERT_TRUE(r.act([&] { f().Command6.userClick(); }));
    EXPECT_EQ(r.node.traceText(), "GetBusyFlagA => 0\nGetReceivingSignal => 0\nGetBusyFlagB => 0\nSetPtt -1");
    EXPECT_EQ(f().BeaconSeconds6.caption(), "40");
    r.node.rx = 5;  // any non-zero is true
    r.node.clearTrace();
    ASSERT_TRUE(r.act([&] { f().Command6.userClick(); }));
    EXPECT_EQ(keys(), 0);
    EXPECT_TRUE(r.dialogs.boxes.empty());
}

TEST_F(Beacons, TheIdentSendsTheTextAsItIsAndSendIdFillsInNoCall) {
    start("STOPCLOCK7=1\nBEACONPERIOD7=1\nCHECK2=1\nCWCALLSIGN=\n");
    r.node.busyA = kNodeTrue;  // no node-in-use test for the ident
    r.loop.advance(60s);
    EXPECT_NE(r.node.traceText().find("SendCwText 0 \"\""), std::string::npos);
    EXPECT_EQ(f().CWCallsign.text(), "");
    EXPECT_EQ(keys(), 0);  // the node keys for its own Morse
    r.node.clearTrace();
    ASSERT_TRUE(r.act([&] { f().SendCW.userClick(); }));
    EXPECT_EQ(r.node.traceText(), "SendCwText 0 \"No Call\"");
    EXPECT_EQ(f().CWCallsign.text(), "No Call");
    EXPECT_EQ(f().BeaconSeconds7.caption(), "60");  // Send ID leaves the count alone
    f().CWCallsign.setText(" k1abc ");
    r.node.clearTrace();
    ASSERT_TRUE(r.act([&] { f().SendCW.userClick(); }));
    EXPECT_EQ(r.node.traceText(), "SendCwText 0 \" k1abc \"");
}

TEST_F(Beacons, BeaconAndIdentDueOnTheSameSecondBothGo) {
    start("STOPCLOCK6=1\nBEACONPERIOD6=1\nSTOPCLOCK7=1\nBEACONPERIOD7=1\nCWCALLSIGN=K1ABC\n");
    r.loop.advance(60s);
    EXPECT_EQ(keys(), 1);
    EXPECT_EQ(idents(), 1);
}

TEST_F(Beacons, AFailingIdentEndsTheProgramWithTheReport) {
    start("STOPCLOCK7=1\nBEACONPERIOD7=1\n");
    r.node.failing.insert("SendCwText");
    EXPECT_FALSE(r.loop.advance(60s));
    ASSERT_EQ(r.dialogs.boxes.size(), 1u);
    EXPECT_NE(r.dialogs.boxes[0].text.find("Run-time error '440'"), std::string::npos);
}

TEST_F(Beacons, DtmfMatchesOnlyTheExactCode) {
    start("DTMFInfo3=12*#\n");
    for (const char* other : {"12*", "12*#3", "012*#", "12*# ", "", "12*#\n"}) {
        r.node.raiseDTMF(other);
        r.loop.advance(10ms);
    }
    EXPECT_EQ(keys(), 0);
    r.node.raiseDTMF("12*#");
    r.loop.advance(10ms);
    EXPECT_EQ(keys(), 1);
    EXPECT_EQ(r.node.trace.back().rfind("SetListedBusy", 0), std::string::npos);
}

TEST_F(Beacons, DtmfCaseCountsAndAnEmptyCodeMatchesOnlyAnEmptyString) {
    start("DTMFInfo3=\nLISTASBUSYCHECK=1\n");
    r.node.raiseDTMF("A");
    r.loop.advance(10ms);
    EXPECT_EQ(keys(), 0);
    r.node.raiseDTMF("");
    r.loop.advance(10ms);
    EXPECT_EQ(keys(), 1);
    for (const auto& l : r.node.trace) EXPECT_NE(l, "SetListedBusy -1");  // never listed busy for DTMF
    f().DTMFInfo3.setText("ab");
    r.node.raiseDTMF("AB");
    r.loop.advance(10ms);
    EXPECT_EQ(keys(), 1);
}

TEST_F(Beacons, DtmfWhileTheNodeIsInUseIsDroppedAfterAllThreeQueries) {
    start("DTMFInfo3=55\nCHECK2=1\n");
    r.node.busyA = kNodeTrue;
    const auto mark = r.node.trace.size();
    r.node.raiseDTMF("55");
    r.loop.advance(1ms);
    EXPECT_EQ(r.node.traceText(mark),
              "event DTMFString \"55\"\nGetBusyFlagA => -1\nGetReceivingSignal => 0\nGetBusyFlagB => 0");
}

TEST_F(Beacons, DtmfDuringATransmissionRestartsTheFile) {
    start("DTMFInfo3=7\n");
    r.node.raiseDTMF("7");
    r.loop.advance(30s);
    r.node.raiseDTMF("7");
    r.loop.advance(1ms);
    EXPECT_EQ(keys(), 2);
    EXPECT_LT(r.graphs.current->CurrentPosition(), 0.01);
}

}  // namespace
}  // namespace tarnwick::test
