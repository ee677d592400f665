// The event loop of the Linux program: Qt's.
//
// The wake-up is one single-shot QTimer armed to the queue's next deadline.
// Qt keeps delivering it inside nested loops (QMessageBox::exec,
// QFileDialog::exec), as it does the queued calls that carry the posted
// functions: the system's timers keep running while a modal box waits.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "seams/queued_event_loop.h"

namespace tarnwick {

class QtEventLoop : public QObject, public QueuedEventLoop {
    Q_OBJECT
public:
    // Needs a QCoreApplication (a QApplication in the program) to exist.
    QtEventLoop();
    ~QtEventLoop() override;

    // Nanoseconds since the loop was made, from the monotonic clock.
    MonoTime now() const override;

    // QApplication::exec(). Returns only if something quits Qt's loop; the
    // program's own way out is endProgram().
    void run() override;

    // Also raises the dispatcher's aboutToBlock before it goes, for what
    // waits to be written when the thread next sleeps.
    [[noreturn]] void endProgram(int status) override;

private:
    void wake(std::optional<MonoTime> deadline) override;
    void handOverPosted() override;
    // QCoreApplication::processEvents(): input, queued calls, bus messages.
    void pumpPending() override;

    QElapsedTimer clock_;
    QTimer wake_;
    MonoTime armedFor_{};
};

}  // namespace tarnwick
