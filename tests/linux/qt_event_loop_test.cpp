#include "platform/linux/qt_event_loop.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QProcess>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "linux/qt_support.h"
#include "shared/event_loop_contract.h"
#include "platform/linux/qt_dialogs.h"

namespace tarnwick {
namespace {

using std::chrono::milliseconds;
using testing::spinUntil;

TEST(QtEventLoop, KeepsTheContractOfEveryLoop) {
    QtEventLoop loop;
    QtDialogs dialogs;
    test::LoopDriver driver;
    driver.pumpUntil = [](const std::function<bool()>& done) { return spinUntil(done); };
    driver.modalBox = [&] {
        testing::ModalWatchdog watchdog;
        return dialogs.messageBox("Waiting", "Test", mb::kOk) == MsgResult::Ok;
    };
    driver.answerBox = [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        box->button(QMessageBox::Ok)->click();
    };
    test::keepsTheContractOfEveryLoop(loop, driver);
}

// Runs in a child process: ends the program from a timer tick nested inside
// a modal box, with a posted function and an atexit handler pending. Only
// "before end" may reach the output, and the exit status must be 7.
struct PrintsOnDestruction {
    ~PrintsOnDestruction() { std::printf("destructor ran\n"); }
};

}  // namespace

int testing::runEndProgramChild(int argc, char** argv) {
    QApplication app(argc, argv);
    static PrintsOnDestruction staticObject;
    std::atexit([] { std::printf("atexit ran\n"); });
    PrintsOnDestruction localObject;
    QtEventLoop loop;
    QtDialogs dialogs;
    loop.addTimer(milliseconds(1), [&] {
        dialogs.messageBox("Open while the program ends", "Test", mb::kOk);
        std::printf("box returned\n");
    });
    loop.addTimer(milliseconds(20), [&] {
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

TEST(QtEventLoop, EndProgramEndsTheProcessAtOnce) {
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(testing::kEndProgramChildFlag)});
    if (!child.waitForFinished(testing::kHangGuardMs)) {
        child.kill();
        child.waitForFinished();
        FAIL() << "the child did not end";
    }
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 7);
    EXPECT_EQ(child.readAllStandardOutput().toStdString(), "before end\n");
}

}  // namespace
}  // namespace tarnwick
