#include "windows/win_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>

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
    static unsigned counter = 0;
    do {
        path_ = (std::filesystem::temp_directory_path() /
                 ("tarnwick-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter)))
                    .string();
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
    HWND found = FindWindowA("#32770", title);  // the class of message boxes and dialogs
    return found != nullptr && GetWindowThreadProcessId(found, nullptr) == GetCurrentThreadId() ? found : nullptr;
}

ModalWatchdog::ModalWatchdog()
    : watcher_([this, thread = GetCurrentThreadId()] {
          for (DWORD wait = kHangGuardMs; WaitForSingleObject(stop_, wait) == WAIT_TIMEOUT; wait = 200) {
              EnumThreadWindows(
                  thread,
                  [](HWND hwnd, LPARAM) -> BOOL {
                      if (win32::className(hwnd) == "#32770") press(hwnd, GetDlgItem(hwnd, IDCANCEL) ? IDCANCEL : IDOK);
                      return TRUE;
                  },
                  0);
          }
      }) {}

ModalWatchdog::~ModalWatchdog() {
    SetEvent(stop_);
    watcher_.join();
    CloseHandle(stop_);
}

bool underWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string windowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string out = "Z:" + path;
    for (char& c : out) c = c == '/' ? '\\' : c;
    return out;
}

std::string runProgram(const std::string& commandLine, DWORD& exitCode, bool withStderr) {
    // The output goes to a file, which unlike a pipe never fills.
    TempDir dir;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(dir.file("out").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = withStderr ? out : GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::string line = commandLine;
    exitCode = 0xFFFFFFFF;
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        if (WaitForSingleObject(pi.hProcess, kHangGuardMs) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &exitCode);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(out);
    return readFile(dir.file("out"));
}

}  // namespace tarnwick::testing
