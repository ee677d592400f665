// CPU of playing: what this process spends while the GStreamer graph plays a
// file and the position and length are read every 10 ms, as the progress
// tick does for the whole of every transmission. The sound server's own
// work is in its process and not counted.
//
// Needs a sound server with a sink to play into: run under
// tests/support/with-session.sh --pulse (scripts/bench.sh does). It makes a
// 30 s tone with sox in a temporary directory.
//
// Goal: <= 3 % of one core. The exit status is 0 whatever the figure (it is
// a measurement, not a test); it is 1 only when the benchmark could not run.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "base/errors.h"
#include "platform/linux/gst_graph.h"
#include "short_form.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const int kFileSeconds = tarnwick::bench::shortOrLong(10, 30);
constexpr double kGoalPercent = 3.0;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main() {
    if (std::getenv("PULSE_SERVER") == nullptr) {
        std::puts("playing CPU: no private sound server; run under with-session.sh --pulse (scripts/bench.sh does)");
        return 1;
    }
    char dirName[] = "/tmp/tarnwick-bench-gst-XXXXXX";
    if (mkdtemp(dirName) == nullptr) {
        std::puts("playing CPU: cannot make a temporary directory");
        return 1;
    }
    const std::string dir = dirName;
    const std::string file = dir + "/tone.wav";
    const std::string make =
        "sox -n -r 44100 -b 16 -c 2 '" + file + "' synth " + std::to_string(kFileSeconds) + " sine 1000 vol 0.5";
    int status = 1;
    if (std::system(make.c_str()) != 0) {
        std::puts("playing CPU: sox could not make the test file");
    } else {
        try {
            tarnwick::GstGraphFactory factory;
            auto graph = factory.create();
            graph->RenderFile(file);
            graph->Run();
            graph->SetCurrentPosition(0);

            const auto startWall = Clock::now();
            const double startCpu = cpuSeconds();
            auto next = startWall;
            long ticks = 0;
            bool ended = false;
            while (Clock::now() - startWall < std::chrono::seconds(kFileSeconds + 10)) {
                next += 10ms;
                std::this_thread::sleep_until(next);
                ++ticks;
                if (graph->CurrentPosition() == graph->Duration()) {
                    ended = true;
                    break;
                }
            }
            const double wall = std::chrono::duration<double>(Clock::now() - startWall).count();
            const double percent = 100.0 * (cpuSeconds() - startCpu) / wall;
            std::printf("playing CPU: %.2f %% of one core (goal <= %.0f %%) %s  [%.1f s played, %ld ticks%s]\n",
                        percent, kGoalPercent, percent <= kGoalPercent ? "PASS" : "MISS", wall, ticks,
                        ended ? "" : ", end not reached");
            status = 0;
        } catch (const tarnwick::Failure& failure) {
            std::printf("playing CPU: the graph failed: %s\n", failure.description().c_str());
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return status;
}
