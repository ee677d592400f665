#include "windows/dshow_audio.h"

#include "windows/win_support.h"

namespace tarnwick::testing {
namespace {

// The last samples reach the monitor a little after the player is done.
constexpr DWORD kRecordTailMs = 400;
// How long the wrapper may take to answer a request.
constexpr DWORD kAnswerGuardMs = 10000;

// Writes the request file and waits for the wrapper's answer file.
bool request(const std::string& base, const char* ask, const char* answer) {
    writeFile(base + ask, "");
    const std::string answered = base + answer;
    const ULONGLONG until = GetTickCount64() + kAnswerGuardMs;
    while (!fileExists(answered)) {
        if (GetTickCount64() > until) return false;
        Sleep(10);
    }
    return true;
}

}  // namespace

std::string mediaDir() {
    char buffer[MAX_PATH + 1] = {};
    const DWORD n = GetEnvironmentVariableA("TARNWICK_DSHOW_MEDIA", buffer, sizeof buffer);
    if (n == 0 || n > MAX_PATH) return {};
    return windowsPath(buffer);
}

std::string media(const std::string& name) {
    const std::string dir = mediaDir();
    if (dir.empty()) return {};
    const std::string path = dir + "\\" + name;
    return fileExists(path) ? path : std::string();
}

MonitorRecording::MonitorRecording(std::string name) : name_(std::move(name)) {
    const std::string dir = mediaDir();
    if (dir.empty()) return;
    wav_ = dir + "\\" + name_ + ".wav";
    running_ = request(dir + "\\" + name_, ".start", ".recording");
}

MonitorRecording::~MonitorRecording() { stop(); }

const std::string& MonitorRecording::stop() {
    if (running_ && !stopped_) {
        stopped_ = true;
        Sleep(kRecordTailMs);
        request(mediaDir() + "\\" + name_, ".stop", ".done");
    }
    return wav_;
}


}  // namespace tarnwick::testing
