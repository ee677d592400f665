// tarnwick-nodesim.exe: the stand-in node as a COM local server.
//
// Started by hand with the options of the command line (it then registers
// its class object, and object creation in the session reaches it), or by
// COM activation with -Embedding, once --register has recorded it as the
// node's local server.
#include <objbase.h>
#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "nodesim/node_sim.h"
#include "nodesim/options.h"
#include "nodesim/windows/com_node_face.h"
#include "nodesim/windows/com_registration.h"
#include "nodesim/windows/ctl_pipe.h"
#include "nodesim/windows/win32_node_window.h"
#include "nodesim/windows/win_text.h"

using namespace tarnwick::nodesim;

namespace {

// A GUI program has no console of its own; it writes to the handles it was
// given (a pipe, a file, Wine's terminal) or to the console it was started
// from.
void writeTo(DWORD which, const std::string& text) {
    if (text.empty()) return;
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
        handle = GetStdHandle(which);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
            handle = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        }
    }
    DWORD written = 0;
    WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void complain(const std::string& text) { writeTo(STD_ERROR_HANDLE, "tarnwick-nodesim: " + text + "\n"); }

std::wstring programPath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) return std::wstring(path.data(), n);
        path.resize(path.size() * 2);
    }
}

// One --ctl request, run on the loop thread.
std::string answerControl(NodeFace& face, ControlServer& control, const std::string& request) {
    const auto blank = request.find(' ');
    const std::string command = request.substr(0, blank);
    const std::string argument = blank == std::string::npos ? std::string() : request.substr(blank + 1);
    NodeSim& sim = face.sim();
    if (command == "state") return "ok " + sim.stateText();
    if (command == "dtmf") {
        if (argument.empty()) return "error dtmf needs digits";
        face.raiseDtmf(argument);
        return "ok";
    }
    if (command == "rx" || command == "busy-a" || command == "busy-b") {
        if (argument != "0" && argument != "1") return "error " + command + " takes 0 or 1";
        const bool on = argument == "1";
        if (command == "rx") sim.setReceiving(on);
        if (command == "busy-a") sim.setBusyA(on);
        if (command == "busy-b") sim.setBusyB(on);
        return "ok";
    }
    if (command == "fail") {
        const auto op = parseOperation(argument);
        if (!op) return "error unknown operation \"" + argument + "\" (one of " + operationNames() + ")";
        sim.failNext(*op);
        return "ok";
    }
    if (command == "stall") {
        try {
            sim.stallNext(parseCommandLine({"--ctl", "stall", argument}).ctlMs);
        } catch (const UsageError& e) {
            return std::string("error ") + e.what();
        }
        return "ok";
    }
    if (command == "vanish") {
        // Closing goes out, then the process ends as soon as "ok" is read.
        face.vanish();
        control.endProcessAfterAnswer();
        return "ok";
    }
    if (command == "close") {
        // Closing goes out before the answer, as on the bus; the stand-in
        // then ends once its callers have gone.
        face.closeAndQuit();
        return "ok";
    }
    return "error unknown command \"" + command + "\"";
}

int serve(const CommandLine& line, bool embedded, HINSTANCE instance) {
    if (FAILED(OleInitialize(nullptr))) {
        complain("cannot start COM");
        return 1;
    }
    const std::wstring path = programPath();
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) {
        complain("cannot read the program's type library: " + errorText(static_cast<DWORD>(hr)));
        return 1;
    }

    std::ofstream traceFile;
    if (!line.tracePath.empty()) {
        traceFile.open(std::filesystem::path(wideFromUtf8(line.tracePath)),
                       std::ios::out | std::ios::trunc | std::ios::binary);
        if (!traceFile) {
            complain("cannot write the trace file " + line.tracePath);
            return 1;
        }
    }
    TraceWriter trace(line.tracePath.empty() ? nullptr : &traceFile, systemClockMs());
    NodeSim sim({line.callsign, line.cwWpm}, trace, steadyClockMs());

    int status = 0;
    {
        NodeFace face(sim, library);
        library->Release();
        ControlServer control(
            [&face, &control](const std::string& request) { return answerControl(face, control, request); });
        std::string problem = control.claim();
        if (problem.empty()) problem = face.start();
        if (problem.empty()) problem = control.start();
        if (!problem.empty()) {
            complain(problem);
            return 1;
        }
        if (embedded) face.endWhenUnused();

        std::unique_ptr<NodeWindow> window;
        if (!line.headless) {
            try {
                window = std::make_unique<NodeWindow>(face, instance);
                window->show();
            } catch (const std::exception& e) {
                complain(e.what());
                return 1;
            }
        }

        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (window != nullptr && IsDialogMessageW(window->handle(), &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        control.stop();
        face.stop();
        status = static_cast<int>(msg.wParam);
    }
    OleUninitialize();
    return status;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    bool embedded = false;
    for (int i = 1; i < argc; ++i) {
        // COM starts a local server with -Embedding (or /Embedding).
        if (lstrcmpiW(argv[i], L"-Embedding") == 0 || lstrcmpiW(argv[i], L"/Embedding") == 0) {
            embedded = true;
        } else {
            args.push_back(utf8FromWide(argv[i]));
        }
    }
    LocalFree(argv);

    CommandLine line;
    try {
        line = parseCommandLine(args);
    } catch (const UsageError& e) {
        writeTo(STD_ERROR_HANDLE, std::string("tarnwick-nodesim: ") + e.what() + "\n\n" + usageText() +
                                      "       tarnwick-nodesim --register | --unregister\n");
        return 2;
    }

    switch (line.mode) {
        case CommandLine::Mode::Help:
            writeTo(STD_OUTPUT_HANDLE, usageText() +
                                           "  --register     record this program as the node's COM server for "
                                           "this user\n  --unregister   remove that record\n");
            return 0;
        case CommandLine::Mode::Register:
        case CommandLine::Mode::Unregister: {
            if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
                complain("cannot start COM");
                return 1;
            }
            std::string summary;
            const std::string problem =
                line.mode == CommandLine::Mode::Register ? registerForUser(summary) : unregisterForUser(summary);
            CoUninitialize();
            if (!problem.empty()) {
                complain(problem);
                return 1;
            }
            writeTo(STD_OUTPUT_HANDLE, summary + "\n");
            return 0;
        }
        case CommandLine::Mode::Ctl: {
            const ControlOutcome outcome = runControl(line);
            writeTo(STD_OUTPUT_HANDLE, outcome.out);
            writeTo(STD_ERROR_HANDLE, outcome.err);
            return outcome.status;
        }
        case CommandLine::Mode::Run:
            break;
    }
    return serve(line, embedded, instance);
}
