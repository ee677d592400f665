// tarnwick-nodesim on Linux: the stand-in node on the session bus.
#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "nodesim/linux/dbus_ctl.h"
#include "nodesim/linux/dbus_node_face.h"
#include "nodesim/linux/qt_node_window.h"
#include "nodesim/node_sim.h"
#include "nodesim/options.h"

using namespace tarnwick::nodesim;

namespace {

int serve(const CommandLine& line, int& argc, char** argv) {
    // Headless runs need no display, so they do without the widget module.
    std::unique_ptr<QCoreApplication> app;
    if (line.headless) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
    }

    std::ofstream traceFile;
    if (!line.tracePath.empty()) {
        traceFile.open(line.tracePath, std::ios::out | std::ios::trunc | std::ios::binary);
        if (!traceFile) {
            std::fprintf(stderr, "tarnwick-nodesim: cannot write the trace file %s\n", line.tracePath.c_str());
            return 1;
        }
    }
    TraceWriter trace(line.tracePath.empty() ? nullptr : &traceFile, systemClockMs());
    NodeSim sim({line.callsign, line.cwWpm}, trace, steadyClockMs());

    NodeFace face(sim, QDBusConnection::sessionBus());
    const QString problem = face.start();
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "tarnwick-nodesim: %s\n", problem.toUtf8().constData());
        return 1;
    }

    std::optional<NodeWindow> window;
    if (!line.headless) {
        window.emplace(face);
        window->show();
    }
    return app->exec();
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    try {
        line = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "tarnwick-nodesim: %s\n\n%s", e.what(), usageText().c_str());
        return 2;
    }

    switch (line.mode) {
        case CommandLine::Mode::Help:
            std::fputs(usageText().c_str(), stdout);
            return 0;
        case CommandLine::Mode::Register:
        case CommandLine::Mode::Unregister:
            std::fprintf(stderr,
                         "tarnwick-nodesim: --register and --unregister are for the Windows build; on Linux "
                         "the stand-in needs no registration.\n");
            return 2;
        case CommandLine::Mode::Ctl: {
            QCoreApplication app(argc, argv);
            return runControl(line);
        }
        case CommandLine::Mode::Run:
            break;
    }
    return serve(line, argc, argv);
}
