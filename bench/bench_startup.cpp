// Start-up time: from the moment the process is started to the moment its
// main window is mapped (start-up shows it only after the settings are
// restored). Runs the real program against the stand-in node on the X
// server and session bus of the caller (scripts/bench.sh provides both).
//
// Goal: <= 400 ms.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(const std::vector<std::string>& args, bool quiet = false) {
    pid_t pid = fork();
    if (pid == 0) {
        if (quiet) freopen("/dev/null", "w", stdout);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

bool isMainWindow(Display* d, Window w) {
    char* name = nullptr;
    if (XFetchName(d, w, &name) == 0 || name == nullptr) return false;
    bool ok = std::string(name).rfind("Tarnwick ", 0) == 0;
    XFree(name);
    return ok;
}

}  // namespace

int main() {
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr) {
        std::puts("startup: no X display (run under scripts/bench.sh)");
        return 1;
    }
    pid_t node = spawn({NODESIM_PATH, "--headless", "--call", "N0BEN-L"});
    for (int i = 0; i < 100; ++i) {
        pid_t ctl = spawn({NODESIM_PATH, "--ctl", "state"}, true);
        int st = 0;
        waitpid(ctl, &st, 0);
        if (WIFEXITED(st) && WEXITSTATUS(st) == 0) break;
        usleep(50000);
    }

    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    std::vector<double> ms;
    for (int run = 0; run < 10; ++run) {
        XSync(d, True);  // drop events of earlier runs
        auto t0 = Clock::now();
        pid_t app = spawn({TARNWICK_PATH});
        bool seen = false;
        while (!seen && std::chrono::duration<double>(Clock::now() - t0).count() < 10) {
            if (XPending(d) == 0) {
                fd_set fds;
                FD_ZERO(&fds);
                FD_SET(ConnectionNumber(d), &fds);
                timeval tv{0, 100000};
                select(ConnectionNumber(d) + 1, &fds, nullptr, nullptr, &tv);
                continue;
            }
            XEvent e;
            XNextEvent(d, &e);
            // Qt maps its window after it has named it.
            if (e.type == MapNotify && isMainWindow(d, e.xmap.window)) seen = true;
        }
        auto t1 = Clock::now();
        kill(app, SIGKILL);
        waitpid(app, nullptr, 0);
        if (seen) ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    kill(node, SIGTERM);
    waitpid(node, nullptr, 0);
    XCloseDisplay(d);

    if (ms.empty()) {
        std::puts("startup: the window never appeared");
        return 1;
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2], worst = ms.back();
    std::printf("startup to window shown: median %.0f ms, worst %.0f ms of %zu runs (goal <= 400 ms) %s\n", median,
                worst, ms.size(), worst <= 400 ? "PASS" : "MISS");
    return 0;
}
