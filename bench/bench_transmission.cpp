// A transmission measured end to end: the real system on the Qt loop, the
// real GStreamer graph playing into the session's sound server, the real
// D-Bus client talking to the stand-in node, which traces every call.
//
//   key to sound:  from SetPtt -1 in the node's trace to the first
//                  non-silent sample recorded at the sink's monitor
//                  (goal: median <= 60 ms);
//   end to unkey:  from the graph's end of stream (the last sample has
//                  played) to SetPtt 0 in the trace (goal: median <= 15 ms,
//                  worst of 20 <= 30 ms);
//   PTT label:     from the stand-in's own key change (Morse for "Send ID")
//                  to the label's new caption (goal: worst <= 110 ms).
//
// Runs under scripts/bench.sh (a private bus, display and PulseAudio with
// the null sink "radio").
#include "app/system.h"
#include "ptt_label.h"
#include "short_form.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/memory_profile_store.h"
#include "platform/linux/dbus_node.h"
#include "platform/linux/gst_graph.h"
#include "platform/linux/qt_event_loop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QGuiApplication>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace tarnwick;
using SteadyClock = std::chrono::steady_clock;
using WallClock = std::chrono::system_clock;

namespace {

const int kRuns = bench::shortOrLong(10, 20);

pid_t spawn(const std::vector<std::string>& args, int stdoutFd = -1) {
    pid_t pid = fork();
    if (pid == 0) {
        if (stdoutFd >= 0) dup2(stdoutFd, 1);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

double wallMs() { return std::chrono::duration<double, std::milli>(WallClock::now().time_since_epoch()).count(); }

// The trace's lines as (ms, operation text).
std::vector<std::pair<long long, std::string>> readTrace(const std::string& path) {
    std::vector<std::pair<long long, std::string>> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto sp = line.find(' ');
        if (sp == std::string::npos) continue;
        out.emplace_back(std::atoll(line.substr(0, sp).c_str()), line.substr(sp + 1));
    }
    return out;
}

// Records the sink's monitor through parec and notes the wall time at which
// the first loud sample after `armed` arrived.
class Recorder {
public:
    Recorder() {
        int fds[2];
        if (pipe(fds) != 0) std::abort();
        pid_ = spawn({"parec", "-d", "radio.monitor", "--raw", "--format=s16le", "--rate=48000", "--channels=1",
                      "--latency-msec=2"},
                     fds[1]);
        close(fds[1]);
        fd_ = fds[0];
        thread_ = std::thread([this] { loop(); });
    }
    ~Recorder() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        thread_.join();
        close(fd_);
    }
    void arm() {
        first_.store(0);
        armed_.store(true);
    }
    double firstLoudMs() const { return first_.load(); }

private:
    void loop() {
        short buf[96];  // 2 ms at 48 kHz
        for (;;) {
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0) return;
            const double now = wallMs();
            if (!armed_.load()) continue;
            const int samples = static_cast<int>(n / 2);
            for (int i = 0; i < samples; ++i) {
                if (std::abs(buf[i]) > 3000) {
                    // The sample came in this chunk; the later ones are younger.
                    first_.store(now - (samples - 1 - i) * 1000.0 / 48000);
                    armed_.store(false);
                    break;
                }
            }
        }
    }
    pid_t pid_;
    int fd_;
    std::thread thread_;
    std::atomic<bool> armed_{false};
    std::atomic<double> first_{0};
};

// Keeps the concrete graph at hand to read its end-of-stream time.
class WatchedFactory : public GraphFactory {
public:
    std::unique_ptr<MediaGraph> create() override {
        auto g = inner_.create();
        last = dynamic_cast<GstGraph*>(g.get());
        return g;
    }
    GstGraph* last = nullptr;

private:
    GstGraphFactory inner_;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const std::string dir = "/tmp/tarnwick-bench-" + std::to_string(getpid());
    std::system(("mkdir -p " + dir).c_str());
    const std::string tone = dir + "/tone.wav", trace = dir + "/trace.log";
    if (std::system(("sox -n -r 48000 -c 1 " + tone + " synth 1 sine 1000 vol 0.5").c_str()) != 0) {
        std::puts("transmission: sox could not make the test tone");
        return 1;
    }

