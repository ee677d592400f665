// Node call round trip over D-Bus: how long one GetPttState takes through
// DbusNodeConnector's NodeLink against the stand-in. The monitors call the
// node every 100 ms and the schedule three times a second, each call
// blocking the one thread, so calls must be far below a timer period.
//
// Runs on the caller's session bus, which must be a private one: start it
// under dbus-run-session (scripts/bench.sh does, through
// tests/support/with-session.sh --bus). It starts its own
// tarnwick-nodesim --headless and ends it afterwards.
//
// Goals: median <= 0.3 ms, 99th percentile <= 2 ms. The exit status is 0
// whatever the figures (they are measurements, not a test); it is 1 only
// when the benchmark could not run.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/errors.h"
#include "platform/linux/dbus_node.h"

namespace {

constexpr int kWarmUpCalls = 200;
constexpr int kCalls = 5000;
constexpr double kMedianGoalMs = 0.3;
constexpr double kP99GoalMs = 2.0;

class IgnoreEvents : public tarnwick::NodeEvents {
public:
    void DTMFString(const std::string&) override {}
    void Closing() override {}
};

bool nodeNameOwned() {
    QDBusMessage query =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    query << QLatin1String(tarnwick::kNodeService);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(query, QDBus::Block, 2000);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

// The value below which `fraction` of the sorted samples lie.
double percentile(const std::vector<double>& sorted, double fraction) {
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

const char* verdict(double value, double goal) { return value <= goal ? "PASS" : "MISS"; }

}  // namespace

// User and system CPU time of this process so far.
double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int main(int argc, char** argv) {
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
        std::puts("dbus round trip: no session bus; run under dbus-run-session (scripts/bench.sh does)");
        return 1;
    }
    QCoreApplication app(argc, argv);
    if (nodeNameOwned()) {
        std::puts("dbus round trip: a node already owns org.tarnwick.Node; run on a private bus");
        return 1;
    }

    QProcess node;
    node.setProcessChannelMode(QProcess::ForwardedChannels);
    node.start(QStringLiteral(NODESIM_PATH), {QStringLiteral("--headless")});
    QElapsedTimer waited;
    waited.start();
    while (!nodeNameOwned()) {
        if (waited.elapsed() > 10'000 || node.state() == QProcess::NotRunning) {
            std::puts("dbus round trip: the stand-in node did not start (" NODESIM_PATH ")");
            return 1;
        }
        QThread::msleep(10);
    }

    int status = 0;
    try {
        IgnoreEvents events;
        tarnwick::DbusNodeConnector connector;
        auto link = connector.create(events);
        for (int i = 0; i < kWarmUpCalls; ++i) link->GetPttState();

        std::vector<double> ms;
        ms.reserve(kCalls);
        const double cpu0 = processCpuSeconds();
        for (int i = 0; i < kCalls; ++i) {
            const auto start = std::chrono::steady_clock::now();
            link->GetPttState();
            const auto end = std::chrono::steady_clock::now();
            ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        }
        const double cpuPerCallUs = (processCpuSeconds() - cpu0) * 1e6 / kCalls;
        std::sort(ms.begin(), ms.end());
        const double median = percentile(ms, 0.5);
        const double p99 = percentile(ms, 0.99);
        std::printf("dbus round trip: median %.3f ms (goal <= %.1f ms) p99 %.3f ms (goal <= %g ms)\n", median,
                    kMedianGoalMs, p99, kP99GoalMs);
        std::printf("dbus round trip: %d GetPttState calls, max %.3f ms; median %s, p99 %s\n", kCalls, ms.back(),
                    verdict(median, kMedianGoalMs), verdict(p99, kP99GoalMs));
        // What one call costs this process: at about 220 calls a second
        // while idle, it decides most of the idle cost.
        std::printf("dbus round trip: %.1f us of this process's CPU per call\n", cpuPerCallUs);
    } catch (const tarnwick::Failure& f) {
        std::printf("dbus round trip: a node call failed: %s\n", f.description().c_str());
        status = 1;
    }

    node.terminate();
    if (!node.waitForFinished(5000)) node.kill();
    return status;
}
