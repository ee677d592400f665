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
    connect(&wake_, &QTimer::timeout, this, &QtEventLoop::fireDue);
}

QtEventLoop::~QtEventLoop() = default;

MonoTime QtEventLoop::now() const { return MonoTime(clock_.nsecsElapsed()); }

TimerId QtEventLoop::addTimer(std::chrono::milliseconds interval, std::function<void()> tick) {
    // Arm for the other timers before the handler runs: if it opens a modal
    // box, the box's nested loop must still wake for them. The queue has
    // already moved this timer's deadline on and marked it running, so
    // nextDeadline() no longer counts it.
    auto guarded = [this, tick = std::move(tick)] {
        rearm();
        tick();
    };
    const TimerId id = queue_.add(interval, now(), std::move(guarded));
    rearm();
    return id;
}

void QtEventLoop::removeTimer(TimerId id) {
    queue_.remove(id);
    rearm();
}

void QtEventLoop::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void QtEventLoop::processPendingEvents() {
    QCoreApplication::processEvents();
    fireDue();
}

void QtEventLoop::run() { QApplication::exec(); }

void QtEventLoop::endProgram(int status) {
    // What waits to be written when the thread next sleeps (the node link's
    // held-back message) is written now: the thread will not sleep again.
    if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance()) Q_EMIT d->aboutToBlock();
    std::fflush(nullptr);
    std::_Exit(status);
}

void QtEventLoop::fireDue() {
    queue_.runDue(now());
    // Whatever ran (including nested loops that returned), the next wake is
    // computed afresh from the queue.
    rearm();
}

void QtEventLoop::rearm() {
    const std::optional<MonoTime> next = queue_.nextDeadline();
    if (!next) {
        wake_.stop();
        return;
    }
    // Re-arming a Qt timer unregisters and registers it with the dispatcher;
    // a handler's own re-arm and the one after it usually ask for the same
    // deadline.
    if (wake_.isActive() && armedFor_ == *next) return;
    armedFor_ = *next;
    const MonoTime wait = *next - now();
    // Round up: waking a little early would find nothing due and spin.
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait);
    if (ms.count() < 0) ms = std::chrono::milliseconds(0);
    wake_.start(ms);
}

}  // namespace tarnwick
