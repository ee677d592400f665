// The air check's recorder (the real tarnwick-aircheck) against a real
// PulseAudio server and its null sink (support/with-session.sh --pulse), with
// the machine idle and with every core busy:
//  - it loses nothing of a plain client's tone that follows a silence, where
//    a monitor recorded at the default latency misses the start;
//  - it places each sound within +-5 ms of when the sound server played it,
//    as the playing stream's own timing tells: clicks in one stream, and
//    clicks that each start a stream of their own, as every file played does.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "aircheck/air_check.h"

extern char** environ;

namespace tarnwick::air {
namespace {

using namespace std::chrono_literals;

constexpr int kRate = 44100;  // the sink's own rate and channels: nothing is resampled
constexpr double kClickMs = 10;

double wallMs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

pid_t spawn(std::vector<std::string> args, int in = -1, int out = -1, int err = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, 0);
    if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, 1);
    if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int waitExit(pid_t pid) {
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Stereo 16-bit sound at kRate, built by milliseconds.
struct Pcm {
    std::vector<std::int16_t> samples;
    explicit Pcm(double ms) : samples(static_cast<std::size_t>(std::lround(ms * kRate / 1000)) * 2, 0) {}
    // A 1 kHz sine at half of full scale from `fromMs` for `lengthMs`.
    Pcm& tone(double fromMs, double lengthMs) {
        const auto from = static_cast<std::size_t>(std::lround(fromMs * kRate / 1000));
        const auto n = static_cast<std::size_t>(std::lround(lengthMs * kRate / 1000));
        for (std::size_t i = 0; i < n; ++i)
            samples[2 * (from + i)] = samples[2 * (from + i) + 1] =
                static_cast<std::int16_t>(16384 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / kRate));
        return *this;
    }
    bool writeWav(const std::string& path) const {
        std::ofstream out(path, std::ios::binary);
        const std::uint32_t bytes = static_cast<std::uint32_t>(samples.size() * 2);
        auto put = [&](std::uint32_t v, int n) {
            for (int i = 0; i < n; ++i) out.put(static_cast<char>(v >> (8 * i)));
        };
        out << "RIFF";
        put(bytes + 36, 4);
        out << "WAVEfmt ";
        put(16, 4), put(1, 2), put(2, 2), put(kRate, 4), put(kRate * 4, 4), put(4, 2), put(16, 2);
        out << "data";
        put(bytes, 4);
        out.write(reinterpret_cast<const char*>(samples.data()), bytes);
        return static_cast<bool>(out);
    }
};

// Every core spinning, for the life of the object.
class BusyCores {
public:
    explicit BusyCores(bool busy) {
        for (unsigned i = 0; busy && i < std::max(1u, std::thread::hardware_concurrency()); ++i)
            threads_.emplace_back([this] {
                while (!done_.load(std::memory_order_relaxed)) {
                }
            });
    }
    ~BusyCores() {
        done_ = true;
        for (auto& t : threads_) t.join();
    }

private:
    std::atomic<bool> done_{false};
    std::vector<std::thread> threads_;
};

// `tarnwick-aircheck record` from construction (once sound flows into the
// file) to stop().
class AirRecorder {
public:
    explicit AirRecorder(std::string path) : path_(std::move(path)) {
        pid_ = spawn({TARNWICK_AIRCHECK_PATH, "record", path_});
        for (int i = 0; i < 500 && pid_ > 0; ++i) {
            struct stat st {};
            if (stat(path_.c_str(), &st) == 0 && st.st_size > 44 + 4410) return;  // 25 ms of sound
            std::this_thread::sleep_for(10ms);
        }
        ADD_FAILURE() << "the air check did not start recording";
    }
    ~AirRecorder() { stop(); }
    // Lets the last sound reach the monitor and ends the recording; false if
    // the recorder failed.
    bool stop() {
        if (pid_ <= 0) return stopped_;
        std::this_thread::sleep_for(200ms);
        kill(pid_, SIGINT);
        stopped_ = waitExit(pid_) == 0;
        pid_ = -1;
        return stopped_;
    }
    AirReport report(const std::vector<std::pair<double, double>>& keyedMs) const {
        std::ostringstream trace;
        for (const auto& [key, unkey] : keyedMs)
            trace << static_cast<std::int64_t>(key) << " SetPtt -1\n"
                  << static_cast<std::int64_t>(unkey) << " SetPtt 0\n";
        std::istringstream in(trace.str());
        AirRecording recording;
        std::string error;
        EXPECT_TRUE(readAirRecording(path_, recording, error)) << error;
        return airReport(recording, keyedSpans(in));
    }

private:
    std::string path_;
    pid_t pid_ = -1;
    bool stopped_ = false;
};

// Plays `pcm` through `pacat -v`, a stream of its own, and returns when the
// sound server played each of its samples, by the stream's own timing: pacat
// prints the stream's time (pa_stream_get_time) every 50 ms, stamped here
// with the wall clock when read, and fitStreamClock fits the clock to them
// as the recorder does. Empty when pacat gave too few times.
std::optional<StreamClock> playStream(const Pcm& pcm) {
    int in[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return std::nullopt;
    const pid_t pid =
        spawn({"pacat", "-v", "--raw", "--format=s16le", "--rate=44100", "--channels=2"}, in[0], -1, err[1]);
    close(in[0]);
    close(err[1]);
    std::thread writer([&] {
        const char* p = reinterpret_cast<const char*>(pcm.samples.data());
        std::size_t left = pcm.samples.size() * 2;
        while (left > 0) {
            const ssize_t n = write(in[1], p, left);
            if (n <= 0) break;
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        close(in[1]);
    });
    std::vector<std::pair<double, double>> times;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(err[0], buffer, sizeof buffer);
        const double stamp = wallMs();
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = text.find_first_of("\r\n")) != std::string::npos) {
            double seconds = 0;
            if (std::sscanf(text.c_str(), "Time: %lf sec", &seconds) == 1 && seconds > 0)
                times.emplace_back(seconds * 1000, stamp);
            text.erase(0, end + 1);
        }
    }
    writer.join();
    close(err[0]);
    EXPECT_EQ(waitExit(pid), 0) << "pacat failed";
    if (times.size() < 5) return std::nullopt;
    return fitStreamClock(times);
}

