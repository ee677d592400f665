#include "base/errors.h"
#include "core/started.h"
#include "platform/fake/virtual_event_loop.h"
#include "seams/timer_queue.h"
#include "shared/event_loop_contract.h"
#include "station/timer_binder.h"
#include "window/form.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

using namespace std::chrono_literals;

TEST(WindowModel, TextWritesAlwaysRaiseChangeAndUserEditsKeepToDigitsAndLength) {
    Form f;
    int changes = 0;
    f.Text6.onChange = [&] { ++changes; };
    f.Text6.setText("100");  // the design text: raised all the same
    f.Text6.setText("100");
    EXPECT_EQ(changes, 2);

    changes = 0;
    f.Hour3.onChange = [&] { ++changes; };
    EXPECT_TRUE(f.Hour3.userEdit("1a"));  // not yet digits-only
    f.Hour3.setStyle(f.Hour3.style() | kEsNumber);
    EXPECT_FALSE(f.Hour3.userEdit("1b"));   // typed or pasted, refused alike
    EXPECT_FALSE(f.Hour3.userEdit("123"));  // longer than two
    EXPECT_TRUE(f.Hour3.userEdit("09"));
    EXPECT_EQ(f.Hour3.text(), "09");
    EXPECT_EQ(changes, 2);  // refused edits raise nothing
}

TEST(WindowModel, ScrollBarsRaiseChangeOnlyWhenTheValueMovesAndRefuseValuesOutOfRange) {
    Form f;
    std::vector<int> seen;
    f.V1.onChange = [&] { seen.push_back(f.V1.value()); };
    f.V1.setValue(0);  // unchanged: no event
    f.V1.setValue(-1500);
    EXPECT_EQ(test::failureNumber([&] { f.V1.setValue(1); }), err::kInvalidPropertyValue);
    EXPECT_EQ(seen, std::vector<int>({-1500}));
    // V2 runs from 200 at the top to 10 at the bottom: both ends are valid.
    f.V2.setValue(200);
    f.V2.setValue(10);
    EXPECT_THROW(f.V2.setValue(201), Failure);
    EXPECT_THROW(f.V2.setValue(9), Failure);

    // A dragged thumb raises scroll events, then one change at the drop,
    // and none when dropped where the drag began.
    int scrolls = 0, changes = 0;
    f.H2.onScroll = [&] { ++scrolls; };
    f.H2.onChange = [&] { ++changes; };
    for (int v : {100, 200}) f.H2.userScroll(v);
    f.H2.userChange(200);
    EXPECT_EQ(scrolls, 2);
    EXPECT_EQ(changes, 1);
    for (int v : {300, 200}) f.H2.userScroll(v);
    f.H2.userChange(200);
    EXPECT_EQ(changes, 1);
}

TEST(WindowModel, CheckBoxesHoldZeroOneOrTwo) {
    Form f;
    f.Check2.setValue(2);
    EXPECT_EQ(f.Check2.value(), 2);
    f.Check2.userToggle();  // greyed becomes ticked
    EXPECT_EQ(f.Check2.value(), 1);
    f.Check2.userToggle();
    EXPECT_EQ(f.Check2.value(), 0);
    EXPECT_EQ(test::failureNumber([&] { f.Check2.setValue(3); }), err::kInvalidPropertyValue);
}

TEST(TimerQueue, KeepsItsGridWhenTicksAreLate) {
    TimerQueue q;
    std::vector<long long> at;
    MonoTime now{0};
    q.add(1000ms, now, [&] { at.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()); });
    for (MonoTime t : {1003ms, 2400ms, 5100ms, 6000ms}) {
        now = t;
        q.runDue(now);
    }
    // 5100 stands for the ticks of 3000, 4000 and 5000, delivered once; the
    // next deadline is still on the grid, at 6000.
    EXPECT_EQ(at, (std::vector<long long>{1003, 2400, 5100, 6000}));
    EXPECT_EQ(*q.nextDeadline(), MonoTime(7000ms));
}

TEST(VirtualEventLoop, KeepsTheContractOfEveryLoop) {
    VirtualEventLoop loop;
    test::LoopDriver driver;
    driver.pumpUntil = [&](const std::function<bool()>& done) {
        for (int ms = 0; ms < 10000 && !done(); ++ms) loop.advance(1ms);
        return done();
    };
    driver.hold = [&](std::chrono::milliseconds d) { loop.block(d); };
    // A scripted box: the handler waits in it while virtual time passes.
    bool boxOpen = false;
    driver.modalBox = [&] {
        boxOpen = true;
        return driver.pumpUntil([&] { return !boxOpen; });
    };
    driver.answerBox = [&] { boxOpen = false; };
    test::keepsTheContractOfEveryLoop(loop, driver);
}

TEST(TimerBinder, TicksOnlyFromStartAndFollowsEnabledAndInterval) {
    Form f;
    VirtualEventLoop loop;
    TimerBinder binder(f, loop);
    int ticks = 0;
    f.Beacon6.onTick = [&] { ++ticks; };
    loop.advance(5s);
    EXPECT_EQ(ticks, 0);  // before start-up has finished nothing ticks
    binder.start();
    loop.advance(3s);
    EXPECT_EQ(ticks, 3);
    f.Beacon6.setEnabled(false);
    loop.advance(3s);
    EXPECT_EQ(ticks, 3);
    f.Beacon6.setEnabled(true);
    loop.advance(500ms);
    f.Beacon6.setEnabled(true);  // enabling an enabled timer does not restart it
    loop.advance(500ms);
    EXPECT_EQ(ticks, 4);
    f.Beacon6.setInterval(2000);  // a new interval restarts the period
    loop.advance(1999ms);
    EXPECT_EQ(ticks, 4);
    loop.advance(1ms);
    EXPECT_EQ(ticks, 5);
}

// The schedule's tick sets its own interval to keep to the clock's seconds,
// then may open the file dialog, whose loop runs the due timers: its own
// handler must not run inside itself.
TEST(TimerBinder, AHandlerThatRearmsItsOwnTimerAndPumpsTheLoopIsNotReentered) {
    Form f;
    VirtualEventLoop loop;
    TimerBinder binder(f, loop);
    int depth = 0, deepest = 0, ticks = 0, otherTicks = 0;
    f.Timer2.setInterval(1000);
    f.Timer2.setEnabled(true);
    f.Timer1.onTick = [&] { ++otherTicks; };
    f.Timer2.onTick = [&] {
        ++ticks;
        deepest = std::max(deepest, ++depth);
        f.Timer2.setInterval(f.Timer2.interval() == 1000 ? 999 : 1000);
        loop.block(3s);  // a dialog open for 3 s, its loop running the timers
        loop.processPendingEvents();
        --depth;
    };
    binder.start();
    loop.advance(1000ms);
    EXPECT_EQ(deepest, 1);
    EXPECT_GE(ticks, 1);
    EXPECT_GT(otherTicks, 0);  // the other timers ran inside the dialog's loop
}

}  // namespace
}  // namespace tarnwick
