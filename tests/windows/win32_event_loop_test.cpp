// Win32EventLoop: the system's timers on the message loop, inside modal
// boxes too, posted functions, and ending the process at once.
#include "platform/windows/win32_event_loop.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/windows/win32_dialogs.h"
#include "shared/event_loop_contract.h"
#include "windows/win_support.h"

namespace tarnwick {
namespace {

using std::chrono::milliseconds;
using testing::pumpUntil;

TEST(Win32EventLoop, KeepsTheContractOfEveryLoop) {
    Win32EventLoop loop;
    test::keepsTheContractOfEveryLoop(loop, {[](const std::function<bool()>& done) { return pumpUntil(done); }});
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
        if (++counter == 10) {
            HWND box = testing::findDialog("Tarnwick loop test");
            ASSERT_NE(box, nullptr);
            testing::press(box, IDOK);
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

// The child of EndProgramEndsTheProcessAtOnce: ends the program from a
// timer tick nested inside a message box, with a posted function, an atexit
// handler and destructors pending. Only "before end" may be written.
struct PrintsOnDestruction {
    ~PrintsOnDestruction() { std::printf("destructor ran\n"); }
};

TEST(Win32EventLoop, EndProgramEndsTheProcessAtOnce) {
    DWORD status = 0;
    const std::string out = testing::runSelf("--end-program-child", status);
    EXPECT_EQ(status, 7u);
    EXPECT_EQ(out, "before end\r\n");  // standard output in text mode
}

}  // namespace

namespace testing {
int runEndProgramChild() {
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
}  // namespace testing
}  // namespace tarnwick
