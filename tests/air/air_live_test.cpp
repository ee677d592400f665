// The air check's recorder (the real tarnwick-aircheck) against a real
// PulseAudio server and its null sink (support/with-session.sh --pulse), with
// the machine idle and with every core busy:
//  - it loses nothing of a plain client's tone that follows a silence, where
//    a monitor recorded at the default latency misses the start;
//  - it places each sound within +-5 ms of when the sound server played it,
//    as the playing stream's own timing tells: clicks in one stream, and
//    clicks that each start a stream of their own, as every file played does.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
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
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
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
        const char* argv[] = {TARNWICK_AIRCHECK_PATH, "record", path_.c_str(), nullptr};
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) pid_ = -1;
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
        int status = 0;
        stopped_ = waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        pid_ = -1;
        return stopped_;
    }
    // The report for the node keyed over each span (wall-clock ms).
    AirReport report(const std::vector<std::pair<double, double>>& keyedMs) const {
        std::vector<KeyedSpan> spans;
        for (const auto& [key, unkey] : keyedMs)
            spans.push_back({static_cast<std::int64_t>(key), static_cast<std::int64_t>(unkey)});
        AirRecording recording;
        std::string error;
        EXPECT_TRUE(readAirRecording(path_, recording, error)) << error;
        return airReport(recording, spans);
    }

private:
    std::string path_;
    pid_t pid_ = -1;
    bool stopped_ = false;
};

class AirRecorderLive : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("PULSE_SERVER"), nullptr) << "run under tests/support/with-session.sh --pulse";
        char name[] = "/tmp/tarnwick-air-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Plays `pcm` through `pacat -v`, a stream of its own, and returns when
    // the sound server played each of its samples, by the stream's own
    // timing: pacat prints the stream's time (pa_stream_get_time) every 50 ms,
    // stamped here with the wall clock when read, and fitStreamClock fits the
    // clock to them as the recorder does. Empty when pacat gave too few times.
    std::optional<StreamClock> play(const Pcm& pcm) const {
        const std::string raw = dir_ + "/play.raw";
        std::ofstream(raw, std::ios::binary)
            .write(reinterpret_cast<const char*>(pcm.samples.data()), std::streamsize(pcm.samples.size() * 2));
        FILE* pacat = popen(("pacat -v --raw --format=s16le --rate=44100 --channels=2 " + raw + " 2>&1").c_str(), "r");
        std::vector<std::pair<double, double>> times;
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = read(fileno(pacat), buffer, sizeof buffer)) > 0;) {
            const double stamp = wallMs();
            text.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t end; (end = text.find_first_of("\r\n")) != std::string::npos; text.erase(0, end + 1)) {
                double seconds = 0;
                if (std::sscanf(text.c_str(), "Time: %lf sec", &seconds) == 1 && seconds > 0)
                    times.emplace_back(seconds * 1000, stamp);
            }
        }
        EXPECT_EQ(pclose(pacat), 0) << "pacat failed";
        return times.size() < 5 ? std::nullopt : fitStreamClock(times);
    }
    std::string dir_;
};

TEST_P(AirRecorderLive, LosesNothingOfAToneThatFollowsTenSecondsOfSilence) {
    BusyCores busy(GetParam());
    AirRecorder recorder(dir_ + "/rec.wav");
    std::this_thread::sleep_for(10s);
    const double before = wallMs();
    play(Pcm(2000).tone(0, 2000));
    const double after = wallMs();
    ASSERT_TRUE(recorder.stop());

    const AirReport report = recorder.report({{before - 100, after + 300}});
    ASSERT_EQ(report.spans.size(), 1u);
    EXPECT_NEAR(report.soundMs, 2000, 5) << "the whole tone, once";
    EXPECT_NEAR(report.onAirMs, 2000, 5);
    EXPECT_EQ(report.spans[0].gaps, 0) << "longest " << report.spans[0].longestGap << " ms";
}

TEST_P(AirRecorderLive, PlacesEachSoundWithinFiveMsOfWhenItPlayed) {
    BusyCores busy(GetParam());
    AirRecorder recorder(dir_ + "/rec.wav");
    std::vector<double> playedMs;  // when each click began, by its stream

    // Ten clicks in one stream, at uneven spacings.
    Pcm clicks(3400);
    std::vector<double> at;
    for (int k = 0; k < 10; ++k) at.push_back(300 + k * 290 + (k % 3) * 7);
    for (double ms : at) clicks.tone(ms, kClickMs);
    const auto stream = play(clicks);
    ASSERT_TRUE(stream) << "pacat gave no stream time";
    for (double ms : at) playedMs.push_back(stream->wallMs(ms));

    // Five clicks, each at the very start of a stream of its own.
    for (int k = 0; k < 5; ++k) {
        const auto stream = play(Pcm(600).tone(0, kClickMs));
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
    for (std::size_t i = 0; i < playedMs.size(); ++i) {
        const SpanReport& s = report.spans[i];
        ASSERT_TRUE(s.lead && s.tail) << "click " << i << " was not heard";
        EXPECT_NEAR(*s.lead, playedMs[i] - keyed[i].first, 5) << "click " << i << " heard at the wrong time";
        EXPECT_NEAR(keyed[i].second - *s.tail, playedMs[i] + kClickMs, 5)
            << "click " << i << " ended at the wrong time";
    }
}

INSTANTIATE_TEST_SUITE_P(Machine, AirRecorderLive, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "CoresBusy" : "Idle");
                         });

}  // namespace
}  // namespace tarnwick::air
