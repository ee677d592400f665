// The Qt shell tests, with the QApplication (and a display, which CTest
// provides through support/with-session.sh --display) they need.
#include "platform/linux/qt_event_loop.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/qt_dialogs.h"
#include "shared/event_loop_contract.h"

namespace tarnwick {
namespace {

using std::chrono::milliseconds;
constexpr const char* kEndProgramChild = "--end-program-child";

TEST(QtEventLoop, KeepsTheContractOfEveryLoop) {
    QtEventLoop loop;
    QtDialogs dialogs;
    test::LoopDriver driver;
    driver.pumpUntil = [](const std::function<bool()>& done) { return QTest::qWaitFor(done, 20000); };
    driver.modalBox = [&] { return dialogs.messageBox("Waiting", "Test", mb::kOk) == MsgResult::Ok; };
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

int endProgramChild(int argc, char** argv) {
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

TEST(QtEventLoop, EndProgramEndsTheProcessAtOnce) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kEndProgramChild)});
    ASSERT_TRUE(child.waitForFinished(20000)) << "the child did not end";
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 7);
    EXPECT_EQ(child.readAllStandardOutput().toStdString(), "before end\n");
}

}  // namespace
}  // namespace tarnwick

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], tarnwick::kEndProgramChild) == 0)
        return tarnwick::endProgramChild(argc, argv);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
