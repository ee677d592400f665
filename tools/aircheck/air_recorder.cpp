#include "aircheck/air_recorder.h"

#include "aircheck/air_check.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

extern char** environ;

namespace tarnwick::air {
namespace {

double wallMs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void put32(unsigned char* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}

// A canonical 44-byte header; sizes of 0xFFFFFFFF until the end is known,
// so that a reader of the unfinished file takes whatever data is there.
std::vector<unsigned char> wavHeader(int rate, int channels, std::uint32_t dataBytes) {
    std::vector<unsigned char> h(44, 0);
    std::memcpy(&h[0], "RIFF", 4);
    put32(&h[4], dataBytes == 0xFFFFFFFFu ? dataBytes : dataBytes + 36);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    put32(&h[16], 16);
    h[20] = 1;  // PCM
    h[22] = static_cast<unsigned char>(channels);
    put32(&h[24], static_cast<std::uint32_t>(rate));
    put32(&h[28], static_cast<std::uint32_t>(rate * channels * 2));
    h[32] = static_cast<unsigned char>(channels * 2);
    h[34] = 16;
    std::memcpy(&h[36], "data", 4);
    put32(&h[40], dataBytes);
    return h;
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// What parec says on its standard error, line by line (its progress lines
// end in '\r').
struct ParecReport {
    int rate = 0;
    int channels = 0;
    std::vector<std::pair<double, double>> times;  // stream time, stamp: one per time line
    std::string pending;
    std::string messages;  // anything else, for an error report

    void take(const char* data, std::size_t size, double stampMs) {
        pending.append(data, size);
        std::size_t end;
        while ((end = pending.find_first_of("\r\n")) != std::string::npos) {
            line(pending.substr(0, end), stampMs);
            pending.erase(0, end + 1);
        }
    }
    void line(const std::string& text, double stampMs) {
        double seconds = 0;
        char format[32] = {};
        if (std::sscanf(text.c_str(), "Time: %lf sec", &seconds) == 1) {
            times.emplace_back(seconds * 1000.0, stampMs);
        } else if (std::sscanf(text.c_str(), "Using sample spec '%31s %dch %dHz'", format, &channels, &rate) == 3) {
            if (std::strcmp(format, "s16le") != 0) channels = rate = 0;
        } else if (text.find_first_not_of(" \x1b[K") != std::string::npos) {
            messages += text + "\n";
        }
    }
};

}  // namespace

bool recordAir(const std::string& source, const std::string& wavPath, const volatile std::sig_atomic_t& stop,
               std::string& error) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    // 1 ms: the sink then renders at most 1 ms ahead. When a stream starts,
    // the sink renders again with the new sound what it had rendered ahead,
    // and the monitor does not pass that on: at 5 ms the first 5 ms of every
    // sound would be missing, at 1 ms less than 1 ms is.
    std::vector<std::string> args = {
        "parec", "-v", "-d", source, "--raw", "--format=s16le", "--fix-rate", "--fix-channels", "--latency-msec=1"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t parec = -1;
    const int spawned = posix_spawnp(&parec, "parec", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (spawned != 0) {
        close(out[0]);
        close(err[0]);
        error = std::string("cannot start parec: ") + std::strerror(spawned);
        return false;
    }

    const int file = open(wavPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0) error = wavPath + ": " + std::strerror(errno);
    ParecReport report;
    std::vector<char> early;  // data that came before parec named its sample spec
    std::uint64_t dataBytes = 0;
    double earliestMs = 1e300;  // the delivery bound: no frame is read before it is rendered
    bool headerWritten = false, signalled = false, outOpen = true, errOpen = true;
    double signalledAt = 0;
    std::vector<std::pair<double, std::uint64_t>> deliveries;  // stamp, bytes so far
    char buffer[65536];
    while (outOpen || errOpen) {
        if (stop && !signalled) {
            kill(parec, SIGINT);
            signalled = true;
            signalledAt = wallMs();
        }
        if (signalled && wallMs() - signalledAt > 3000) kill(parec, SIGKILL);
        pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, 50) <= 0) continue;  // a signal or nothing yet
        const double stamp = wallMs();
        if (fds[0].revents != 0) {
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0) {
                outOpen = false;
            } else {
                dataBytes += static_cast<std::uint64_t>(n);
                deliveries.emplace_back(stamp, dataBytes);
                if (!headerWritten && report.rate > 0 && file >= 0) {
                    const auto header = wavHeader(report.rate, report.channels, 0xFFFFFFFFu);
                    headerWritten =
                        writeAll(file, header.data(), header.size()) && writeAll(file, early.data(), early.size());
                    early.clear();
                }
                if (headerWritten)
                    writeAll(file, buffer, static_cast<std::size_t>(n));
                else
                    early.insert(early.end(), buffer, buffer + n);
            }
        }
        if (fds[1].revents != 0) {
            const ssize_t n = read(err[0], buffer, sizeof buffer);
            if (n <= 0)
                errOpen = false;
            else
                report.take(buffer, static_cast<std::size_t>(n), stamp);
        }
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(parec, &status, 0);

    if (file < 0) return false;
    if (report.rate <= 0 || report.channels <= 0) {
        close(file);
        error = "parec did not record 16-bit sound from " + source + ": " + report.messages;
        return false;
    }
    const std::uint64_t frameBytes = static_cast<std::uint64_t>(report.channels) * 2;
    const std::uint64_t whole = dataBytes / frameBytes * frameBytes;
    const auto header = wavHeader(report.rate, report.channels, static_cast<std::uint32_t>(whole));
    // (All of the data is still in `early` when parec named its sample spec
    // only after the last of it.)
    const bool finished =
        pwrite(file, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size()) &&
        (headerWritten || pwrite(file, early.data(), early.size(), 44) == static_cast<ssize_t>(early.size())) &&
        ftruncate(file, static_cast<off_t>(header.size() + whole)) == 0;
    close(file);
    if (!finished) {
        error = wavPath + ": could not finish the file";
        return false;
    }
    const std::optional<StreamClock> fit = fitStreamClock(report.times);
    if (!fit) {
        error = "parec never reported its stream time: " + report.messages;
        return false;
    }
    for (const auto& [stampMs, bytes] : deliveries)
        earliestMs = std::min(earliestMs, stampMs - static_cast<double>(bytes / frameBytes) * 1000.0 / report.rate);
    std::ofstream clock(wavPath + ".clock");
    char text[256];
    // The delivery bound says how far ahead of playing the monitor passed
    // the sound on (the sink's latency), a check on the fit.
    std::snprintf(text, sizeof text,
                  "first_sample_ms %.3f\nms_per_frame %.9f\ntime_readings %zu\nfirst_delivery_bound_ms %.3f\n",
                  fit->zeroMs, fit->scale * 1000.0 / report.rate, report.times.size(), earliestMs);
    clock << text;
    if (!clock.flush()) {
        error = wavPath + ".clock: could not be written";
        return false;
    }
    return true;
}

}  // namespace tarnwick::air
