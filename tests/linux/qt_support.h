// Helpers shared by the Qt shell tests (tarnwick_qt_tests).
#pragma once

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace tarnwick::testing {

// How long a test waits for something that should happen within
// milliseconds before it gives up. A hang guard, not a timing goal.
inline constexpr int kHangGuardMs = 20000;

// Runs Qt's loop until `done` holds or the hang guard expires.
inline bool spinUntil(const std::function<bool()>& done) { return QTest::qWaitFor(done, kHangGuardMs); }

// Calls `inspect` with the modal window once one is open; for tests that
// open a modal box and must look at it and answer it from inside its loop.
inline void whenModalOpens(std::function<void(QWidget*)> inspect) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, inspect = std::move(inspect)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        inspect(modal);
    });
    poll->start();
}

// Once the hang guard has expired, closes whatever modal window is open,
// so that a test whose box is never answered fails instead of hanging.
// Lives for one test.
class ModalWatchdog {
public:
    ModalWatchdog() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            timer_.setInterval(100);
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
        });
        timer_.start(kHangGuardMs);
    }

private:
    QTimer timer_;
};

// The child-process side of the endProgram test (qt_event_loop_test.cpp).
int runEndProgramChild(int argc, char** argv);
inline constexpr const char* kEndProgramChildFlag = "--end-program-child";

}  // namespace tarnwick::testing
