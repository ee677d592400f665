// The Windows program: Win32 controls for the window, the thread's message
// loop, COM for the node, DirectShow for playback and the profile functions
// for the settings file in the Windows directory.
//
// It takes no command-line arguments and reads no environment variables.
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <exception>
#include <string>

#include "app/session_end.h"
#include "app/system.h"
#include "base/errors.h"
#include "guard/guard_log.h"
#include "guard/keying_watch.h"
#include "platform/portable/file_log_sink.h"
#include "platform/windows/com_node.h"
#include "platform/windows/dshow_graph.h"
#include "platform/windows/win32_dialogs.h"
#include "platform/windows/win32_event_loop.h"
#include "platform/windows/win32_guardian.h"
#include "platform/windows/win32_locale.h"
#include "platform/windows/win32_platform.h"
#include "platform/windows/win32_profile_store.h"
#include "platform/windows/win32_version.h"
#include "platform/windows/win32_window.h"
#include "seams/media_graph.h"
#include "seams/node_link.h"

namespace {

// The version the build was made with, for a file whose version resource
// cannot be read (it always has one; this only keeps the caption sensible).
tarnwick::VersionInfo builtVersion() {
    return {TARNWICK_VERSION_MAJOR, TARNWICK_VERSION_MINOR, TARNWICK_VERSION_BUILD, TARNWICK_VERSION_REVISION};
}

// The station log: %ProgramData%\Tarnwick\tarnwick.log, one place for the
// machine that every user may write.
std::string stationLogPath() {
    char folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) return {};
    return std::string(folder) + "\\Tarnwick\\tarnwick.log";
}

// Builds the services, hands them to the system and runs the loop; the
// program ends inside (every exit path ends the process at once).
[[noreturn]] void runProgram(HINSTANCE instance) {
    tarnwick::Win32EventLoop loop;
    tarnwick::Win32MainWindow window(instance);
    tarnwick::Win32Dialogs dialogs(window.handle(), instance);
    tarnwick::Win32Locale locale;
    tarnwick::Win32ProfileStore profile("tarnwick.ini");
    tarnwick::ComNodeConnector nodes;
    // The guardian learns each change of the keying through the node link,
    // and unkeys the node if this process ends while it is keyed.
    const std::string logPath = stationLogPath();
    tarnwick::Win32Guardian guardian(
        [&logPath](const std::string& text) { tarnwick::guard::reportLine(logPath, text); });
    guardian.start(tarnwick::guardianProgramPath(), logPath);
    tarnwick::KeyingWatchConnector watchedNodes(nodes, guardian);
    // The station log, in the ANSI code page as the window shows it; lines
    // end as Notepad expects.
    tarnwick::FileLogSink stationLog(logPath.empty() ? std::filesystem::path() : locale.filePath(logPath), logPath,
                                     "\r\n");
    tarnwick::DshowGraphFactory graphs;
    const tarnwick::VersionInfo version = tarnwick::readVersionResource().value_or(builtVersion());

    tarnwick::System system(
        tarnwick::Platform{loop, dialogs, window, locale, profile, watchedNodes, graphs, version, &stationLog});
    window.bind(system.form);
    window.onCloseRequested = [&system] { system.requestClose(); };
    // A session that ends without asking (a forced log-off or shutdown)
    // ends the program unkeyed and listed free, without saving.
    window.onSessionEnding = [&system] { tarnwick::EndSession(system, 0); };

    // Start-up shows the window and starts the timers, or ends the program.
    system.Form_Load();
    loop.run();
    // Only reached if something posted WM_QUIT behind the system's back;
    // end the same way as every exit path, without running destructors.
    system.endProgram(0);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Sharp text and exact twips at every display scale: the window converts
    // with the real pixel density instead of being stretched as a bitmap.
    SetProcessDPIAware();
    // One single-threaded apartment for the whole run: the node's COM object
    // and its events, and the file dialog's shell parts, live on this thread.
    if (FAILED(OleInitialize(nullptr))) {
        MessageBoxA(nullptr, "The component services could not be started.", tarnwick::kProductName, MB_ICONERROR);
        return 1;
    }
    try {
        runProgram(instance);
    } catch (const std::exception& e) {
        // The window system refused a window or a timer before the system
        // ran: nothing to save, nothing keyed yet.
        MessageBoxA(nullptr, (std::string("Tarnwick could not start: ") + e.what()).c_str(), tarnwick::kProductName,
                    MB_ICONERROR);
        return 1;
    }
}
