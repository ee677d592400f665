// Win32EventLoop: the system's timers on the message loop, inside modal
// boxes too, posted functions, and ending the process at once.
#include "platform/windows/win32_event_loop.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/windows/win32_dialogs.h"
#include "windows/win_support.h"

namespace tarnwick {
namespace {

using std::chrono::milliseconds;
using testing::pumpUntil;

// Presses a button of the message box titled `title` once it is open.
bool answerBox(const char* title, int button) {
    HWND box = testing::findThreadWindow("#32770", title);
    if (box == nullptr) return false;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    return true;
}

TEST(Win32EventLoop, TimersTickEarliestDeadlineFirstAndRepeat) {
    Win32EventLoop loop;
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
    const TimerId periodic = loop.addTimer(milliseconds(1), [&] { ++repeats; });

    ASSERT_TRUE(pumpUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<std::string>{"50", "150", "250"}));
    EXPECT_GT(repeats, 3);
    loop.removeTimer(periodic);
}

TEST(Win32EventLoop, RemovedTimersDoNotTick) {
    Win32EventLoop loop;
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

TEST(Win32EventLoop, TimersKeepTickingWhileATickHandlerWaitsInAMessageBox) {
    testing::ModalWatchdog watchdog;
    Win32EventLoop loop;
    Win32Dialogs dialogs;
    int counter = 0, fast = 0, opened = 0, countWhenAnswered = -1, fastWhenAnswered = -1;
    bool answered = false;
    MsgResult result = MsgResult::No;

    TimerId opener = loop.addTimer(milliseconds(1), [&] {
        ++opened;
        // MessageBoxA runs its own loop; nothing of ours runs it.
        result = dialogs.messageBox("Waiting", "Tarnwick loop test", mb::kOk);
        countWhenAnswered = counter;
        fastWhenAnswered = fast;
        answered = true;
        loop.removeTimer(opener);
    });
    const TimerId ticker = loop.addTimer(milliseconds(10), [&] {
        ++counter;
        if (counter == 10) {
            EXPECT_TRUE(answerBox("Tarnwick loop test", IDOK));
        }
    });
    const TimerId oneMs = loop.addTimer(milliseconds(1), [&] { ++fast; });

    ASSERT_TRUE(pumpUntil([&] { return answered; }));
    EXPECT_EQ(result, MsgResult::Ok);
    EXPECT_GE(countWhenAnswered, 10);
    EXPECT_GT(fastWhenAnswered, 0);
    // The opener's own ticks did not re-enter it while it waited.
    EXPECT_EQ(opened, 1);
    // And the loop goes on waking after the box's loop has returned.
    ASSERT_TRUE(pumpUntil([&] { return counter >= countWhenAnswered + 3; }));
    loop.removeTimer(ticker);
    loop.removeTimer(oneMs);
}

TEST(Win32EventLoop, PostedFunctionsRunInOrderAfterTheCurrentHandler) {
    Win32EventLoop loop;
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

TEST(Win32EventLoop, ProcessPendingEventsRunsPostedFunctionsAndDueTimers) {
    Win32EventLoop loop;
    bool posted = false, ticked = false, checked = false;
    bool postedSeen = false, tickSeen = false;

    loop.post([&] {
        // Inside a handler: a posted function and a due timer run nested.
        loop.post([&] { posted = true; });
        TimerId due = loop.addTimer(milliseconds(1), [&] {
            ticked = true;
            loop.removeTimer(due);
        });
        Sleep(5);
        loop.processPendingEvents();
        postedSeen = posted;
        tickSeen = ticked;
        checked = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return checked; }));
    EXPECT_TRUE(postedSeen);
    EXPECT_TRUE(tickSeen);
}

TEST(Win32EventLoop, RunReturnsOnQuitAndProcessPendingEventsKeepsTheQuitForIt) {
    Win32EventLoop loop;
    bool ran = false;
    loop.post([&] {
        PostQuitMessage(3);
        // A nested pump meets the quit message and must leave it for run().
        loop.processPendingEvents();
        ran = true;
    });
    loop.run();
    EXPECT_TRUE(ran);
}

// Runs in a child process: ends the program from a timer tick nested inside
// a message box, with a posted function, an atexit handler and destructors
// pending. Only "before end" may reach the output, and the status is 7.
struct PrintsOnDestruction {
    ~PrintsOnDestruction() { std::printf("destructor ran\n"); }
};

}  // namespace

int testing::runEndProgramChild() {
    static PrintsOnDestruction staticObject;
    std::atexit([] { std::printf("atexit ran\n"); });
    PrintsOnDestruction localObject;
    Win32EventLoop loop;
    Win32Dialogs dialogs;
    loop.addTimer(milliseconds(1), [&] {
        dialogs.messageBox("Open while the program ends", "Tarnwick end test", mb::kOk);
        std::printf("box returned\n");
    });
    loop.addTimer(milliseconds(50), [&] {
        loop.post([] { std::printf("posted ran\n"); });
        std::printf("before end\n");  // buffered: only endProgram's flush writes it
        loop.endProgram(7);
        std::printf("after end\n");
    });
    loop.run();
    std::printf("run returned\n");
    return 0;
}

namespace {

TEST(Win32EventLoop, EndProgramEndsTheProcessAtOnce) {
    DWORD status = 0;
    const std::string out = testing::runSelf(testing::kEndProgramChildFlag, status);
    EXPECT_EQ(status, 7u);
    // The child's standard output is in text mode: "\n" arrives as CR LF.
    EXPECT_EQ(out, "before end\r\n");
}

}  // namespace
}  // namespace tarnwick
