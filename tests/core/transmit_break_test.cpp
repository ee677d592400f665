#include "core/started.h"

namespace tarnwick::test {
namespace {

struct Break : Started {
    // (virtual ms, new state) of each change of the node's PTT, looked at
    // every millisecond.
    std::vector<std::pair<long long, int>> keying;
    void advanceWatching(std::chrono::milliseconds total) {
        keying.clear();
        int was = r.node.ptt;
        for (auto t = 0ms; t < total; t += 1ms) {
            r.loop.advance(1ms);
            if (r.node.ptt != was) {
                was = r.node.ptt;
                keying.emplace_back(std::chrono::duration_cast<std::chrono::milliseconds>(r.loop.now()).count(), was);
            }
        }
    }
};

TEST_F(Break, EveryFiveKeyedMinutesTheTransmitterDropsForTheBreakWhilePlaybackRunsOn) {
    start("BEACONPERIOD8=5\nTEXT6=100\nSTOPCLOCK8=1\n", 1000);
    EXPECT_FALSE(f().Beacon8.enabled());  // idle: nothing counts
    f().Command1.userClick();
    EXPECT_EQ(f().BeaconSeconds8.caption(), "300");
    r.loop.advance(299s);
    EXPECT_EQ(f().BeaconSeconds8.caption(), "1");
    advanceWatching(1200ms);
    ASSERT_EQ(keying.size(), 2u);
    EXPECT_EQ(keying[0].second, 0);
    EXPECT_EQ(keying[1].second, -1);
    EXPECT_EQ(keying[1].first - keying[0].first, 100);  // Text6 milliseconds
    EXPECT_EQ(f().BeaconSeconds8.caption(), "300");     // full again, counting from the re-key
    EXPECT_EQ(f().Label18.caption(), "100");
    EXPECT_TRUE(r.graphs.current->running());
    EXPECT_NEAR(r.graphs.current->CurrentPosition(), 300.2, 0.02);  // the file never paused
    r.loop.advance(299s);
    advanceWatching(1200ms);
    EXPECT_EQ(keying.size(), 2u);  // the next break, another 300 keyed seconds on
}

// "Use" unticked during a break freezes it, as it freezes the count; ticked
// again, the break takes up where it stood.
TEST_F(Break, UseUntickedDuringABreakHoldsIt) {
    start("BEACONPERIOD8=1\nTEXT6=100\nSTOPCLOCK8=1\n", 1000);
    f().Command1.userClick();
    r.loop.advance(60s);
    r.loop.advance(40ms);
    ASSERT_EQ(r.node.ptt, 0);  // in the break
    f().StopClock8.setValue(0);
    r.loop.advance(1s);
    EXPECT_EQ(r.node.ptt, 0);  // held
    f().StopClock8.setValue(1);
    advanceWatching(200ms);
    ASSERT_EQ(keying.size(), 1u);
    EXPECT_EQ(keying[0].second, -1);
}

TEST_F(Break, TheCountAddsUpKeyedTimeAcrossTransmissions) {
    start("BEACONPERIOD8=5\nTEXT6=100\nSTOPCLOCK8=1\n", 200);
    f().Command1.userClick();
    r.loop.advance(201s);
    EXPECT_EQ(r.node.ptt, 0);
    EXPECT_EQ(f().BeaconSeconds8.caption(), "100");
    r.loop.advance(60s);  // idle: the count stands
    EXPECT_EQ(f().BeaconSeconds8.caption(), "100");
    f().Command1.userClick();
    r.loop.advance(99s);
    advanceWatching(1200ms);
    ASSERT_EQ(keying.size(), 2u);  // 100 s into the second file
}

TEST_F(Break, TheBreakLastsItsMillisecondsOnACoarseTimerToo) {
    start("BEACONPERIOD8=1\nTEXT6=50\nSTOPCLOCK8=1\n", 1000);
    f().Timer3.setInterval(16);  // a window timer's real grain
    f().Command1.userClick();
    r.loop.advance(59s);
    advanceWatching(1500ms);
    ASSERT_EQ(keying.size(), 2u);
    const long long length = keying[1].first - keying[0].first;
    EXPECT_GE(length, 50);
    EXPECT_LE(length, 50 + 16);  // not 50 ticks of 16 ms
}

// No break while a file goes out: "Use" unticked freezes the count, a zero
// length breaks for no time, and a period of no minutes, however spelt, means
// no break at all, ticked or not. The transmitter is keyed from start to end.
TEST(BreakOff, AFileGoesOutWholeWhenBreaksAreOff) {
    struct Case {
        const char* settings;
        const char* count;  // 89 keyed seconds on
    };
    for (const Case c : {Case{"BEACONPERIOD8=1\nTEXT6=100\nSTOPCLOCK8=0\n", "60"},
                         {"BEACONPERIOD8=1\nTEXT6=0\nSTOPCLOCK8=1\n", "31"},
                         {"BEACONPERIOD8=0\nTEXT6=100\nSTOPCLOCK8=0\n", "0"},
                         {"BEACONPERIOD8=0\nTEXT6=100\nSTOPCLOCK8=1\n", "0"},
                         {"BEACONPERIOD8=00\nTEXT6=100\nSTOPCLOCK8=0\n", "0"},
                         {"BEACONPERIOD8=000\nTEXT6=100\nSTOPCLOCK8=1\n", "0"}}) {
        StartedRig s;
        s.start(c.settings, 90);
        s.click(s.f().Command1);
        s.r.loop.advance(89500ms);
        EXPECT_EQ(s.r.node.ptt, kNodeTrue) << c.settings;
        EXPECT_EQ(s.count("SetPtt 0"), 0) << c.settings;
        EXPECT_EQ(s.f().BeaconSeconds8.caption(), c.count) << c.settings;
        s.r.loop.advance(1s);
        EXPECT_EQ(s.r.node.ptt, 0) << c.settings;  // the end of the file
        EXPECT_EQ(s.keys(), 1) << c.settings;
    }
}

TEST_F(Break, ATransmissionThatEndsDuringABreakEndsTheBreak) {
    start("BEACONPERIOD8=1\nTEXT6=2000\nSTOPCLOCK8=1\n", 60.5);
    f().Command1.userClick();
    r.loop.advance(60s);
    EXPECT_EQ(r.node.ptt, 0);  // in the break
    r.loop.advance(5s);        // the file ends in it
    EXPECT_EQ(r.node.ptt, 0);
    EXPECT_FALSE(f().Timer3.enabled());
    EXPECT_EQ(keys(), 1);  // the Play, and no re-key after the file had ended
}

TEST(Monitors, ShowTheNodesOwnStateOverTheCaptionsOfTheTransmitPaths) {
    Rig r;
    ASSERT_TRUE(r.start());
    r.loop.advance(100ms);
    EXPECT_EQ(r.form().PTT2.caption(), "      ");
    EXPECT_EQ(r.form().PTT.caption(), "PTT OFF");
    EXPECT_EQ(r.form().PTT.foreColour(), kGreen);
    r.node.cwKeyed = true;  // the node keys by itself (Morse)
    r.node.rx = 2;
    r.loop.advance(100ms);
    EXPECT_EQ(r.form().PTT.caption(), "PTT ON");
    EXPECT_EQ(r.form().PTT.foreColour(), kRed);
    EXPECT_EQ(r.form().PTT2.caption(), "Receiving Signal");
    r.form().PTT.setCaption("PTT OFF");  // a transmit path's caption lasts until the next tick
    r.loop.advance(100ms);
    EXPECT_EQ(r.form().PTT.caption(), "PTT ON");
}

}  // namespace
}  // namespace tarnwick::test
