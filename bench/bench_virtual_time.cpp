// Beacon timing and the schedule over long stretches of virtual time: the
// whole system on the test backends, so that months pass in seconds.
//
//   beacon drift: 30 days of a 15-minute timed beacon; every beacon's
//                 SetPtt -1 must fall exactly on start + k x 900 s;
//   schedule:     100,000 days with the 1 s tick jittered by up to +-400 ms;
//                 exactly one transmission on each ticked day, none on the
//                 others.
#include "app/system.h"
#include "platform/fake/fake_platform.h"
#include "platform/fake/memory_profile_store.h"
#include "platform/fake/recording_node.h"
#include "platform/fake/scripted_graph.h"
#include "platform/fake/virtual_event_loop.h"
#include "schedule/schedule.h"
#include "seams/civil_time.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

using namespace tarnwick;
using namespace std::chrono_literals;

namespace {

struct Bench {
    VirtualEventLoop loop;
    ScriptedDialogs dialogs;
    FakeFrame frame;
    FakeLocale locale;
    MemoryProfileStore store;
    RecordingNode node;
    RecordingNodeConnector connector{node, loop};
    ScriptedGraphFactory graphs{loop};
    std::unique_ptr<System> sys;

    explicit Bench(const std::string& settings, double fileSeconds) {
        const auto path = (std::filesystem::temp_directory_path() / "tarnwick-bench-id.wav").string();
        std::ofstream(path) << "";
        graphs.lengths[path] = fileSeconds;
        store.text = "[SETTINGS]\nTEXT4=" + path + "\n" + settings;
        locale.loop = &loop;
        sys = std::make_unique<System>(
            Platform{loop, dialogs, frame, locale, store, connector, graphs, VersionInfo{1, 0, 0, 5}});
        sys->Form_Load();
    }
    int keysSince(std::size_t& mark) {
        int n = 0;
        for (; mark < node.trace.size(); ++mark) n += node.trace[mark] == "SetPtt -1";
        return n;
    }
};

void beaconDrift() {
    Bench b("STOPCLOCK6=1\nBEACONPERIOD6=15\nCHECK2=0\nBEACONPERIOD7=0\n", 20);
    Form& f = b.sys->form;
    // Only the beacon's own timer matters here: the clock, the monitors and
    // the progress tick (whose 10 ms ticks would make a month slow to
    // simulate) are off, so each transmission simply plays on.
    for (Timer* t : {&f.Timer1, &f.Timer2, &f.Timer4, &f.Timer5}) t->setEnabled(false);
    std::size_t mark = b.node.trace.size();
    const auto start = b.loop.now();
    long long beacons = 0, offGrid = 0;
    const auto end = start + std::chrono::hours(24 * 30);
    while (b.loop.now() < end) {
        b.loop.advance(1s);
        if (b.keysSince(mark) == 0) continue;
        ++beacons;
        const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(b.loop.now() - start).count();
        if (since % (900 * 1000) != 0) ++offGrid;
        // Jump over the quiet part of the period in one go.
        b.loop.advance(880s);
    }
    std::printf(
        "beacon drift (virtual, 30 days, 15 min): %lld beacons, %lld off their second (goal 0; %lld expected) %s\n",
        beacons, offGrid, 30LL * 24 * 4, offGrid == 0 && beacons == 30LL * 24 * 4 ? "PASS" : "MISS");
}

void schedule() {
    Bench b("MON3=1\nWED3=1\nFRI3=1\nHOUR3=06\nMINS3=00\nCHECK2=0\nBEACONPERIOD6=0\nBEACONPERIOD7=0\n", 1);
    Form& f = b.sys->form;
    for (Control* c : f.controls()) {
        if (c->kind() == ControlKind::Timer) static_cast<Timer*>(c)->setEnabled(false);
    }
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> jitter(-400, 400);
    const long long day0 = daysFromCivil(2027, 1, 3);  // a Sunday
    long long wrongDays = 0, sent = 0;
    const int days = 100000;
    std::size_t mark = b.node.trace.size();
    for (int d = 0; d < days; ++d) {
        // The ticks of the minute around the target, each up to 400 ms off
        // its place on the 1 s grid (the clock itself keeps time).
        const long long base = (day0 + d) * 86400 + 6 * 3600 - 30;
        for (int k = 0; k < 60; ++k) {
            const long long ms = (base + k) * 1000 + jitter(rng) + 500;
            LocalTime t = fromWallSeconds(ms / 1000);
            t.millisecond = static_cast<int>(ms % 1000);
            b.locale.time = t;
            b.locale.loop = nullptr;
            Timer2_Timer(b.sys->station, b.sys->schedule);
        }
        const int n = b.keysSince(mark);
        const int weekday = fromWallSeconds((day0 + d) * 86400).weekday;
        const bool ticked = weekday == 2 || weekday == 4 || weekday == 6;
        sent += n;
        if (n != (ticked ? 1 : 0)) ++wrongDays;
    }
    std::printf("schedule (virtual, %d days, tick jitter +-400 ms): %lld transmissions, %lld days wrong (goal 0) %s\n",
                days, sent, wrongDays, wrongDays == 0 ? "PASS" : "MISS");
}

}  // namespace

int main() {
    beaconDrift();
    schedule();
    return 0;
}
