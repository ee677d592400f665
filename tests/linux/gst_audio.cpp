#include "linux/gst_audio.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;

// parec needs a moment to connect before the first sample it records, and
// the last samples reach the monitor a little after the player is done.
constexpr auto kRecordLeadIn = 400ms;
constexpr auto kRecordTail = 400ms;
constexpr double kSoundingRms = 300;  // about -40 dBFS

unsigned get16(const std::string& in, std::size_t at) {
    return static_cast<unsigned char>(in[at]) | static_cast<unsigned char>(in[at + 1]) << 8;
}
std::uint32_t get32(const std::string& in, std::size_t at) { return get16(in, at) | get16(in, at + 2) << 16; }

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

}  // namespace

TempDir::TempDir() {
    char name[] = "/tmp/tarnwick-gst-XXXXXX";
    if (mkdtemp(name) != nullptr) path_ = name;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string makeTone(const TempDir& dir, const std::string& name, double seconds, int channels) {
    const std::string path = dir.file(name);
    const bool made = shell("sox -n -r 44100 -b 16 -c " + std::to_string(channels) + " " + quoted(path) + " synth " +
                            std::to_string(seconds) + " sine 1000 vol 0.5");
    return made ? path : "";
}

std::string makeEncoded(const TempDir& dir, const std::string& wav, const std::string& format) {
    const std::string path = dir.file("tone." + format);
    const std::string audio = "filesrc location=" + quoted(wav) + " ! wavparse ! audioconvert ! audioresample";
    const std::string out = "filesink location=" + quoted(path);
    std::string pipeline;
    if (format == "mp3") {
        pipeline = audio + " ! lamemp3enc ! " + out;
    } else if (format == "mp2") {
        pipeline = audio + " ! twolamemp2enc ! " + out;
    } else if (format == "mpg") {
        pipeline = "mpegpsmux name=mux ! " + out +
                   " videotestsrc num-buffers=50 ! video/x-raw,width=352,height=288,framerate=25/1"
                   " ! mpeg2enc ! mpegvideoparse ! mux. " +
                   audio + " ! avenc_mp2 ! mpegaudioparse ! mux.";
    } else if (format == "avi") {
        pipeline = "avimux name=mux ! " + out +
                   " videotestsrc num-buffers=50 ! video/x-raw,width=160,height=120,framerate=25/1"
                   " ! jpegenc ! mux. " +
                   audio + " ! mux.";
    } else {
        return "";
    }
    return shell("gst-launch-1.0 -q -e " + pipeline + " >/dev/null") ? path : "";
}

std::string makeMidi(const TempDir& dir) {
    // Format 0, one track, 96 ticks a quarter note at the default 120 bpm:
    // an organ (it sustains, where a piano fades), A4 at full velocity on at
    // once, off 192 ticks (1 s) later, end of track.
    static const unsigned char kSong[] = {'M',  'T',  'h',  'd',  0,    0, 0, 6,  0, 0, 0, 1, 0, 96,  //
                                          'M',  'T',  'r',  'k',  0,    0, 0, 16,                     //
                                          0x00, 0xC0, 0x13,              // program: church organ
                                          0x00, 0x90, 0x45, 0x7F,        // note on
                                          0x81, 0x40, 0x80, 0x45, 0x40,  // 192 ticks, note off
                                          0x00, 0xFF, 0x2F, 0x00};       // end of track
    const std::string path = dir.file("note.mid");
    return writeFile(path, std::string(std::begin(kSong), std::end(kSong))) ? path : "";
}

std::string makePicture(const TempDir& dir, const std::string& extension) {
    const std::string path = dir.file("picture." + extension);
    return shell("convert -size 16x16 xc:steelblue " + quoted(path)) ? path : "";
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
                                     "--latency-msec=20",
                                     path_};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "parec", nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    std::this_thread::sleep_for(kRecordLeadIn);
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;  // it has already given up
}

MonitorRecording::~MonitorRecording() { stop(); }

const std::string& MonitorRecording::stop() {
    if (pid_ > 0) {
        std::this_thread::sleep_for(kRecordTail);
        kill(pid_, SIGINT);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    return path_;
}

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
