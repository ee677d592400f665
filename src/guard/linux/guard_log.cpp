#include "guard/guard_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace tarnwick::guard {

std::string localStamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const long ms = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    const long offset = local.tm_gmtoff / 60;
    const long magnitude = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03ld %c%02ld%02ld ", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, ms,
                  offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return text;
}

void reportLine(const std::string& logPath, const std::string& text) {
    const std::string line = localStamp() + text + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    if (logPath.empty()) return;
    // One write of the whole line to a file opened for appending: lines of
    // Tarnwick and of the guardian never interleave within a line.
    const int fd = ::open(logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0664);
    if (fd < 0 || ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        std::fprintf(stderr, "tarnwick-guard: cannot write the station log %s: %s\n", logPath.c_str(),
                     std::strerror(errno));
    }
    if (fd >= 0) ::close(fd);
}

}  // namespace tarnwick::guard
