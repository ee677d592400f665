#include "app/session_end.h"
#include "core/started.h"
#include "seams/civil_time.h"
#include "seams/dialogs.h"
#include "station/station_log.h"

#include <fstream>

namespace tarnwick::test {
namespace {

// Monday 2026-12-07, 30 ms into the second.
LocalTime mondayAt(int h, int m, int s, int offsetMinutes = 60) {
    LocalTime t = fromWallSeconds(wallSeconds(LocalTime{2026, 12, 7, h, m, s}));
    t.millisecond = 30;
    t.utcOffsetMinutes = offsetMinutes;
    return t;
}

struct LoggedRig : StartedRig {
    std::size_t mark = 0;
    void startAt(const std::string& settings, double seconds, LocalTime t = mondayAt(14, 28, 0)) {
        r.locale.time = t;
        start(settings, seconds);
        mark = r.log.lines.size();
    }
    // What was logged since start-up, without time stamps.
    std::string events() const { return r.log.events(mark); }
};

struct Logged : ::testing::Test, LoggedRig {};

// Lines as MemoryLogSink::events joins them.
std::string lines(std::initializer_list<std::string> each) {
    std::string out;
    for (const std::string& line : each) out += (out.empty() ? "" : "\n") + line;
    return out;
}

TEST(StationLogStamp, IsLocalTimeToTheMillisecondWithTheZoneOffset) {
    const struct {
        int offset;
        const char* text;
    } cases[] = {{60, "2026-12-07 03:00:00.012 +0100"}, {-210, "2026-12-07 03:00:00.012 -0330"}};
    for (const auto& c : cases) {
        LocalTime t = mondayAt(3, 0, 0, c.offset);
        t.millisecond = 12;
        EXPECT_EQ(StationLog::stamp(t), c.text);
    }
}

TEST_F(Logged, StartUpSaysVersionAndCallSignAndIdleTicksWriteNothing) {
    startAt("", 0);
    ASSERT_EQ(r.log.lines.size(), 2u);
    EXPECT_EQ(r.log.lines[0], "2026-12-07 14:28:00.030 +0100 start-up: Tarnwick 1.0.5");
    EXPECT_EQ(r.log.events(1), "start-up: node N0CALL-L in Sysop mode");
    // Idle, the progress tick unkeys and lists free every 10 ms: no event.
    EXPECT_NE(callsDuring(10s).find("SetPtt 0"), std::string::npos);
    EXPECT_EQ(events(), "");
}

TEST_F(Logged, EveryTransmissionSaysWhatStartedItAndWhatEndedIt) {
    const std::string settings =
        "STOPCLOCK6=1\nBEACONPERIOD6=3\nSTOPCLOCK7=1\nBEACONPERIOD7=4\nCWCALLSIGN=N0CALL/R\nDTMFInfo3=73A\n"
        "MON3=1\nHOUR3=14\nMINS3=30\n";
    startAt(settings, 10);
    click(f().Command6);
    r.loop.advance(3s);
    r.node.raiseDTMF("73A");
    r.loop.advance(11s);  // the restarted file plays to its end
    click(f().Command4);
    r.loop.advance(10ms);  // the file is at its end: the next tick unkeys
    click(f().Command1);
    r.loop.advance(2s);
    click(f().Command2);
    click(f().SendCW);
    r.loop.advance(245s - r.loop.now());  // the schedule at 14:30, the beacon at 3 min, the ident at 4
    EXPECT_EQ(
        events(),
        lines({"transmission started: Send Now, " + file, "transmission restarted: DTMF \"73A\", " + file,
               "transmission ended: end of file, after 10.0 s keyed", "transmission resumed: Resume, " + file,
               "transmission ended: end of file, after 0.0 s keyed", "transmission started: Play, " + file,
               "transmission ended: Stop, after 2.0 s keyed", "Morse ident sent: Send ID, \"N0CALL/R\"",
               "transmission started: schedule 14:30, " + file, "transmission ended: end of file, after 10.0 s keyed",
               "transmission started: timed beacon, " + file, "transmission ended: end of file, after 10.0 s keyed",
               "Morse ident sent: CW ident beacon, \"N0CALL/R\""}));
}

TEST_F(Logged, ABreakUnkeysAndKeysAgainAndATransmissionCanEndInsideOne) {
    startAt("BEACONPERIOD8=1\nSTOPCLOCK8=1\nTEXT6=400\n", 200);
    click(f().Command1);
    r.loop.advance(120500ms);  // the second break began at 120.4 s
    click(f().Command2);
    EXPECT_EQ(events(),
              lines({"transmission started: Play, " + file, "transmission unkeyed: break of 400 ms, after 60.0 s keyed",
                     "transmission keyed again: end of the break",
                     "transmission unkeyed: break of 400 ms, after 60.0 s keyed",
                     "transmission ended: Stop, during its break"}));
}

TEST(LoggedInUse, ADroppedTriggerNamesTheFlagsThatHeldItBack) {
    const struct {
        NodeBool busyA, rx, busyB;
        const char* why;
    } cases[] = {{0, -1, 0, "node in use (receiving signal)"}, {-1, 0, 1, "node in use (busy flag A, busy flag B)"}};
    for (const auto& c : cases) {
        LoggedRig t;
        t.startAt("CHECK2=1\nDTMFInfo3=73A\nMON3=1\nHOUR3=14\nMINS3=30\n", 10, mondayAt(14, 29, 58));
        t.r.node.busyA = c.busyA;
        t.r.node.rx = c.rx;
        t.r.node.busyB = c.busyB;
        t.click(t.f().Command6);
        t.r.node.raiseDTMF("73A");
        t.r.loop.advance(5s);  // over 14:30:00, with a tick in each second
        const std::string why = c.why;
        EXPECT_EQ(t.events(), lines({"trigger dropped: Send Now, " + why, "trigger dropped: DTMF \"73A\", " + why,
                                     "trigger dropped: schedule 14:30, " + why}));
        EXPECT_EQ(t.keys(), 0);
    }
}

TEST_F(Logged, ADroppedTriggerSaysWhenThereWasNothingToPlayOrTheLoadWasRefused) {
    const std::string missing = (std::filesystem::temp_directory_path() / "tarnwick-no-such-dir" / "id.wav").string();
    startAt("DTMFInfo3=73A\nTEXT4=" + missing + "\n", 0);
    // While "Please select a file" waits, "Send Now" finds the load busy.
    r.dialogs.answers.push_back({MsgResult::Ok, [&] { f().Command6.userClick(); }});
    click(f().Command1);
    click(f().Command4);
    r.node.raiseDTMF("73a");
    r.loop.advance(10ms);
    const std::string unplayable = r.mediaFile("noise.wav", 1);
    r.graphs.lengths.erase(unplayable);
    r.dialogs.fileAnswers.push_back({unplayable, nullptr});
    click(f().Command3);
    click(f().Command1);
    EXPECT_EQ(events(), lines({"file not loaded: \"" + missing + "\" is not a file",
                               "trigger dropped: Send Now, load refused (a file dialog or load message is open)",
                               "trigger dropped: Play, no file", "trigger dropped: Resume, no file loaded",
                               "DTMF ignored: \"73a\" is not the command code",
                               "file load failed: " + unplayable + ": Cannot render the file",
                               "trigger dropped: Play, no file loaded (" + unplayable + " could not be loaded)"}));
    EXPECT_EQ(keys(), 0);
}

TEST(LoggedExits, EachExitEndsTheRunningTransmissionFirst) {
    const struct {
        const char* how;
        std::function<void(StartedRig&)> exit;
        const char* after;  // what the path logs after its exit line
    } cases[] = {
        {"Save / Exit", [](StartedRig& t) { t.f().SaveAndExit.userClick(); }, "\nsettings saved: "},
        {"window closed",
         [](StartedRig& t) {
             t.r.dialogs.answers.push_back({MsgResult::Yes, nullptr});
             t.r.system().requestClose();
         },
         ""},
        {"node closing",
         [](StartedRig& t) {
             t.r.node.raiseClosing();
             t.r.loop.advance(10ms);
         },
         "\nsettings saved: "},
        {"ended from outside (signal 15)", [](StartedRig& t) { EndSession(t.r.system(), 128 + 15); }, ""},
    };
    for (const auto& c : cases) {
        LoggedRig t;
        t.startAt("", 30);
        t.click(t.f().Command1);
        t.r.loop.advance(1s);
        EXPECT_FALSE(t.r.act([&] { c.exit(t); })) << c.how;
        std::string expected =
            lines({"transmission started: Play, " + t.file,
                   std::string("transmission ended: ") + c.how + ", after 1.0 s keyed", std::string("exit: ") + c.how});
        if (*c.after) expected += c.after + t.r.store.location();
        EXPECT_EQ(t.events(), expected);
    }
}

TEST_F(Logged, AnErrorReportIsLoggedWithItsTextAndEndsTheTransmission) {
    startAt("", 30);
    click(f().Command1);
    r.loop.advance(1s);
    r.node.failing.insert("SendCwText");
    EXPECT_FALSE(r.act([&] { f().SendCW.userClick(); }));
    EXPECT_EQ(events(), lines({"transmission started: Play, " + file,
                               "error report: Run-time error '440': Automation error: SendCwText failed",
                               "transmission ended: error report, after 1.0 s keyed", "exit: error report"}));
}

TEST(LoggedStartUp, ANodeOutsideSysopModeIsTheExitLogged) {
    Rig r;
    r.node.callsign = "N0CALL";
    EXPECT_FALSE(r.start());
    EXPECT_EQ(r.log.events(), "start-up: Tarnwick 1.0.5\nexit: the node's call sign N0CALL is not in Sysop mode");
}

// A log that cannot be written changes nothing the station does, shows no
// box, and the About window says why.
TEST(LoggedFailing, AFailingLogLeavesTheTransmissionsAsTheyWere) {
    auto run = [](const std::string& failWith) {
        auto t = std::make_unique<LoggedRig>();
        t->r.log.failWith = failWith;
        t->startAt("CHECK2=1\nDTMFInfo3=73A\n", 2);
        t->click(t->f().Command1);
        t->r.loop.advance(3s);
        t->r.node.busyA = -1;
        t->r.node.raiseDTMF("73A");
        t->r.loop.advance(10ms);
        t->click(t->f().SendCW);
        t->click(t->f().Command7);
        return t;
    };
    const auto writing = run("");
    const auto failing = run("No space left on device");
    EXPECT_EQ(failing->r.node.traceText(), writing->r.node.traceText());
    EXPECT_TRUE(failing->r.dialogs.boxes.empty());
    EXPECT_TRUE(failing->r.log.lines.empty());
    EXPECT_GT(failing->r.log.failures, 5);
    EXPECT_EQ(failing->r.dialogs.lastAbout.logProblem, "No space left on device");
    EXPECT_EQ(writing->r.dialogs.lastAbout.logProblem, "");
}

TEST_F(Logged, TheAboutWindowGetsTheVersionThePlaceAndTheLatestTwentyLines) {
    startAt("DTMFInfo3=73A\n", 10);
    for (int i = 0; i < 25; ++i) r.node.raiseDTMF(std::to_string(i));
    r.loop.advance(10ms);
    click(f().Command7);
    const AboutInfo& about = r.dialogs.lastAbout;
    EXPECT_EQ(about.product + " " + about.version, "Tarnwick 1.0.5");
    EXPECT_EQ(about.logPlace, r.log.place());
    ASSERT_EQ(about.logLines.size(), 20u);
    EXPECT_EQ(about.logLines.front(), r.log.lines[r.log.lines.size() - 20]);
    EXPECT_EQ(about.logLines.back(), r.log.lines.back());
    EXPECT_NE(about.logLines.back().find("\"24\" is not the command code"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::test
