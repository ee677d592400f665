#include "linux/gst_audio.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <thread>

extern char** environ;

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;

// parec needs a moment to connect before the first sample it records: the
// recording runs once samples arrive (the monitor sends silence too), 10 ms
// of them past any header. The last samples reach the monitor a little
// after the player is done. It records at 1 ms: the null sink then renders
// at most 1 ms ahead, and what it renders again when a stream starts never
// reaches the monitor.
constexpr std::uintmax_t kRecordingBytes = 44 + 441 * 4;
constexpr auto kRecordConnectGuard = 5s;
constexpr auto kRecordTail = 400ms;

}  // namespace

TempDir::TempDir() {
    char name[] = "/tmp/tarnwick-gst-XXXXXX";
    if (mkdtemp(name) != nullptr) path_ = name;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

bool makeMedia(const TempDir& dir) {
    const std::string command = "bash '" TARNWICK_MAKE_MEDIA "' '" + dir.path() + "'";  // mkdtemp's letters
    return !dir.path().empty() && std::system(command.c_str()) == 0;
}

MonitorRecording::MonitorRecording(std::string path) : path_(std::move(path)) {
    const char* sink = std::getenv("PULSE_SINK");
    const std::string device = std::string(sink != nullptr ? sink : "radio") + ".monitor";
    std::vector<std::string> args = {"parec",
                                     "-d",
                                     device,
                                     "--file-format=wav",
                                     "--format=s16le",
                                     "--rate=44100",
                                     "--channels=2",
                                     "--latency-msec=1",
                                     path_};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "parec", nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    const auto until = std::chrono::steady_clock::now() + kRecordConnectGuard;
    std::error_code unread;
    while (pid_ > 0 && (std::filesystem::file_size(path_, unread) < kRecordingBytes || unread)) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;  // it has given up
        if (std::chrono::steady_clock::now() > until) finish();
        std::this_thread::sleep_for(5ms);
    }
}

MonitorRecording::~MonitorRecording() { finish(); }

Sound MonitorRecording::stop() {
    finish();
    return measure(path_);
}

void MonitorRecording::finish() {
    if (pid_ > 0) {
        std::this_thread::sleep_for(kRecordTail);
        kill(pid_, SIGINT);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

}  // namespace tarnwick::test
