#include "settings/settings.h"
#include "support/rig.h"

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

TEST(Settings, AFirstSaveCreatesTheFileWithAll24KeysInOrder) {
    Rig r;
    ASSERT_TRUE(r.start());
    EXPECT_TRUE(r.act([&] { r.form().Command5.userClick(); }));
    ASSERT_TRUE(r.store.text.has_value());
    EXPECT_EQ(*r.store.text,
              "[SETTINGS]\nTEXT6=50\nBEACONPERIOD8=50\nBEACONPERIOD6=15\nSTOPCLOCK8=0\nLISTASBUSYCHECK=0\n"
              "STOPCLOCK7=0\nBEACONPERIOD7=15\nCWCALLSIGN=Your Call\nTEXT4=\nSUN3=0\nMON3=0\nTUE3=0\nWED3=0\n"
              "THUR3=0\nFRI3=0\nSAT3=0\nHOUR3=24\nMINS3=00\nDTMFINFO3=BB\nVOLSET=0\nCHECK2=1\nSTOPCLOCK6=0\n"
              "LEFT=300\nTOP=300\n");
}

TEST(Settings, ASecondSaveWithNothingChangedLeavesTheFileAlone) {
    Rig r;
    r.store.text = "[settings]\r\ntop=10\r\nCwCallSign= \"K1ABC \" \r\n";
    ASSERT_TRUE(r.start());
    EXPECT_EQ(r.form().CWCallsign.text(), "K1ABC ");  // quotes go, blanks inside them stay
    EXPECT_TRUE(r.act([&] { r.form().Command5.userClick(); }));
    const std::string first = *r.store.text;
    EXPECT_EQ(first.rfind("[settings]\r\ntop=10\r\nCwCallSign=K1ABC \r\n", 0), 0u) << first;
    const int writes = r.store.writes;
    EXPECT_TRUE(r.act([&] { r.form().Command5.userClick(); }));
    EXPECT_EQ(*r.store.text, first);
    EXPECT_EQ(r.store.writes, writes);
}

TEST(Settings, WhatIsSavedIsWhatTheNextStartShows) {
    Rig r;
    ASSERT_TRUE(r.startWith("LISTASBUSYCHECK=2\nCHECK2=0\n"));
    r.form().DTMFInfo3.setText("73*");  // read as DTMFInfo3, written as DTMFINFO3
    r.form().Text4.setText("/srv/id.wav");
    r.form().StopClock6.setValue(1);
    r.frame.moveTo(4500, -150);
    EXPECT_TRUE(r.act([&] { r.form().Command5.userClick(); }));
    Rig next;
    next.store.text = r.store.text;
    ASSERT_TRUE(next.start());
    Form& f = next.form();
    EXPECT_EQ(f.DTMFInfo3.text(), "73*");
    EXPECT_EQ(f.Text4.text(), "/srv/id.wav");
    EXPECT_EQ(f.StopClock6.value(), 1);
    EXPECT_EQ(f.ListAsBusyCheck.value(), 2);  // greyed stays greyed
    EXPECT_EQ(f.Check2.value(), 0);
    EXPECT_EQ(next.frame.left(), 4500);
    EXPECT_EQ(next.frame.top(), -150);
}

TEST(Settings, StoredTextsAreCutTo255WithoutTrailingBlanksAndMayBeEmpty) {
    Rig r;
    ASSERT_TRUE(r.startWith("TEXT4=" + std::string(300, 'p') + "\nCWCALLSIGN=K1ABC \nDTMFInfo3=\n"));
    EXPECT_EQ(r.form().Text4.text(), std::string(255, 'p'));
    EXPECT_EQ(r.form().CWCallsign.text(), "K1ABC");
    EXPECT_EQ(r.form().DTMFInfo3.text(), "");
}

TEST(Settings, TypedNonDigitsAreRefusedInTheDigitFields) {
    Rig r;
    ASSERT_TRUE(r.start());
    Form& f = r.form();
    for (TextBox* t : {&f.Hour3, &f.Mins3, &f.Text6, &f.BeaconPeriod6, &f.BeaconPeriod7, &f.BeaconPeriod8}) {
        const std::string before = t->text();
        EXPECT_FALSE(t->userEdit(before + "x")) << t->name();
        EXPECT_FALSE(t->userEdit("1 2")) << t->name();
        EXPECT_EQ(t->text(), before);
    }
    EXPECT_TRUE(f.Text6.userEdit("200"));
    EXPECT_EQ(f.Label18.caption(), "200");
    EXPECT_TRUE(f.Text6.userEdit(""));
    EXPECT_EQ(f.Text6.text(), "0");
    EXPECT_FALSE(f.Timer3.enabled());
}

// At the ends of the whole-number range the window's far edge and its
// distance to a screen lie beyond that range: the window still comes back.
TEST(Settings, APositionAtTheEndOfTheRangeComesBackOnScreen) {
    for (const char* stored :
         {"LEFT=2147483547\nTOP=300\n", "LEFT=300\nTOP=2147483547\n", "LEFT=-2147483648\nTOP=-2147483648\n"}) {
        Rig r;
        ASSERT_TRUE(r.startWith(stored)) << stored;
        const TwipsRect screen = r.frame.screenRects.front();
        EXPECT_GE(r.frame.left(), screen.left) << stored;
        EXPECT_LE(r.frame.left() + r.frame.width, screen.left + screen.width) << stored;
        EXPECT_GE(r.frame.top(), screen.top) << stored;
        EXPECT_LE(r.frame.top() + r.frame.height, screen.top + screen.height) << stored;
    }
    Rig two;  // the nearer screen is the one on the left
    two.frame.screenRects = {{0, 0, 28800, 16200}, {-28800, 0, 28800, 16200}};
    ASSERT_TRUE(two.startWith("LEFT=-2147483648\nTOP=300\n"));
    EXPECT_EQ(two.frame.left(), -28800);
}

TEST(Settings, ACommaDecimalSeparatorReadsPositionsAndWritesThemBack) {
    Rig r;
    r.locale.separator = std::string(1, ',');  // a char* here trips a false -Wrestrict of MinGW GCC 12
    ASSERT_TRUE(r.startWith("LEFT=1500,4\nTOP=-45\n"));
    EXPECT_EQ(r.frame.left(), 1500);
    EXPECT_EQ(r.frame.top(), -45);
    EXPECT_TRUE(r.dialogs.boxes.empty());
}

}  // namespace
}  // namespace tarnwick::test
