// tarnwick-guard on Linux: started by tarnwick, never by hand.
//
//   tarnwick-guard [--log FILE]
//
// Its standard input is one end of a socket pair whose other end only
// Tarnwick holds: Tarnwick writes a byte per change of its keying, and the
// end of the stream means Tarnwick's process has gone. The guardian answers
// one byte on the same socket once it is reading. It reaches the node
// through the same D-Bus client as Tarnwick, and only after that end. What
// it did goes to stderr and, with --log, to the end of that file.
#include <QCoreApplication>
#include <QDBusConnection>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "guard/guardian.h"
#include "guard/guard_log.h"
#include "platform/linux/dbus_node.h"

namespace {

using namespace tarnwick;

// Standard input, read a block at a time.
class SocketFeed : public guard::KeyingFeed {
public:
    explicit SocketFeed(int fd) : fd_(fd) {}

    std::optional<char> next() override {
        while (at_ == filled_) {
            const ssize_t n = ::read(fd_, buffer_, sizeof buffer_);
            if (n < 0 && errno == EINTR) continue;
            // End of stream, or an error that no read will mend: either
            // way Tarnwick's side is gone.
            if (n <= 0) return std::nullopt;
            at_ = 0;
            filled_ = static_cast<std::size_t>(n);
        }
        return buffer_[at_++];
    }

private:
    int fd_;
    char buffer_[64];
    std::size_t at_ = 0, filled_ = 0;
};

// The node's events mean nothing to the guardian, and no loop would
// deliver them.
class NoEvents : public NodeEvents {
public:
    void DTMFString(const std::string&) override {}
    void Closing() override {}
};

}  // namespace

int main(int argc, char** argv) {
    std::string logPath;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--log" && i + 1 < argc) {
            logPath = argv[++i];
        } else {
            std::fprintf(stderr, "usage: tarnwick-guard [--log FILE] (started by tarnwick)\n");
            return 2;
        }
    }
    struct stat in {};
    if (::fstat(0, &in) != 0 || !S_ISSOCK(in.st_mode)) {
        std::fprintf(stderr, "tarnwick-guard: tarnwick starts its guardian itself; it is not run by hand\n");
        return 2;
    }

    // It must outlive Tarnwick to do its work: the terminal's Ctrl-C and
    // hang-up, and a stop sent to every process of a service, are for
    // Tarnwick, which unkeys by itself. The guardian ends with Tarnwick.
    for (int sig : {SIGINT, SIGHUP, SIGTERM, SIGPIPE}) ::signal(sig, SIG_IGN);
    // Descriptors Tarnwick's caller left open (a lock, say) are not ours.
    ::close_range(3, ~0U, 0);

    const char ready = guard::kReady;
    if (::send(0, &ready, 1, MSG_NOSIGNAL) != 1) return 0;  // Tarnwick has gone before it was keyed

    const std::string whom = "Tarnwick (process " + std::to_string(::getppid()) + ")";
    SocketFeed feed(0);
    if (!guard::endedKeyed(feed)) return 0;

    // Qt only now: the idle guardian is a blocked read and nothing more.
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    NoEvents events;
    DbusNodeConnector connector(QDBusConnection::sessionBus());
    guard::NodeAccess access{
        [&] { return connector.create(events); },
        [] { return std::chrono::steady_clock::now(); },
        [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); },
        [&](const std::string& text) { guard::reportLine(logPath, "Guardian: " + text); },
        // A session bus that has gone does not come back: the session has
        // ended, and a node on it with it.
        [] { return !QDBusConnection::sessionBus().isConnected(); },
    };
    return guard::makeNodeSafe(access, whom).done() ? 0 : 1;
}
