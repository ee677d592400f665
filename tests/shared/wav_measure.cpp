#include "shared/wav_measure.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

namespace tarnwick::test {
namespace {

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

}  // namespace

Sound measure(const std::string& wavPath) {
    Sound sound;
    std::ifstream in(wavPath, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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
        sound.loudestRms = std::max({sound.loudestRms, rmsL, rmsR});
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

}  // namespace tarnwick::test
