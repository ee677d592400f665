#include "base/convert.h"
#include "core/started.h"
#include "media/load_file.h"
#include "seams/dialogs.h"
#include "transmit/transmit_sequence.h"

namespace tarnwick::test {
namespace {

constexpr const char* kRenderError = "Render error no rendering device found";

using Player = Started;

TEST_F(Player, IdleTicksListFreeAndUnkeyEveryTickAndMoveNothing) {
    start("", 0);
    EXPECT_EQ(callsDuring(30ms), "SetListedBusy 0\nSetPtt 0\nSetListedBusy 0\nSetPtt 0\nSetListedBusy 0\nSetPtt 0");
    EXPECT_EQ(f().Label22.caption(), "00:00:00");
    EXPECT_EQ(f().H1.value(), 0);
    EXPECT_FALSE(f().Beacon8.enabled());
}

TEST_F(Player, PlayKeysThenTheEndIsActedOnOneTickAfterThePositionMeetsTheLength) {
    start("", 12.5);
    r.loop.advance(5ms);  // between ticks
    EXPECT_EQ(clicked(f().Command1), "SetPtt -1");
    EXPECT_TRUE(r.dialogs.fileDialogs.empty());  // the saved path needs no dialog
    EXPECT_EQ(f().PTT.caption(), "PTT ON");
    EXPECT_TRUE(f().Beacon8.enabled());
    EXPECT_EQ(f().Text3.text(), "12.5");
    EXPECT_EQ(f().H1.max(), 12);  // 12.5 rounds to the even 12

    // Ticks fall at 10 ms steps; the file runs from 5 ms to 12.505 s.
    EXPECT_EQ(callsDuring(12500ms - 5ms), "");
    EXPECT_EQ(f().Text2.text(), "12.495");
    EXPECT_EQ(f().H1.value(), 12);     // the bar follows the position
    EXPECT_EQ(callsDuring(10ms), "");  // this tick writes 12.5
    EXPECT_EQ(f().Text2.text(), "12.5");
    EXPECT_EQ(f().Label22.caption(), "00:00:00");
    EXPECT_EQ(callsDuring(10ms), "SetListedBusy 0\nSetPtt 0");
    EXPECT_FALSE(f().Beacon8.enabled());
    EXPECT_EQ(callsDuring(20ms), "SetListedBusy 0\nSetPtt 0\nSetListedBusy 0\nSetPtt 0");  // and on every tick
}

// A graph that does not start plays nothing, and its end would never come:
// the transmission that keyed for it ends at once, a start's or Resume's.
TEST_F(Player, AGraphThatDoesNotRunEndsItsTransmissionAtOnce) {
    start("LISTASBUSYCHECK=1\n", 30);
    r.graphs.failNext = {"Run"};
    ASSERT_TRUE(r.act([&] { TXFile(r.station(), r.system().transmission); }));
    EXPECT_EQ(r.node.traceText(), "SetListedBusy -1\nSetPtt -1\nSetListedBusy 0\nSetPtt 0");
    EXPECT_FALSE(f().Beacon8.enabled());
    click(f().Command1);
    r.loop.advance(1s);
    click(f().Command2);
    r.graphs.failNext = {"Run"};
    EXPECT_EQ(clicked(f().Command4), "SetPtt -1\nSetListedBusy 0\nSetPtt 0");
}

// An unkey the node failed goes again with the next progress tick, while no
// transmission runs: after Stop, and after Load File released the graph of
// the transmission.
TEST_F(Player, AnUnkeyTheNodeFailedGoesAgainOnTheNextTick) {
    start("", 30);
    auto failedThenUnkeyed = [&](const char* what) {
        EXPECT_EQ(r.node.ptt, kNodeTrue) << what;  // the node did not take it
        r.loop.advance(10ms);
        EXPECT_EQ(r.node.ptt, 0) << what;
    };
    click(f().Command1);
    r.loop.advance(1s);
    r.node.failNext = {"SetPtt"};
    click(f().Command2);
    failedThenUnkeyed("Stop");

    click(f().Command1);
    r.loop.advance(1s);
    r.node.failNext = {"SetPtt"};
    r.dialogs.fileAnswers.push_back({r.mediaFile("other.wav", 5), nullptr});
    click(f().Command3);
    failedThenUnkeyed("Load File");
}

TEST_F(Player, AfterTheEndResumeIsUnkeyedOnTheNextTickAndPlayReplaysTheSameGraph) {
    start("", 1);
    click(f().Command1);
    r.loop.advance(2s);
    EXPECT_EQ(clicked(f().Command4, 10ms), "SetPtt -1\nSetListedBusy 0\nSetPtt 0");
    EXPECT_EQ(clicked(f().Command1, 500ms), "SetPtt -1");  // playing again from zero
    EXPECT_EQ(r.graphs.created, 1);
    EXPECT_NEAR(r.graphs.current->CurrentPosition(), 0.5, 0.011);
}

TEST_F(Player, StopUnkeysListsFreeAndResumeContinues) {
    start("LISTASBUSYCHECK=1\n");
    ASSERT_TRUE(r.act([&] { TXFile(r.station(), r.system().transmission); }));
    EXPECT_EQ(r.node.traceText(), "SetListedBusy -1\nSetPtt -1");
    r.loop.advance(1s);
    EXPECT_EQ(clicked(f().Command2), "SetPtt 0\nSetListedBusy 0");
    EXPECT_EQ(f().PTT.caption(), "PTT OFF");
    EXPECT_FALSE(f().Beacon8.enabled());
    EXPECT_FALSE(r.graphs.current->running());
    click(f().Command4);
    r.loop.advance(500ms);
    EXPECT_NEAR(r.graphs.current->CurrentPosition(), 1.5, 0.011);
}

// A stalled playback reads its end after 5 s (the graph contract): the
// transmission ends there, and the next one's rewind plays again.
TEST_F(Player, AStalledPlaybackEndsItsTransmissionAfterFiveSeconds) {
    start("LISTASBUSYCHECK=1\n", 30);
    ASSERT_TRUE(r.act([&] { TXFile(r.station(), r.system().transmission); }));
    r.loop.advance(1s);
    r.graphs.current->stall();
    EXPECT_EQ(callsDuring(5s), "");
    EXPECT_EQ(callsDuring(10ms), "SetListedBusy 0\nSetPtt 0");
    EXPECT_EQ(clicked(f().Command1, 1s), "SetPtt -1");
    EXPECT_NEAR(r.graphs.current->CurrentPosition(), 1.0, 0.011);
}

TEST_F(Player, AGreyedListedBusyBoxIsNotTickedButTheEndAlwaysListsFree) {
    start("LISTASBUSYCHECK=2\n", 1);
    ASSERT_TRUE(r.act([&] { TXFile(r.station(), r.system().transmission); }));
    EXPECT_EQ(r.node.traceText(), "SetPtt -1");
    r.loop.advance(1020ms);
    EXPECT_EQ(r.node.trace.back(), "SetPtt 0");
    EXPECT_EQ(r.node.trace[r.node.trace.size() - 2], "SetListedBusy 0");
}

TEST_F(Player, TxFileDuringATransmissionRestartsTheFileFromZero) {
    start("", 10);
    ASSERT_TRUE(r.act([&] { TXFile(r.station(), r.system().transmission); }));
    r.loop.advance(6s);
    ASSERT_TRUE(r.act([&] { TXFile(r.station(), r.system().transmission); }));
    EXPECT_EQ(callsDuring(9s), "");  // lasts a whole length from the restart
    EXPECT_EQ(callsDuring(1015ms), "SetListedBusy 0\nSetPtt 0");
}

TEST_F(Player, WithNoUsablePathPlayAsksForAFileAndKeysNothing) {
    start("", 0);
    click(f().Command1);  // no path: the dialog, cancelled
    ASSERT_EQ(r.dialogs.fileDialogs.size(), 1u);
    ASSERT_EQ(r.dialogs.boxes.size(), 1u);
    EXPECT_EQ(r.dialogs.boxes[0].text, "Please select a file");

    f().Text4.setText("/nonexistent/id.wav");  // a path that is gone: asked on every call, no dialog
    click(f().Command1);
    click(f().Command1);
    EXPECT_EQ(r.dialogs.boxes.size(), 3u);
    EXPECT_EQ(r.dialogs.fileDialogs.size(), 1u);
    EXPECT_EQ(r.node.traceText(), "");
}

TEST_F(Player, AFileIsFoundByTheNameThePlatformReadsAndKeptUnderTheTextAsWritten) {
    // "Today's ID.wav" with the closing quote of code page 1252: its bytes
    // name no file, the name the platform reads them as does.
    const std::string file = r.mediaFile("Today's ID.wav", 2);
    const std::string ansi = (r.mediaDir / "Today\x92s ID.wav").string();
    ASSERT_FALSE(std::filesystem::exists(ansi));
    r.locale.files[ansi] = file;
    r.graphs.lengths[ansi] = 2;
    start("TEXT4=" + ansi + "\n", 0);
    click(f().Command1);
    EXPECT_TRUE(r.dialogs.boxes.empty());
    EXPECT_EQ(r.node.traceText(), "SetPtt -1");
    // The window, the settings and the graph go on speaking the text.
    EXPECT_EQ(f().Text4.text(), ansi);
    ASSERT_NE(r.graphs.current, nullptr);
    EXPECT_EQ(r.graphs.current->path(), ansi);
}

TEST_F(Player, CancelOnLoadFileKeepsTheEarlierGraphInUse) {
    start("", 30);
    click(f().Command1);
    r.loop.advance(1s);
    click(f().Command3);  // Cancel (no scripted answer)
    EXPECT_EQ(f().Text4.text(), "");
    EXPECT_EQ(r.dialogs.boxes.back().text, "Please select a file");
    ASSERT_NE(r.graphs.current, nullptr);
    EXPECT_TRUE(r.graphs.current->running());
    click(f().Command1);  // later transmissions play it
    EXPECT_EQ(r.graphs.created, 1);
    EXPECT_TRUE(r.graphs.current->running());
}

TEST_F(Player, AFailedLoadLeavesNoGraphIsNotRetriedAndKeysNothing) {
    file = r.mediaFile("bad.wav", 1);
    r.graphs.lengths.erase(file);  // exists, but cannot be rendered
    start("TEXT4=" + file + "\n", 0);
    click(f().Command1);
    ASSERT_EQ(r.dialogs.boxes.size(), 1u);
    EXPECT_EQ(r.dialogs.boxes[0].text, kRenderError);
    EXPECT_EQ(r.dialogs.boxes[0].style, mb::kIconExclamation);
    EXPECT_FALSE(r.station().hasGraph());
    EXPECT_EQ(r.system().media.LoadedFile, file);
    click(f().Command1);
    click(f().Command4);
    EXPECT_EQ(r.dialogs.boxes.size(), 1u);  // no second attempt
    EXPECT_EQ(r.graphs.calls.size(), 2u);   // one RenderFile, one Release
    EXPECT_EQ(r.node.traceText(), "");      // and nothing keyed, ever
}

TEST_F(Player, TheProgressBarTakesTheLengthAsASigned16BitWhole) {
    start("", 0);
    auto load = [&](double seconds) {
        // append, not "f" + ...: MinGW's GCC 12 warns falsely (-Wrestrict) on the latter
        const std::string name = std::string("f").append(std::to_string(seconds)).append(".wav");
        r.dialogs.fileAnswers.push_back({r.mediaFile(name, seconds), nullptr});
        EXPECT_TRUE(r.act([&] { f().Command3.userClick(); }));
    };
    for (auto [seconds, max] : {std::pair{2.5, 2}, {3.5, 4}, {32767.4, 32767}}) {
        load(seconds);
        EXPECT_EQ(f().H1.max(), max) << seconds;
    }
    load(32767.5);
    EXPECT_EQ(r.dialogs.boxes.back().text, kRenderError);
    EXPECT_FALSE(r.station().hasGraph());
    EXPECT_EQ(f().H1.max(), 32767);  // the earlier length stays
    EXPECT_EQ(f().Text3.text(), "32767.4");
}

TEST_F(Player, ASecondLoadWhileTheDialogIsOpenIsRefused) {
    start("", 30);
    const std::string other = r.mediaFile("other.wav", 5);
    r.dialogs.fileAnswers.push_back({other, [&] {
                                         // Play pressed (a beacon, a DTMF command) while the dialog waits.
                                         f().Command1.userClick();
                                         r.loop.advance(50ms);
                                     }});
    click(f().Command3);
    EXPECT_EQ(r.dialogs.fileDialogs.size(), 1u);
    EXPECT_EQ(keys(), 0);  // the nested start sent nothing
    EXPECT_EQ(r.system().media.LoadedFile, other);
    EXPECT_EQ(f().Text4.text(), other);  // shown, and saved with the settings
}

// The file dialog of Load File left open on an unattended station: the file
// already loaded still goes out on a beacon and on a DTMF command, and each
// transmission ends at the end of the file.
TEST_F(Player, WhileLoadFileWaitsInItsDialogTheLoadedFileStillGoesOut) {
    start("BEACONPERIOD6=1\nSTOPCLOCK6=1\nDTMFINFO3=73\n", 2);
    click(f().Command1);  // loads the saved file
    r.loop.advance(3s);
    r.node.clearTrace();
    std::vector<int> keyedAt;  // the node's PTT at the moments looked at
    auto look = [&](std::chrono::milliseconds d) {
        r.loop.advance(d);
        keyedAt.push_back(r.node.ptt);
    };
    r.dialogs.fileAnswers.push_back({"", [&] {  // open for a minute, then cancelled
                                         r.node.raiseDTMF("73");
                                         look(100ms);
                                         look(1950ms);  // 2.05 s after the key
                                         r.loop.advance(54s);
                                         look(950ms);  // 60 s from start: the beacon
                                         look(2050ms);
                                     }});
    click(f().Command3);
    EXPECT_EQ(keyedAt, (std::vector<int>{kNodeTrue, 0, kNodeTrue, 0}));
    EXPECT_EQ(keys(), 2);
    EXPECT_EQ(r.dialogs.fileDialogs.size(), 1u);
    EXPECT_EQ(r.graphs.created, 1);
    ASSERT_EQ(r.dialogs.boxes.size(), 1u);  // the Cancel's
    EXPECT_EQ(r.dialogs.boxes[0].text, "Please select a file");
}

TEST_F(Player, LoadFileDuringATransmissionEndsItWhenTheGraphIsReleased) {
    start("LISTASBUSYCHECK=1\n");
    ASSERT_TRUE(r.act([&] { TXFile(r.station(), r.system().transmission); }));
    r.loop.advance(1s);
    r.dialogs.fileAnswers.push_back({r.mediaFile("other.wav", 5), nullptr});
    EXPECT_EQ(clicked(f().Command3), "SetListedBusy 0\nSetPtt 0");
    EXPECT_FALSE(f().Beacon8.enabled());
    EXPECT_FALSE(r.graphs.current->running());  // the new graph waits for a start
}

TEST_F(Player, TheBarsReachAPlayingGraphWhenTheyChange) {
    start("", 30);
    f().V1.userChange(-1500);  // no graph yet: the value is written back all the same
    EXPECT_EQ(f().VolSet.text(), "-1500");
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
    EXPECT_EQ(r.graphs.current->rate(), 0.1);
}

TEST_F(Player, EveryNewGraphTakesTheBarsBeforeItRuns) {
    using Calls = std::vector<std::string>;
    auto callsSince = [&](std::size_t mark) { return Calls(r.graphs.calls.begin() + mark, r.graphs.calls.end()); };
    start("VOLSET=-1200\n", 30);
    f().H2.userChange(-2500);  // moved while no graph exists
    f().V2.userChange(50);
    click(f().Command1);  // the first load after start
    EXPECT_EQ(callsSince(0), (Calls{"RenderFile " + file, "SetVolume -1200", "SetBalance -2500", "SetRate 0.5", "Run",
                                    "SetCurrentPosition 0"}));

    // Load File during playback: the new graph takes the bars as they stand now.
    f().V1.userChange(-3000);
    r.dialogs.fileAnswers.push_back({r.mediaFile("other.wav", 5), nullptr});
    std::size_t mark = r.graphs.calls.size();
    click(f().Command3);
    EXPECT_EQ(callsSince(mark), (Calls{"Release", "RenderFile " + r.system().media.LoadedFile, "SetVolume -3000",
                                       "SetBalance -2500", "SetRate 0.5"}));

    // A bar the graph refuses is skipped: the others still arrive, the load stands and plays.
    r.graphs.failing = {"SetVolume"};
    r.dialogs.fileAnswers.push_back({r.mediaFile("third.wav", 5), nullptr});
    mark = r.graphs.calls.size();
    click(f().Command3);
    click(f().Command1);
    EXPECT_EQ(callsSince(mark), (Calls{"Release", "RenderFile " + r.system().media.LoadedFile, "SetVolume -3000",
                                       "SetBalance -2500", "SetRate 0.5", "Run", "SetCurrentPosition 0"}));
    EXPECT_EQ(r.dialogs.boxes.size(), 0u);
    EXPECT_EQ(keys(), 2);
}

TEST(FormatClock, ClampsToTheDisplayRange) {
    const std::pair<double, const char*> cases[] = {{0.99, "00:00:00"},  {1, "00:00:01"},     {59.9, "00:00:59"},
                                                    {86399, "23:59:59"}, {86400, "24:00:00"}, {89999, "24:59:59"},
                                                    {90000, "24:59:59"}, {1e9, "24:59:59"},   {-5, "00:00:00"}};
    for (const auto& [seconds, text] : cases) EXPECT_EQ(FormatClock(seconds), text) << seconds;
}

}  // namespace
}  // namespace tarnwick::test
