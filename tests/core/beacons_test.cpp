#include "core/started.h"
#include "seams/dialogs.h"

namespace tarnwick::test {
namespace {

using Beacons = Started;

TEST_F(Beacons, TheCountRunsDownToOneThenSendsAndStartsAgain) {
    start("STOPCLOCK6=1\nBEACONPERIOD6=15\nLISTASBUSYCHECK=1\n");
    EXPECT_EQ(f().BeaconSeconds6.caption(), "900");
    r.loop.advance(1s);
    EXPECT_EQ(f().BeaconSeconds6.caption(), "899");
    r.loop.advance(898s);
    EXPECT_EQ(f().BeaconSeconds6.caption(), "1");
    EXPECT_EQ(keys(), 0);
    r.loop.advance(1s);
    EXPECT_EQ(f().BeaconSeconds6.caption(), "900");
    EXPECT_EQ(keys(), 1);
    r.loop.advance(900s);
    EXPECT_EQ(keys(), 2);
    EXPECT_EQ(r.graphs.created, 1);           // the same graph replays
    EXPECT_EQ(count("SetListedBusy -1"), 0);  // only the schedule lists the node busy
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
    r.loop.advance(1s);
    EXPECT_EQ(f().BeaconSeconds6.caption(), "60");  // reset before the test
    EXPECT_EQ(keys(), 0);
    r.node.busyB = 0;
    r.loop.advance(59s);
    EXPECT_EQ(keys(), 0);
    r.loop.advance(1s);
    EXPECT_EQ(keys(), 1);
}

// Only a ticked box (1) asks the node: greyed (2) is not ticked.
TEST_F(Beacons, AGreyedNodeInUseBoxDoesNotHoldTheBeaconBack) {
    start("STOPCLOCK6=1\nBEACONPERIOD6=1\nCHECK2=2\n");
    r.node.busyB = kNodeTrue;
    r.loop.advance(60s);
    EXPECT_EQ(keys(), 1);
}

TEST_F(Beacons, SendNowTransmitsWithoutTouchingTheCountAndHoldsBackWhenInUse) {
    start("STOPCLOCK6=1\nBEACONPERIOD6=1\nCHECK2=1\n");
    r.loop.advance(20s);
    EXPECT_EQ(clicked(f().Command6), "GetBusyFlagA => 0\nGetReceivingSignal => 0\nGetBusyFlagB => 0\nSetPtt -1");
    EXPECT_EQ(f().BeaconSeconds6.caption(), "40");
    r.node.rx = 5;  // any non-zero is true
    r.node.clearTrace();
    click(f().Command6);
    EXPECT_EQ(keys(), 0);
    EXPECT_TRUE(r.dialogs.boxes.empty());
}

TEST_F(Beacons, TheIdentSendsTheTextAsItIsAndSendIdFillsInNoCall) {
    start("STOPCLOCK7=1\nBEACONPERIOD7=1\nCHECK2=1\nCWCALLSIGN=\n");
    r.node.busyA = kNodeTrue;  // no node-in-use test for the ident
    r.loop.advance(60s);
    EXPECT_EQ(count("SendCwText 0 \"\""), 1);
    EXPECT_EQ(f().CWCallsign.text(), "");
    EXPECT_EQ(keys(), 0);  // the node keys for its own Morse
    EXPECT_EQ(clicked(f().SendCW), "SendCwText 0 \"No Call\"");
    EXPECT_EQ(f().CWCallsign.text(), "No Call");
    EXPECT_EQ(f().BeaconSeconds7.caption(), "60");  // Send ID leaves the count alone
    f().CWCallsign.setText(" k1abc ");
    EXPECT_EQ(clicked(f().SendCW), "SendCwText 0 \" k1abc \"");
}

TEST_F(Beacons, BeaconAndIdentDueOnTheSameSecondBothGo) {
    start("STOPCLOCK6=1\nBEACONPERIOD6=1\nSTOPCLOCK7=1\nBEACONPERIOD7=1\nCWCALLSIGN=K1ABC\n");
    r.loop.advance(60s);
    EXPECT_EQ(keys(), 1);
    EXPECT_EQ(count("SendCwText"), 1);
}

// Only the exact code, case and all, starts the file, without listing the
// node busy; an empty code matches only an empty string.
TEST_F(Beacons, DtmfMatchesOnlyTheExactCode) {
    start("DTMFInfo3=12*#\nLISTASBUSYCHECK=1\n");
    auto dtmf = [&](const char* digits) {
        r.node.raiseDTMF(digits);
        r.loop.advance(10ms);
        return keys();
    };
    for (const char* other : {"12*", "12*#3", "012*#", "12*# ", "", "12*#\n"}) EXPECT_EQ(dtmf(other), 0) << other;
    EXPECT_EQ(dtmf("12*#"), 1);
    f().DTMFInfo3.setText("");
    EXPECT_EQ(dtmf("A"), 1);
    EXPECT_EQ(dtmf(""), 2);
    f().DTMFInfo3.setText("ab");
    EXPECT_EQ(dtmf("AB"), 2);
    EXPECT_EQ(count("SetListedBusy -1"), 0);
}

}  // namespace
}  // namespace tarnwick::test
