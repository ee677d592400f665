// Timer accuracy of the Windows message loop: the 10 ms progress timer and
// the 1 ms break timer, in the loop itself and inside a MessageBoxA (whose
// own modal loop must keep delivering them). Prints each figure beside its
// goal. Run under Wine with a display (scripts/test.sh does).
#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/windows/win32_dialogs.h"
#include "platform/windows/win32_event_loop.h"

namespace {

using std::chrono::milliseconds;
using tarnwick::TimerId;

// The gaps between one timer's ticks, in milliseconds.
struct Gaps {
    std::vector<double> gaps;
    double last = -1;
    void tick(double nowMs) {
        if (last >= 0) gaps.push_back(nowMs - last);
        last = nowMs;
    }
    void print(const char* what, double interval, double goalMean) const {
        if (gaps.empty()) {
            std::printf("%-34s no ticks (goal: mean gap <= %.1f ms)\n", what, goalMean);
            return;
        }
        std::vector<double> sorted = gaps;
        std::sort(sorted.begin(), sorted.end());
        double sum = 0;
        for (double g : sorted) sum += g;
        std::printf(
            "%-34s mean gap %6.3f ms, median %6.3f, 95%% %6.3f, max %6.3f (interval %.0f ms; goal: mean <= %.1f)\n",
            what, sum / sorted.size(), sorted[sorted.size() / 2], sorted[sorted.size() * 95 / 100], sorted.back(),
            interval, goalMean);
    }
};

}  // namespace

int main() {
    tarnwick::Win32EventLoop loop;
    tarnwick::Win32Dialogs dialogs;
    auto nowMs = [&] { return loop.now().count() / 1e6; };
    Gaps loop10, loop1, box10, box1;
    bool inBox = false, done = false;

    loop.addTimer(milliseconds(10), [&] {
        if (!done) (inBox ? box10 : loop10).tick(nowMs());
    });
    loop.addTimer(milliseconds(1), [&] {
        if (!done) (inBox ? box1 : loop1).tick(nowMs());
    });
    // Two seconds in the loop, then two seconds with a box open.
    TimerId opener = 0;
    opener = loop.addTimer(milliseconds(2000), [&] {
        loop.removeTimer(opener);
        inBox = true;
        dialogs.messageBox("Measuring the timers", "Tarnwick timer benchmark", tarnwick::mb::kOk);
        inBox = false;
        done = true;
        PostQuitMessage(0);
    });
    loop.addTimer(milliseconds(4000), [&] {
        if (HWND box = FindWindowA("#32770", "Tarnwick timer benchmark")) PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    loop.run();

    std::printf("Win32 message loop timers (goal: the interval, +5 %% for 10 ms, +50 %% for 1 ms)\n");
    loop10.print("10 ms timer, message loop", 10, 10.5);
    loop1.print("1 ms timer, message loop", 1, 1.5);
    box10.print("10 ms timer, inside MessageBoxA", 10, 10.5);
    box1.print("1 ms timer, inside MessageBoxA", 1, 1.5);
    return 0;
}
