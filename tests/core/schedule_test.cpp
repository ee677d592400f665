#include "schedule/civil_time.h"
#include "schedule/schedule.h"
#include "support/rig.h"

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

// A day in December 2026 (the 7th a Monday), 30 ms into the second as the
// program keeps its tick once it has run a moment.
LocalTime at(int h, int m, int s, int day = 7) {
    LocalTime t = fromWallSeconds(wallSeconds(LocalTime{2026, 12, day, h, m, s}));
    t.millisecond = 30;
    return t;
}

struct Schedule : ::testing::Test {
    Rig r;
    void start(const std::string& settings, LocalTime t = at(14, 29, 58)) {
        const std::string file = r.mediaFile("id.wav", 30);
        r.locale.time = t;
        r.store.text = "[SETTINGS]\nTEXT4=" + file + "\n" + settings;
        ASSERT_TRUE(r.start());
        r.quietMonitors();
        r.node.clearTrace();
    }
    int keys() const {
        int n = 0;
        for (const auto& l : r.node.trace) n += l == "SetPtt -1";
        return n;
    }
};

TEST(ClockText, IsAlways24HourWithLeadingZeros) {
    EXPECT_EQ(clockText(at(9, 5, 0)), "09:05:00");
    EXPECT_EQ(clockText(at(23, 59, 59)), "23:59:59");
    EXPECT_EQ(clockText(at(0, 0, 7)), "00:00:07");
    EXPECT_EQ(at(0, 0, 0).weekday, 2);  // a Monday
}

TEST_F(Schedule, SendsOnceAtTheTargetSecondOnATickedDay) {
    start("MON3=1\nHOUR3=14\nMINS3=30\nCHECK2=0\n");
    r.loop.advance(1s);
    EXPECT_EQ(r.form().ShowTime.caption(), "14:29:59");
    EXPECT_EQ(keys(), 0);
    r.loop.advance(1s);
    EXPECT_EQ(r.form().ShowTime.caption(), "14:30:00");
    EXPECT_EQ(keys(), 1);
    r.loop.advance(120s);
    EXPECT_EQ(keys(), 1);
}

TEST_F(Schedule, AnUntickedDayOrAGreyedBoxSendsNothing) {
    start("SUN3=1\nTUE3=1\nMON3=2\nHOUR3=14\nMINS3=30\nCHECK2=0\n");
    r.loop.advance(10s);
    EXPECT_EQ(keys(), 0);
}

TEST_F(Schedule, TheTargetMustBeWrittenAsTheClockWritesIt) {
    start("MON3=1\nHOUR3=9\nMINS3=30\nCHECK2=0\n", at(9, 29, 58));
    r.loop.advance(5s);
    EXPECT_EQ(keys(), 0);  // "9:30:00" is never the clock's "09:30:00"
    r.form().Hour3.setText("09");
    r.form().Mins3.setText("31");
    r.loop.advance(60s);
    EXPECT_EQ(keys(), 1);
}

TEST_F(Schedule, TheDefaultHour24IsDormant) {
    start("MON3=1\nTUE3=1\nCHECK2=0\n", at(23, 59, 0));
    EXPECT_EQ(r.form().Hour3.text(), "24");
    r.loop.advance(120s);  // over midnight: the clock shows 00, never 24
    EXPECT_EQ(keys(), 0);
}

TEST_F(Schedule, TheNodeIsPolledEverySecondAndInUseAtTheTargetSkipsTheDay) {
    start("MON3=1\nHOUR3=14\nMINS3=30\nCHECK2=1\n");
    r.node.rx = kNodeTrue;
    r.loop.advance(2s);
    std::string queries;
    for (const auto& l : r.node.trace) {
        if (l.rfind("Get", 0) == 0) queries += l + "\n";
    }
    EXPECT_EQ(queries,
              "GetBusyFlagA => 0\nGetReceivingSignal => -1\nGetBusyFlagB => 0\n"
              "GetBusyFlagA => 0\nGetReceivingSignal => -1\nGetBusyFlagB => 0\n");
    r.node.rx = 0;
    r.loop.advance(60s);
    EXPECT_EQ(keys(), 0);  // skipped, not postponed
}

TEST_F(Schedule, ALateTickStillSendsAndTwoTicksInOneSecondSendOnce) {
    start("MON3=1\nHOUR3=14\nMINS3=30\nCHECK2=0\n", at(14, 29, 59));
    // The tick due at 14:30:00.0 arrives 1.3 s late.
    r.locale.offsetMs = -1300;
    r.loop.advance(1s);
    EXPECT_EQ(r.form().ShowTime.caption(), "14:29:58");
    r.locale.offsetMs = 300;
    r.loop.advance(1s);  // 14:30:01.3: the target second was passed over
    EXPECT_EQ(r.form().ShowTime.caption(), "14:30:01");
    EXPECT_EQ(keys(), 1);
    r.locale.offsetMs = -1700;
    r.loop.advance(1s);  // the clock falls back into 14:30:00.3
    EXPECT_EQ(r.form().ShowTime.caption(), "14:30:00");
    EXPECT_EQ(keys(), 1);
}

TEST_F(Schedule, TheTickIsBroughtToTheStartOfEachSecond) {
    LocalTime t = at(14, 29, 58);
    t.millisecond = 600;  // started in the middle of a second
    start("MON3=1\nHOUR3=14\nMINS3=30\nCHECK2=0\n", t);
    r.loop.advance(1390ms);  // 14:29:59.990
    EXPECT_EQ(keys(), 0);
    r.loop.advance(80ms);  // 14:30:00.070: sent at the start of its second
    EXPECT_EQ(keys(), 1);
    // From then on every tick stays there, one a second.
    EXPECT_EQ(r.form().Timer2.interval(), 1000);
    r.loop.advance(10s);
    EXPECT_EQ(r.form().ShowTime.caption(), "14:30:10");
    EXPECT_EQ(keys(), 1);
}

TEST_F(Schedule, ATickJustBeforeTheSecondIsMovedPastIt) {
    // A timer that fires a little early reads 14:29:59.998: the tick is
    // moved after the second's start instead of waiting a whole second.
    LocalTime t = at(14, 29, 58);
    t.millisecond = 998;
    start("MON3=1\nHOUR3=14\nMINS3=30\nCHECK2=0\n", t);
    r.loop.advance(1000ms);
    EXPECT_EQ(keys(), 0);
    r.loop.advance(60ms);  // 14:30:00.058
    EXPECT_EQ(keys(), 1);
}

TEST_F(Schedule, ATickHoursLateDoesNotSendTheMissedIdentification) {
    start("MON3=1\nHOUR3=14\nMINS3=30\nCHECK2=0\n", at(14, 29, 59));
    r.locale.offsetMs = 3600 * 1000;  // the machine slept an hour
    r.loop.advance(1s);
    EXPECT_EQ(keys(), 0);
}

TEST_F(Schedule, EveryTickedDaySendsAtTheSameTime) {
    start("MON3=1\nTUE3=1\nHOUR3=00\nMINS3=00\nCHECK2=0\n", at(23, 59, 58, 6));  // Sunday night
    r.loop.advance(3s);
    EXPECT_EQ(keys(), 1);  // Monday
    // Skip ahead to just before the next two midnights (the clock moves,
    // the loop need not tick through the day).
    for (int day = 1; day <= 2; ++day) {
        r.locale.offsetMs += 86400 * 1000 - 5000;
        r.loop.advance(5s);
    }
    EXPECT_EQ(keys(), 2);  // Tuesday, not Wednesday
}

}  // namespace
}  // namespace tarnwick::test
