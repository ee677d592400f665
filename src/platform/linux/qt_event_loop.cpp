#include "platform/linux/qt_event_loop.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QMetaObject>
#include <cstdio>
#include <cstdlib>

namespace tarnwick {

QtEventLoop::QtEventLoop() {
    clock_.start();
    wake_.setSingleShot(true);
    // A coarse timer may fire up to 5 % early or late; Timer1 and Timer3 run
    // at 10 ms and 1 ms, so ask for the precise kind.
    wake_.setTimerType(Qt::PreciseTimer);
    connect(&wake_, &QTimer::timeout, this, [this] { fireDue(); });
}

QtEventLoop::~QtEventLoop() = default;

MonoTime QtEventLoop::now() const { return MonoTime(clock_.nsecsElapsed()); }

void QtEventLoop::handOverPosted() {
    QMetaObject::invokeMethod(
        this, [this] { runOnePosted(); }, Qt::QueuedConnection);
}

void QtEventLoop::pumpPending() { QCoreApplication::processEvents(); }

void QtEventLoop::run() { QApplication::exec(); }

void QtEventLoop::endProgram(int status) {
    // What waits to be written when the thread next sleeps (the node link's
    // held-back message) is written now: the thread will not sleep again.
    if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance()) Q_EMIT d->aboutToBlock();
    std::fflush(nullptr);
    std::_Exit(status);
}

void QtEventLoop::wake(std::optional<MonoTime> deadline) {
    if (!deadline) {
        wake_.stop();
        return;
    }
    // Re-arming a Qt timer unregisters and registers it with the dispatcher;
    // a handler's own re-arm and the one after it usually ask for the same
    // deadline.
    if (wake_.isActive() && armedFor_ == *deadline) return;
    armedFor_ = *deadline;
    const MonoTime wait = *deadline - now();
    // Round up: waking a little early would find nothing due and spin.
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait);
    if (ms.count() < 0) ms = std::chrono::milliseconds(0);
    wake_.start(ms);
}

}  // namespace tarnwick
