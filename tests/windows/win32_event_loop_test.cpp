// Win32EventLoop: the contract of every loop, with MessageBoxA's own loop as
// the modal box; WM_QUIT; and ending the process at once.
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

TEST(Win32EventLoop, KeepsTheContractOfEveryLoop) {
    Win32EventLoop loop;
    Win32Dialogs dialogs;
    test::LoopDriver driver;
    driver.pumpUntil = [](const std::function<bool()>& done) { return testing::pumpUntil(done); };
    // MessageBoxA runs its own loop; nothing of ours runs it.
    driver.modalBox = [&] {
        testing::ModalWatchdog watchdog;
        return dialogs.messageBox("Waiting", "Tarnwick loop test", mb::kOk) == MsgResult::Ok;
    };
    driver.answerBox = [] {
        HWND box = testing::findDialog("Tarnwick loop test");
        ASSERT_NE(box, nullptr);
        testing::press(box, IDOK);
    };
    test::keepsTheContractOfEveryLoop(loop, driver);
}

TEST(Win32EventLoop, RunReturnsOnQuitAndProcessPendingEventsKeepsTheQuitForIt) {
    Win32EventLoop loop;
    bool ran = false;
    loop.post([&] {
        PostQuitMessage(3);
        loop.processPendingEvents();  // meets the quit message and must leave it for run()
        ran = true;
    });
    loop.run();
    EXPECT_TRUE(ran);
}

// The child ends the program from a timer tick nested inside a message box,
// with a posted function, an atexit handler and destructors pending: only
// "before end" may be written.
TEST(Win32EventLoop, EndProgramEndsTheProcessAtOnce) {
    char self[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    DWORD status = 0;
    const std::string out = testing::runProgram(testing::quoted(self) + " --end-program-child", status);
    EXPECT_EQ(status, 7u);
    EXPECT_EQ(out, "before end\r\n");  // standard output in text mode
}

struct PrintsOnDestruction {
    ~PrintsOnDestruction() { std::printf("destructor ran\n"); }
};

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
