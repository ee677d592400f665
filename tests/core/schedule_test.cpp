#include "core/started.h"
#include "schedule/schedule.h"
#include "seams/civil_time.h"

namespace tarnwick::test {
namespace {

// A day in December 2026 (the 7th a Monday), 30 ms into the second as the
// program keeps its tick once it has run a moment.
LocalTime at(int h, int m, int s, int day = 7) {
    LocalTime t = fromWallSeconds(wallSeconds(LocalTime{2026, 12, day, h, m, s}));
    t.millisecond = 30;
    return t;
}

struct Schedule : Started {
    void startAt(const std::string& settings, LocalTime t = at(14, 29, 58)) {
        r.locale.time = t;
        start(settings, 30);
    }
};

TEST_F(Schedule, SendsOnceAtTheTargetSecondOnATickedDay) {
    startAt("MON3=1\nHOUR3=14\nMINS3=30\n");
    r.loop.advance(1s);
    EXPECT_EQ(f().ShowTime.caption(), "14:29:59");
    EXPECT_EQ(keys(), 0);
    r.loop.advance(1s);
    EXPECT_EQ(f().ShowTime.caption(), "14:30:00");
    EXPECT_EQ(keys(), 1);
    r.loop.advance(120s);
    EXPECT_EQ(keys(), 1);
}

TEST_F(Schedule, TheTargetMustBeWrittenAsTheClockWritesIt) {
    startAt("MON3=1\nHOUR3=9\nMINS3=30\n", at(9, 29, 58));
    r.loop.advance(5s);
    EXPECT_EQ(keys(), 0);  // "9:30:00" is never the clock's "09:30:00"
    f().Hour3.setText("09");
    f().Mins3.setText("31");
    r.loop.advance(60s);
    EXPECT_EQ(keys(), 1);
}

// Nothing goes for an unticked day or a greyed box, for the default hour 24
// (the clock shows 00 at midnight, never 24), nor for a tick hours late
// (the machine slept through the identification).
TEST(ScheduleSilent, SendsNothingThatWasNotDueNow) {
    struct Case {
        const char* settings;
        LocalTime from;
        int lateMs;
        std::chrono::seconds run;
    };
    for (const Case& c : {Case{"SUN3=1\nTUE3=1\nMON3=2\nHOUR3=14\nMINS3=30\n", at(14, 29, 58), 0, 10s},
                          Case{"MON3=1\nTUE3=1\n", at(23, 59, 0), 0, 120s},
                          Case{"MON3=1\nHOUR3=14\nMINS3=30\n", at(14, 29, 58), 3600 * 1000, 1s}}) {
        StartedRig s;
        s.r.locale.time = c.from;
        s.start(c.settings, 30);
        s.r.loop.advance(1s);  // a tick: the schedule knows the time before the sleep
        s.r.locale.offsetMs = c.lateMs;
        s.r.loop.advance(c.run);
        EXPECT_EQ(s.keys(), 0) << c.settings;
    }
}

TEST_F(Schedule, TheNodeIsPolledEverySecondAndInUseAtTheTargetSkipsTheDay) {
    startAt("MON3=1\nHOUR3=14\nMINS3=30\nCHECK2=1\n");
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
    startAt("MON3=1\nHOUR3=14\nMINS3=30\n", at(14, 29, 59));
    // The tick due at 14:30:00.0 arrives 1.3 s late.
    r.locale.offsetMs = -1300;
    r.loop.advance(1s);
    EXPECT_EQ(f().ShowTime.caption(), "14:29:58");
    r.locale.offsetMs = 300;
    r.loop.advance(1s);  // 14:30:01.3: the target second was passed over
    EXPECT_EQ(f().ShowTime.caption(), "14:30:01");
    EXPECT_EQ(keys(), 1);
    r.locale.offsetMs = -1700;
    r.loop.advance(1s);  // the clock falls back into 14:30:00.3
    EXPECT_EQ(f().ShowTime.caption(), "14:30:00");
    EXPECT_EQ(keys(), 1);
}

// Started in the middle of a second, or woken a little early just before
// one, the tick is brought after the second's start instead of waiting a
// whole second, and stays there, one a second.
TEST(ScheduleTick, IsBroughtToTheStartOfEachSecond) {
    struct Case {
        int startMs, beforeMs, afterMs;
    };
    for (const Case c : {Case{600, 1390, 80}, Case{998, 1000, 60}}) {
        StartedRig s;
        s.r.locale.time = at(14, 29, 58);
        s.r.locale.time.millisecond = c.startMs;
        s.start("MON3=1\nHOUR3=14\nMINS3=30\n", 30);
        s.r.loop.advance(std::chrono::milliseconds(c.beforeMs));  // just before 14:30:00
        EXPECT_EQ(s.keys(), 0) << c.startMs;
        s.r.loop.advance(std::chrono::milliseconds(c.afterMs));  // shortly after it
        EXPECT_EQ(s.keys(), 1) << c.startMs;
        EXPECT_EQ(s.f().Timer2.interval(), 1000);
        s.r.loop.advance(10s);
        EXPECT_EQ(s.f().ShowTime.caption(), "14:30:10");
        EXPECT_EQ(s.keys(), 1);
    }
}

TEST_F(Schedule, EveryTickedDaySendsAtTheSameTime) {
    startAt("MON3=1\nTUE3=1\nHOUR3=00\nMINS3=00\n", at(23, 59, 58, 6));  // Sunday night
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
