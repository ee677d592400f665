// QtEventLoop: the system's timers on Qt's loop, inside modal boxes too, and
// ending the process at once.
#include "platform/linux/qt_event_loop.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QProcess>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "linux/qt_support.h"
#include "platform/linux/qt_dialogs.h"

namespace tarnwick {
namespace {

using std::chrono::milliseconds;
using testing::spinUntil;

TEST(QtEventLoop, TimersTickEarliestDeadlineFirstAndRepeat) {
    QtEventLoop loop;
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

    ASSERT_TRUE(spinUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<std::string>{"50", "150", "250"}));
    EXPECT_GT(repeats, 3);
    loop.removeTimer(periodic);
}

TEST(QtEventLoop, RemovedTimersDoNotTick) {
    QtEventLoop loop;
    int removedBeforeDue = 0, removedByOther = 0, first = 0;
    bool done = false;

    const TimerId early = loop.addTimer(milliseconds(1), [&] { ++removedBeforeDue; });
    loop.removeTimer(early);

    // Both fall due at the same wake; the first added goes first and takes
    // the other one's pending tick away.
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

    ASSERT_TRUE(spinUntil([&] { return done; }));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(removedByOther, 0);
    EXPECT_EQ(removedBeforeDue, 0);
}

TEST(QtEventLoop, TimersKeepTickingWhileATickHandlerWaitsInAMessageBox) {
    QtEventLoop loop;
    QtDialogs dialogs;
    int counter = 0, opened = 0, countWhenAnswered = -1;
    bool answered = false;
    MsgResult result = MsgResult::No;
    testing::ModalWatchdog watchdog;

    TimerId opener = loop.addTimer(milliseconds(1), [&] {
        ++opened;
        result = dialogs.messageBox("Waiting", "Test", mb::kOk);
        countWhenAnswered = counter;
        answered = true;
        loop.removeTimer(opener);
    });
    const TimerId ticker = loop.addTimer(milliseconds(5), [&] {
        ++counter;
        if (counter != 5) return;
        // Answer the box from inside its own nested loop.
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        box->button(QMessageBox::Ok)->click();
    });

    ASSERT_TRUE(spinUntil([&] { return answered; }));
    EXPECT_EQ(result, MsgResult::Ok);
    EXPECT_GE(countWhenAnswered, 5);
    // The opener's own ticks did not re-enter it while it waited.
    EXPECT_EQ(opened, 1);
    // And the loop goes on waking after the nested loop has returned.
    ASSERT_TRUE(spinUntil([&] { return counter >= countWhenAnswered + 3; }));
    loop.removeTimer(ticker);
}

TEST(QtEventLoop, ProcessPendingEventsRunsPostedFunctionsAndDueTimers) {
    QtEventLoop loop;
    bool posted = false, ticked = false, checked = false;
    bool postedSeen = false, tickSeen = false;

    loop.post([&] {
        // Inside a handler: a posted function and a due timer run nested.
        loop.post([&] { posted = true; });
        TimerId due = loop.addTimer(milliseconds(1), [&] {
            ticked = true;
            loop.removeTimer(due);
        });
        std::this_thread::sleep_for(milliseconds(5));
        loop.processPendingEvents();
        postedSeen = posted;
        tickSeen = ticked;
        checked = true;
    });
    ASSERT_TRUE(spinUntil([&] { return checked; }));
    EXPECT_TRUE(postedSeen);
    EXPECT_TRUE(tickSeen);
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
