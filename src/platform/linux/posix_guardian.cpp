#include "platform/linux/posix_guardian.h"

#include "guard/guardian.h"

#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace tarnwick {

namespace {

// How long start-up waits for the guardian to say that it reads. It is
// there in a few tens of milliseconds; a loaded machine may take longer.
constexpr int kReadyTimeoutMs = 3000;

std::string errnoText(int e) { return std::strerror(e); }

}  // namespace

PosixGuardian::~PosixGuardian() {
    if (fd_ >= 0) ::close(fd_);
}

void PosixGuardian::problem(const std::string& text) {
    if (reported_) return;
    reported_ = true;
    if (report_) report_(text);
}

bool PosixGuardian::start(const std::string& program, const std::string& logPath) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        problem("Tarnwick could not start its guardian (no socket: " + errnoText(errno) +
                "); a crash while keyed would leave the node keyed");
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The copy as standard input is not closed on exec; both originals are.
    posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
    std::string log = logPath;
    std::string path = program;
    std::string logOption = "--log";
    char* argv[] = {path.data(), logOption.data(), log.data(), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    if (spawned != 0) {
        ::close(pair[0]);
        problem("Tarnwick could not start its guardian " + program + " (" + errnoText(spawned) +
                "); a crash while keyed would leave the node keyed");
        return false;
    }

    pollfd p{pair[0], POLLIN, 0};
    int polled = 0;
    do {
        polled = ::poll(&p, 1, kReadyTimeoutMs);
    } while (polled < 0 && errno == EINTR);
    char word = 0;
    const ssize_t got = polled > 0 ? ::recv(pair[0], &word, 1, MSG_DONTWAIT) : -1;
    if (got == 1 && word == guard::kReady) {
        fd_ = pair[0];
        pid_ = pid;
        return true;
    }
    if (polled == 0) {
        // Slow, not gone: keep the channel, it may still come up.
        fd_ = pair[0];
        pid_ = pid;
        problem("Tarnwick's guardian " + program + " did not answer within " + std::to_string(kReadyTimeoutMs / 1000) +
                " s; it may not guard the node");
        return false;
    }
    ::close(pair[0]);
    int status = 0;
    const pid_t reaped = ::waitpid(pid, &status, 0);
    std::string how = "it ended at once";
    if (reaped == pid && WIFEXITED(status)) how += " with status " + std::to_string(WEXITSTATUS(status));
    if (reaped == pid && WIFSIGNALED(status)) how += " on signal " + std::to_string(WTERMSIG(status));
    problem("Tarnwick could not start its guardian " + program + " (" + how +
            "); a crash while keyed would leave the node keyed");
    return false;
}

void PosixGuardian::keyingChanged(bool keyed) {
    if (fd_ < 0) return;
    const char word = keyed ? guard::kKeyed : guard::kUnkeyed;
    ssize_t sent = -1;
    do {
        sent = ::send(fd_, &word, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    if (sent != 1) {
        problem("Tarnwick's guardian no longer listens (" + errnoText(errno) +
                "); a crash while keyed would leave the node keyed");
    }
}

std::string guardianProgramPath() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (ec ? std::filesystem::path(".") : self.parent_path()) / "tarnwick-guard";
}

}  // namespace tarnwick
