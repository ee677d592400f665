// Hands the signals that ask a process to end (SIGTERM from a service stop
// or a log-out, SIGINT from Ctrl-C, SIGHUP when the terminal or session
// goes) to the window's thread, where the system ends as it does when the
// session ends: unkeyed and listed free.
//
// The signal handler only writes the signal's number into a pipe (the one
// thing a handler may safely do); the Qt loop reads the pipe through a
// QSocketNotifier and calls onSignal there, between other handlers, also
// inside the nested loops of modal boxes and the file dialog. A signal the
// program inherited as ignored (nohup, a background job of some shells)
// stays ignored.
#pragma once

#include <QSocketNotifier>

#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

namespace tarnwick {

class QtSignalNotifier {
public:
    // Catches each of `which` that is not ignored now. One instance per
    // process; needs the QCoreApplication.
    explicit QtSignalNotifier(std::initializer_list<int> which);
    ~QtSignalNotifier();
    QtSignalNotifier(const QtSignalNotifier&) = delete;
    QtSignalNotifier& operator=(const QtSignalNotifier&) = delete;

    // Called on the loop's thread with the signal's number.
    std::function<void(int)> onSignal;

    // The signals caught (those not inherited as ignored).
    const std::vector<int>& caught() const { return caught_; }

private:
    void readPipe();

    std::vector<int> caught_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tarnwick
