// tarnwick-guard.exe: started by tarnwick.exe, never by hand.
//
//   tarnwick-guard.exe --ready HANDLE --parent PID [--log FILE]
//
// Its standard input is the read end of an anonymous pipe whose write end
// only Tarnwick holds: Tarnwick writes a byte per change of its keying, and
// a broken pipe means Tarnwick's process has gone. HANDLE is an inherited
// event it sets once it is reading. It reaches the node through the same
// COM client as Tarnwick, and only after that end. What it did goes to
// stderr and, with --log, to the end of that file.
#include <objbase.h>
#include <shellapi.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>

#include "guard/guard_log.h"
#include "guard/guardian.h"
#include "platform/windows/com_node.h"
#include "platform/windows/win32_platform.h"

namespace {

using namespace tarnwick;

// Standard input, read a block at a time.
class PipeFeed : public guard::KeyingFeed {
public:
    explicit PipeFeed(HANDLE pipe) : pipe_(pipe) {}

    std::optional<char> next() override {
        while (at_ == filled_) {
            DWORD n = 0;
            // A broken pipe (Tarnwick's end closed) or any other failure:
            // either way Tarnwick's side is gone.
            if (!ReadFile(pipe_, buffer_, sizeof buffer_, &n, nullptr)) return std::nullopt;
            at_ = 0;
            filled_ = n;
        }
        return buffer_[at_++];
    }

private:
    HANDLE pipe_;
    char buffer_[64];
    DWORD at_ = 0, filled_ = 0;
};

class NoEvents : public NodeEvents {
public:
    void DTMFString(const std::string&) override {}
    void Closing() override {}
};

std::string ansi(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

void complain(const char* text) {
    DWORD written = 0;
    HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
    if (errors != nullptr && errors != INVALID_HANDLE_VALUE) {
        WriteFile(errors, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    HANDLE ready = nullptr;
    std::string parent = "?", logPath;
    for (int i = 1; argv != nullptr && i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        if (option == L"--ready") {
            ready = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::wcstoull(argv[i + 1], nullptr, 10)));
        } else if (option == L"--parent") {
            parent = ansi(argv[i + 1]);
        } else if (option == L"--log") {
            logPath = ansi(argv[i + 1]);
        }
    }
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    if (ready == nullptr || in == nullptr || in == INVALID_HANDLE_VALUE || GetFileType(in) != FILE_TYPE_PIPE) {
        complain("tarnwick-guard: tarnwick.exe starts its guardian itself; it is not run by hand\r\n");
        return 2;
    }
    SetEvent(ready);
    CloseHandle(ready);

    PipeFeed feed(in);
    if (!guard::endedKeyed(feed)) return 0;

    // COM only now: the idle guardian is a blocked read and nothing more.
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    NoEvents events;
    ComNodeConnector connector;
    guard::NodeAccess access{
        [&] { return connector.create(events); },
        [] { return std::chrono::steady_clock::now(); },
        [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); },
        [&](const std::string& text) { guard::reportLine(logPath, "Guardian: " + text); },
        nullptr,
    };
    const bool done = guard::makeNodeSafe(access, "Tarnwick (process " + parent + ")").done();
    // The link's worker may still wait on a node that never answered: end
    // without waiting for it.
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), done ? 0 : 1);
    return done ? 0 : 1;
}
