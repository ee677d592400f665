#include "platform/linux/qt_signal_notifier.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace tarnwick {

namespace {

int g_pipe[2] = {-1, -1};

extern "C" void writeSignal(int sig) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(sig);
    // A full pipe already holds a signal for the loop to act on.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &number, 1);
    errno = saved;
}

}  // namespace

QtSignalNotifier::QtSignalNotifier(std::initializer_list<int> which) {
    if (g_pipe[0] >= 0) throw std::logic_error("one QtSignalNotifier per process");
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot make the signal pipe");
    notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { readPipe(); });
    for (int sig : which) {
        struct sigaction now {};
        if (::sigaction(sig, nullptr, &now) != 0 || now.sa_handler == SIG_IGN) continue;
        struct sigaction ours {};
        ours.sa_handler = writeSignal;
        sigemptyset(&ours.sa_mask);
        // Interrupted system calls elsewhere (a node call's wait, say) go on.
        ours.sa_flags = SA_RESTART;
        if (::sigaction(sig, &ours, nullptr) == 0) caught_.push_back(sig);
    }
}

QtSignalNotifier::~QtSignalNotifier() {
    for (int sig : caught_) ::signal(sig, SIG_DFL);
    notifier_.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void QtSignalNotifier::readPipe() {
    unsigned char numbers[16];
    const ssize_t n = ::read(g_pipe[0], numbers, sizeof numbers);
    for (ssize_t i = 0; i < n; ++i) {
        if (onSignal) onSignal(numbers[i]);
    }
}

}  // namespace tarnwick
