// What every event loop must do with the system's timers and posted
// functions, inside modal boxes too, checked the same way on each
// platform's loop (with the platform's own modal loop) and on the virtual
// one of the tests (with a scripted box).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "seams/event_loop.h"

namespace tarnwick::test {

// How a test drives one loop: `pumpUntil` runs it until its condition holds
// (false on a hang); `hold` keeps the loop thread busy in a handler for a
// while, delivering nothing (a real loop's thread sleeps); `modalBox` opens
// a box that runs the platform's own modal loop and returns true once
// `answerBox`, called from a tick inside that loop, has answered it.
using PumpUntil = std::function<bool(const std::function<bool()>&)>;
struct LoopDriver {
    PumpUntil pumpUntil;
    std::function<void(std::chrono::milliseconds)> hold = [](std::chrono::milliseconds d) {
        std::this_thread::sleep_for(d);
    };
    std::function<bool()> modalBox;
    std::function<void()> answerBox;
};

inline void timersTickEarliestDeadlineFirstAndRepeat(EventLoop& loop, const PumpUntil& pumpUntil) {
    using std::chrono::milliseconds;
    std::vector<std::string> order;
    std::vector<TimerId> ids(3);
    // Added out of order; wide gaps so a stall between the adds cannot swap them.
    ids[0] = loop.addTimer(milliseconds(250), [&] {
        order.push_back("250");
        loop.removeTimer(ids[0]);
    });
    ids[1] = loop.addTimer(milliseconds(50), [&] {
        order.push_back("50");
        loop.removeTimer(ids[1]);
    });
    ids[2] = loop.addTimer(milliseconds(150), [&] {
        order.push_back("150");
        loop.removeTimer(ids[2]);
    });
    int repeats = 0;
    const TimerId periodic = loop.addTimer(milliseconds(2), [&] { ++repeats; });

    ASSERT_TRUE(pumpUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<std::string>{"50", "150", "250"}));
    EXPECT_GT(repeats, 3);
    loop.removeTimer(periodic);
}

inline void removedTimersDoNotTick(EventLoop& loop, const PumpUntil& pumpUntil) {
    using std::chrono::milliseconds;
    int removedBeforeDue = 0, removedByOther = 0, first = 0;
    bool done = false;

    const TimerId early = loop.addTimer(milliseconds(1), [&] { ++removedBeforeDue; });
    loop.removeTimer(early);

    // Both fall due at the same wake-up; the first added goes first and
    // takes the other one's pending tick away.
    TimerId second = 0;
    TimerId firstId = loop.addTimer(milliseconds(1), [&] {
        ++first;
        loop.removeTimer(second);
        loop.removeTimer(firstId);
    });
    second = loop.addTimer(milliseconds(1), [&] { ++removedByOther; });
    TimerId end = loop.addTimer(milliseconds(100), [&] {
        done = true;
        loop.removeTimer(end);
    });

    ASSERT_TRUE(pumpUntil([&] { return done; }));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(removedByOther, 0);
    EXPECT_EQ(removedBeforeDue, 0);
}

inline void postedFunctionsRunInOrderAfterTheCurrentHandler(EventLoop& loop, const PumpUntil& pumpUntil) {
    std::vector<int> order;
    loop.post([&] {
        order.push_back(1);
        loop.post([&] { order.push_back(4); });
        order.push_back(2);
    });
    loop.post([&] { order.push_back(3); });
    ASSERT_TRUE(pumpUntil([&] { return order.size() == 4; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

inline void processPendingEventsRunsPostedFunctionsAndDueTimers(EventLoop& loop, const LoopDriver& driver) {
    using std::chrono::milliseconds;
    bool posted = false, ticked = false, checked = false;
    bool postedSeen = false, tickSeen = false;

    loop.post([&] {
        // Inside a handler: a posted function and a due timer run nested.
        loop.post([&] { posted = true; });
        TimerId due = loop.addTimer(milliseconds(1), [&] {
            ticked = true;
            loop.removeTimer(due);
        });
        driver.hold(milliseconds(5));
        loop.processPendingEvents();
        postedSeen = posted;
        tickSeen = ticked;
        checked = true;
    });
    ASSERT_TRUE(driver.pumpUntil([&] { return checked; }));
    EXPECT_TRUE(postedSeen);
    EXPECT_TRUE(tickSeen);
}

inline void timersKeepTickingWhileATickHandlerWaitsInAModalBox(EventLoop& loop, const LoopDriver& driver) {
    using std::chrono::milliseconds;
    int counter = 0, fast = 0, opened = 0, countWhenAnswered = -1, fastWhenAnswered = -1;
    bool answered = false, answeredAsAsked = false;

    TimerId opener = loop.addTimer(milliseconds(1), [&] {
        ++opened;
        answeredAsAsked = driver.modalBox();
        countWhenAnswered = counter;
        fastWhenAnswered = fast;
        answered = true;
        loop.removeTimer(opener);
    });
    const TimerId ticker = loop.addTimer(milliseconds(10), [&] {
        if (++counter == 10) driver.answerBox();
    });
    const TimerId oneMs = loop.addTimer(milliseconds(1), [&] { ++fast; });

    ASSERT_TRUE(driver.pumpUntil([&] { return answered; }));
    EXPECT_TRUE(answeredAsAsked);
    EXPECT_GE(countWhenAnswered, 10);
    EXPECT_GT(fastWhenAnswered, 0);
    // The opener's own ticks did not re-enter it while it waited.
    EXPECT_EQ(opened, 1);
    // And the loop goes on waking after the box's loop has returned.
    ASSERT_TRUE(driver.pumpUntil([&] { return counter >= countWhenAnswered + 3; }));
    loop.removeTimer(ticker);
    loop.removeTimer(oneMs);
}

inline void keepsTheContractOfEveryLoop(EventLoop& loop, const LoopDriver& driver) {
    timersTickEarliestDeadlineFirstAndRepeat(loop, driver.pumpUntil);
    removedTimersDoNotTick(loop, driver.pumpUntil);
    postedFunctionsRunInOrderAfterTheCurrentHandler(loop, driver.pumpUntil);
    processPendingEventsRunsPostedFunctionsAndDueTimers(loop, driver);
    timersKeepTickingWhileATickHandlerWaitsInAModalBox(loop, driver);
}

}  // namespace tarnwick::test