class AirRecorderLive : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("PULSE_SERVER"), nullptr) << "run under tests/support/with-session.sh --pulse";
        char name[] = "/tmp/tarnwick-air-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string file(const std::string& name) const { return dir_ + "/" + name; }
    std::string dir_;
};

TEST_P(AirRecorderLive, LosesNothingOfAToneThatFollowsTenSecondsOfSilence) {
    const std::string tone = file("tone.wav");
    ASSERT_TRUE(Pcm(2000).tone(0, 2000).writeWav(tone));
    BusyCores busy(GetParam());
    AirRecorder recorder(file("rec.wav"));
    std::this_thread::sleep_for(10s);
    const double before = wallMs();
    ASSERT_EQ(waitExit(spawn({"paplay", tone})), 0);
    const double after = wallMs();
    ASSERT_TRUE(recorder.stop());

    const AirReport report = recorder.report({{before - 100, after + 300}});
    ASSERT_EQ(report.spans.size(), 1u);
    EXPECT_NEAR(report.soundMs, 2000, 5) << "the whole tone, once";
    EXPECT_NEAR(report.onAirMs, 2000, 5);
    EXPECT_EQ(report.spans[0].gaps, 0) << "longest " << report.spans[0].longestGap << " ms";
    std::printf("tone of 2000 ms after 10 s of silence (%s): recorded %.1f ms\n", GetParam() ? "cores busy" : "idle",
                report.soundMs);
}

TEST_P(AirRecorderLive, PlacesEachSoundWithinFiveMsOfWhenItPlayed) {
    BusyCores busy(GetParam());
    AirRecorder recorder(file("rec.wav"));
    std::vector<double> playedMs;  // when each click began, by its stream

    // Ten clicks in one stream, at uneven spacings.
    Pcm clicks(3400);
    std::vector<double> at;
    for (int k = 0; k < 10; ++k) at.push_back(300 + k * 290 + (k % 3) * 7);
    for (double ms : at) clicks.tone(ms, kClickMs);
    const auto stream = playStream(clicks);
    ASSERT_TRUE(stream) << "pacat gave no stream time";
    for (double ms : at) playedMs.push_back(stream->wallMs(ms));

    // Five clicks, each at the very start of a stream of its own.
    for (int k = 0; k < 5; ++k) {
        const auto stream = playStream(Pcm(600).tone(0, kClickMs));
        ASSERT_TRUE(stream) << "pacat gave no stream time";
        playedMs.push_back(stream->zeroMs);
    }
    ASSERT_TRUE(recorder.stop());

    // Each click keyed 100 ms before it and unkeyed 100 ms after: the
    // report's lead and tail tell where the air check heard it.
    std::vector<std::pair<double, double>> keyed;
    for (double p : playedMs) keyed.emplace_back(std::floor(p) - 100, std::floor(p) + kClickMs + 100);
    const AirReport report = recorder.report(keyed);
    ASSERT_EQ(report.spans.size(), playedMs.size());
    double worst = 0;
    for (std::size_t i = 0; i < playedMs.size(); ++i) {
        const SpanReport& s = report.spans[i];
        ASSERT_TRUE(s.lead && s.tail) << "click " << i << " was not heard";
        const double startError = *s.lead - (playedMs[i] - keyed[i].first);
        const double endError = (keyed[i].second - *s.tail) - (playedMs[i] + kClickMs);
        EXPECT_NEAR(startError, 0, 5) << "click " << i;
        EXPECT_NEAR(endError, 0, 5) << "click " << i;
        worst = std::max({worst, std::abs(startError), std::abs(endError)});
    }
    std::printf("15 clicks (%s): placed within %.1f ms of their playing time\n", GetParam() ? "cores busy" : "idle",
                worst);
}

INSTANTIATE_TEST_SUITE_P(Machine, AirRecorderLive, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "CoresBusy" : "Idle");
                         });

}  // namespace
}  // namespace tarnwick::air