    pid_t node = spawn({NODESIM_PATH, "--headless", "--trace", trace});
    for (int i = 0; i < 100; ++i) {
        pid_t ctl = spawn({NODESIM_PATH, "--ctl", "state"}, open("/dev/null", O_WRONLY));
        int st = 0;
        waitpid(ctl, &st, 0);
        if (WIFEXITED(st) && WEXITSTATUS(st) == 0) break;
        usleep(50000);
    }

    QtEventLoop loop;
    ScriptedDialogs dialogs;
    FakeFrame frame;
    FakeLocale locale;
    MemoryProfileStore store("[SETTINGS]\nTEXT4=" + tone + "\nBEACONPERIOD6=0\nBEACONPERIOD7=0\n");
    DbusNodeConnector nodes;
    WatchedFactory graphs;
    System system(Platform{loop, dialogs, frame, locale, store, nodes, graphs, VersionInfo{1, 0, 0, 5}});
    system.Form_Load();
    Recorder recorder;

    std::vector<double> keyToSound, endToUnkey;
    for (int run = 0; run < kRuns; ++run) {
        const std::size_t mark = readTrace(trace).size();
        recorder.arm();
        system.form.Command1.userClick();
        // Let the loop run undisturbed through the file and a little after
        // it; the trace is read only afterwards.
        QEventLoop wait;
        QTimer::singleShot(1400, &wait, &QEventLoop::quit);
        wait.exec();
        long long keyMs = 0, unkeyMs = 0;
        const auto lines = readTrace(trace);
        for (std::size_t i = mark; i < lines.size(); ++i) {
            if (keyMs == 0 && lines[i].second == "SetPtt -1") keyMs = lines[i].first;
            if (keyMs != 0 && lines[i].second == "SetPtt 0") {
                unkeyMs = lines[i].first;
                break;
            }
        }
        const auto eos = graphs.last ? graphs.last->endOfStreamTime() : std::nullopt;
        if (keyMs == 0 || unkeyMs == 0 || !eos) {
            std::printf("transmission: run %d did not complete\n", run + 1);
            continue;
        }
        const double eosWall = wallMs() - std::chrono::duration<double, std::milli>(SteadyClock::now() - *eos).count();
        endToUnkey.push_back(static_cast<double>(unkeyMs) - eosWall);
        if (recorder.firstLoudMs() > 0) keyToSound.push_back(recorder.firstLoudMs() - static_cast<double>(keyMs));
    }
    bench::measurePttLabel(system,
                           {[](int ms) {
                                QEventLoop wait;
                                QTimer::singleShot(ms, &wait, &QEventLoop::quit);
                                wait.exec();
                            },
                            wallMs,
                            [&] {
                                std::vector<double> sends;
                                for (const auto& [ms, op] : readTrace(trace)) {
                                    if (op.rfind("SendCwText ", 0) == 0) sends.push_back(static_cast<double>(ms));
                                }
                                return sends;
                            }},
                           "Linux, stand-in over D-Bus");
    kill(node, SIGTERM);
    waitpid(node, nullptr, 0);
    std::system(("rm -rf " + dir).c_str());

    if (endToUnkey.empty()) {
        std::puts("transmission: no run completed");
        return 1;
    }
    const double worst = *std::max_element(endToUnkey.begin(), endToUnkey.end());
    std::printf("end of audio to unkey: median %.1f ms (goal <= 15 ms) %s, worst of %zu %.1f ms (goal <= 30 ms) %s\n",
                median(endToUnkey), median(endToUnkey) <= 15 ? "PASS" : "MISS", endToUnkey.size(), worst,
                worst <= 30 ? "PASS" : "MISS");
    if (keyToSound.empty()) {
        std::puts("key to sound: nothing was recorded at the sink");
    } else {
        std::printf("key to sound: median %.1f ms over %zu runs (goal <= 60 ms) %s\n", median(keyToSound),
                    keyToSound.size(), median(keyToSound) <= 60 ? "PASS" : "MISS");
    }
    std::fflush(stdout);
    std::_Exit(0);  // the system's objects end with the process, as in the program
}
