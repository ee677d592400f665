#include "linux/gst_audio.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace tarnwick::test {
namespace {

using namespace std::chrono_literals;

// parec needs a moment to connect before the first sample it records, and
// the last samples reach the monitor a little after the player is done.
// It records at 1 ms: the null sink then renders at most 1 ms ahead, and
// what it renders again when a stream starts never reaches the monitor.
constexpr auto kRecordLeadIn = 400ms;
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
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(kSong), sizeof kSong);
    return out ? path : "";
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
                                     "--latency-msec=1",
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

}  // namespace tarnwick::test
