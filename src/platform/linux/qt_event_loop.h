// The event loop of the Linux program: Qt's, with the system's timers kept in
// a TimerQueue so that their cadence, order and catch-up rules are the same
// as on every other loop.
//
// One single-shot QTimer is armed to the queue's next deadline. Qt keeps
// delivering it inside nested loops (QMessageBox::exec, QFileDialog::exec),
// so the system's timers keep running while a modal box waits. Before a tick
// handler runs, the QTimer is armed again for the other timers, because the
// handler may itself open a modal box.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "platform/event_loop.h"
#include "platform/timer_queue.h"

namespace tarnwick {

class QtEventLoop : public QObject, public EventLoop {
    Q_OBJECT
public:
    // Needs a QCoreApplication (a QApplication in the program) to exist.
    QtEventLoop();
    ~QtEventLoop() override;

    // Nanoseconds since the loop was made, from the monotonic clock.
    MonoTime now() const override;

    // Both re-arm the QTimer; they may be called from inside a tick.
    TimerId addTimer(std::chrono::milliseconds interval, std::function<void()> tick) override;
    void removeTimer(TimerId id) override;

    // Runs `fn` from Qt's event queue after the current handler returns.
    void post(std::function<void()> fn) override;

    // Qt's pending events (input, posted functions, bus messages), then every
    // timer that is due by now.
    void processPendingEvents() override;

    // QApplication::exec(). Returns only if something quits Qt's loop; the
    // program's own way out is endProgram().
    void run() override;

    // Flushes stdio and terminates the process with `status`: no handler,
    // atexit function or destructor runs after it.
    [[noreturn]] void endProgram(int status) override;

private:
    void fireDue();
    void rearm();

    TimerQueue queue_;
    QElapsedTimer clock_;
    QTimer wake_;
    MonoTime armedFor_{};
};

}  // namespace tarnwick
