#include "windows/win_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

namespace tarnwick::testing {

bool pumpUntil(const std::function<bool()>& done, DWORD guardMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (done()) return true;
        }
        if (done()) return true;
        if (GetTickCount64() - start > guardMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

TempDir::TempDir() {
    char base[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, base);
    static unsigned counter = 0;
    do {
        path_ = base + ("tarnwick-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter));
    } while (!CreateDirectoryA(path_.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

HWND findDialog(const char* title) {
    std::pair<const char*, HWND> search{title, nullptr};
    struct Each {
        static BOOL CALLBACK window(HWND hwnd, LPARAM data) {
            auto* s = reinterpret_cast<std::pair<const char*, HWND>*>(data);
            if (win32::className(hwnd) != "#32770" || win32::windowText(hwnd) != s->first) return TRUE;
            s->second = hwnd;
            return FALSE;
        }
    };
    EnumThreadWindows(GetCurrentThreadId(), &Each::window, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

ModalWatchdog::ModalWatchdog() {
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    watcher_ = CreateThread(nullptr, 0, &ModalWatchdog::watch, this, 0, nullptr);
}

ModalWatchdog::~ModalWatchdog() {
    SetEvent(stop_);
    WaitForSingleObject(watcher_, INFINITE);
    CloseHandle(watcher_);
    CloseHandle(stop_);
}

DWORD WINAPI ModalWatchdog::watch(void* self) {
    auto* dog = static_cast<ModalWatchdog*>(self);
    if (WaitForSingleObject(dog->stop_, kHangGuardMs) != WAIT_TIMEOUT) return 0;
    do {
        struct Each {
            static BOOL CALLBACK window(HWND hwnd, LPARAM) {
                if (win32::className(hwnd) == "#32770") {
                    const int button = GetDlgItem(hwnd, IDCANCEL) != nullptr ? IDCANCEL : IDOK;
                    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                }
                return TRUE;
            }
        };
        EnumThreadWindows(dog->thread_, &Each::window, 0);
    } while (WaitForSingleObject(dog->stop_, 200) == WAIT_TIMEOUT);
    return 0;
}

bool underWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string windowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string out = "Z:" + path;
    for (char& c : out) {
        if (c == '/') c = '\\';
    }
    return out;
}

std::string runProgram(const std::string& commandLine, DWORD& exitCode, bool withStderr) {
    exitCode = 0xFFFFFFFF;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return {};
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = withStderr ? writeEnd : GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::string line = commandLine;
    const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    std::string out;
    auto drain = [&] {
        char buffer[512];
        DWORD ready = 0, got = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &ready, nullptr) && ready > 0 &&
               ReadFile(readEnd, buffer, ready < sizeof buffer ? ready : sizeof buffer, &got, nullptr) && got > 0)
            out.append(buffer, got);
    };
    if (started) {
        // Read while it runs: the pipe holds only so much.
        const ULONGLONG until = GetTickCount64() + kHangGuardMs;
        while (WaitForSingleObject(pi.hProcess, 10) == WAIT_TIMEOUT) {
            drain();
            if (GetTickCount64() > until) TerminateProcess(pi.hProcess, 99);
        }
        drain();
        GetExitCodeProcess(pi.hProcess, &exitCode);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(readEnd);
    return out;
}

std::string runSelf(const std::string& argument, DWORD& exitCode) {
    char self[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    return runProgram(quoted(self) + " " + argument, exitCode);
}

}  // namespace tarnwick::testing
