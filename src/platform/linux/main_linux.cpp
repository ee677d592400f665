// The Linux program: Qt Widgets for the window, the session D-Bus for the
// node, an INI file in TARNWICK_SETTINGS_DIR for the settings.
//
// It takes no command-line arguments and reads no environment variables of
// its own; Qt reads its usual ones (DISPLAY, the locale).
#include <QApplication>

#include <csignal>
#include <string>

#include "app/session_end.h"
#include "app/system.h"
#include "base/errors.h"
#include "guard/guard_log.h"
#include "guard/keying_watch.h"
#include "platform/linux/dbus_node.h"
#include "platform/linux/file_profile_store.h"
#include "platform/linux/gst_graph.h"
#include "platform/linux/posix_guardian.h"
#include "platform/linux/qt_dialogs.h"
#include "platform/linux/qt_event_loop.h"
#include "platform/linux/qt_locale.h"
#include "platform/linux/qt_signal_notifier.h"
#include "platform/linux/qt_window.h"
#include "platform/portable/file_log_sink.h"
#include "seams/media_graph.h"

int main(int argc, char** argv) {
    // A save over a file-size limit must fail as a reported save, not kill
    // the program with SIGXFSZ.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnwick"));
    QApplication::setWindowIcon(tarnwick::tarnwickIcon());
    // The main window never closes (the exit paths end the process), and a
    // closed about window or message box must not end the Qt loop either.
    QApplication::setQuitOnLastWindowClosed(false);

    tarnwick::QtEventLoop loop;
    tarnwick::QtMainWindow window;
    tarnwick::QtDialogs dialogs(&window);
    tarnwick::QtLocale locale;
    tarnwick::FileProfileStore profile(TARNWICK_SETTINGS_DIR);
    tarnwick::DbusNodeConnector nodes;
    // The guardian learns each change of the keying through the node link,
    // and unkeys the node if this process ends while it is keyed.
    const std::string logPath = std::string(TARNWICK_SETTINGS_DIR) + "/tarnwick.log";
    tarnwick::PosixGuardian guardian(
        [&logPath](const std::string& text) { tarnwick::guard::reportLine(logPath, text); });
    guardian.start(tarnwick::guardianProgramPath(), logPath);
    tarnwick::KeyingWatchConnector watchedNodes(nodes, guardian);
    // The station log, beside the settings file: every user may write there.
    tarnwick::FileLogSink stationLog(locale.filePath(logPath), logPath);
    tarnwick::GstGraphFactory graphs;
    const tarnwick::VersionInfo version{TARNWICK_VERSION_MAJOR, TARNWICK_VERSION_MINOR, TARNWICK_VERSION_BUILD,
                                        TARNWICK_VERSION_REVISION};

    tarnwick::System system(
        tarnwick::Platform{loop, dialogs, window, locale, profile, watchedNodes, graphs, version, &stationLog});
    window.bind(system.form);
    window.onCloseRequested = [&system] { system.requestClose(); };
    // A service stop, a log-out or Ctrl-C ends the program unkeyed and
    // listed free, without saving, as closing the window does.
    tarnwick::QtSignalNotifier endSignals({SIGTERM, SIGINT, SIGHUP});
    endSignals.onSignal = [&system](int sig) { tarnwick::EndSession(system, 128 + sig); };

    // Start-up shows the window and starts the timers, or ends the program.
    system.Form_Load();
    loop.run();
    // Only reached if something quit Qt's loop behind the system's back;
    // end the same way as every exit path, without running destructors.
    system.endProgram(0);
}
