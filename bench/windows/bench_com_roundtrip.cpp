// Round trips of GetPttState through ComNodeConnector to the stand-in node,
// a COM local server in a process of its own, as the PTT monitor makes one
// every 100 ms. Prints the median and the 99th percentile beside the goal.
// Run under Wine (scripts/test.sh does): the stand-in is started by hand
// from the path given as the first argument, headless and untraced.
#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "base/errors.h"
#include "platform/windows/com_node.h"

namespace {

constexpr int kWarmUp = 200;
constexpr int kRounds = 3000;
constexpr double kGoalMs = 1.0;

class NoEvents : public tarnwick::NodeEvents {
public:
    void DTMFString(const std::string&) override {}
    void Closing() override {}
};

double nowMs() {
    using namespace std::chrono;
    return duration_cast<duration<double, std::milli>>(steady_clock::now().time_since_epoch()).count();
}

// Runs `command` and waits for it; returns its exit status. With `keep`,
// returns at once and hands over the process. What it prints is dropped:
// only the figure is this program's output.
DWORD run(const std::string& command, PROCESS_INFORMATION* keep = nullptr) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nul;
    PROCESS_INFORMATION pi{};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(nul);
    if (!started) return 255;
    if (keep != nullptr) {
        *keep = pi;
        return 0;
    }
    WaitForSingleObject(pi.hProcess, 20000);
    DWORD code = 255;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_com_roundtrip TARNWICK-NODESIM.EXE\n");
        return 2;
    }
    const std::string nodesim = std::string("\"") + argv[1] + "\"";
    OleInitialize(nullptr);

    PROCESS_INFORMATION node{};
    if (run(nodesim + " --headless", &node) != 0) {
        std::printf("com round trip: the stand-in node could not be started (goal <= %.1f ms) MISS\n", kGoalMs);
        return 1;
    }
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
        up = run(nodesim + " --ctl state") == 0;
        if (!up) Sleep(50);
    }

    int status = 0;
    try {
        NoEvents events;
        auto link = tarnwick::ComNodeConnector().create(events);
        for (int i = 0; i < kWarmUp; ++i) link->GetPttState();
        std::vector<double> ms;
        ms.reserve(kRounds);
        for (int i = 0; i < kRounds; ++i) {
            const double start = nowMs();
            link->GetPttState();
            ms.push_back(nowMs() - start);
        }
        link.reset();
        std::sort(ms.begin(), ms.end());
        const double median = ms[ms.size() / 2];
        const double p99 = ms[ms.size() * 99 / 100];
        std::printf("com round trip: median %.3f ms (goal <= %.1f ms), p99 %.3f ms, max %.3f ms over %d calls %s\n",
                    median, kGoalMs, p99, ms.back(), kRounds, median <= kGoalMs ? "PASS" : "MISS");
    } catch (const tarnwick::Failure& f) {
        std::printf("com round trip: failed: %s (goal <= %.1f ms) MISS\n", f.description().c_str(), kGoalMs);
        status = 1;
    }

    run(nodesim + " --ctl close");
    if (WaitForSingleObject(node.hProcess, 10000) == WAIT_TIMEOUT) TerminateProcess(node.hProcess, 1);
    CloseHandle(node.hProcess);
    CloseHandle(node.hThread);
    return status;
}
