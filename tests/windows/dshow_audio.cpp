#include "windows/dshow_audio.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "windows/win_support.h"

namespace tarnwick::testing {
namespace {

// The last samples reach the monitor a little after the player is done.
constexpr DWORD kRecordTailMs = 400;
// How long the wrapper may take to answer a request.
constexpr DWORD kAnswerGuardMs = 10000;
constexpr double kSoundingRms = 300;  // about -40 dBFS

unsigned get16(const std::string& in, std::size_t at) {
    return static_cast<unsigned char>(in[at]) | static_cast<unsigned char>(in[at + 1]) << 8;
}
std::uint32_t get32(const std::string& in, std::size_t at) { return get16(in, at) | get16(in, at + 2) << 16; }

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

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

Sound measure(const std::string& wavPath) {
    Sound sound;
    const std::string bytes = readFile(wavPath);
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) return sound;

    unsigned channels = 0, rate = 0, bits = 0;
    std::size_t data = 0, dataSize = 0;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const std::size_t size = get32(bytes, at + 4);
        if (id == "fmt " && at + 24 <= bytes.size()) {
            channels = get16(bytes, at + 10);
            rate = get32(bytes, at + 12);
            bits = get16(bytes, at + 22);
        } else if (id == "data") {
            data = at + 8;
            // A header that was never completed claims too much or nothing.
            dataSize = std::min(size == 0 ? bytes.size() : size, bytes.size() - data);
            break;
        }
        at += 8 + size + (size & 1);
    }
    if (data == 0 || bits != 16 || channels < 1 || rate == 0) return sound;

    const std::size_t frameBytes = 2 * channels;
    const std::size_t frames = dataSize / frameBytes;
    const std::size_t window = rate / 100;
    std::vector<double> left, right;
    for (std::size_t start = 0; start + window <= frames; start += window) {
        double sumL = 0, sumR = 0;
        for (std::size_t f = start; f < start + window; ++f) {
            const std::size_t at = data + f * frameBytes;
            const double l = static_cast<std::int16_t>(get16(bytes, at));
            const double r = channels > 1 ? static_cast<std::int16_t>(get16(bytes, at + 2)) : l;
            sumL += l * l;
            sumR += r * r;
        }
        const double rmsL = std::sqrt(sumL / static_cast<double>(window));
        const double rmsR = std::sqrt(sumR / static_cast<double>(window));
        if (std::max(rmsL, rmsR) > kSoundingRms) {
            left.push_back(rmsL);
            right.push_back(rmsR);
        }
    }
    sound.readable = true;
    sound.soundingSeconds = static_cast<double>(left.size()) * static_cast<double>(window) / rate;
    sound.leftRms = median(left);
    sound.rightRms = median(right);
    return sound;
}

}  // namespace tarnwick::testing
