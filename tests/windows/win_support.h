// Helpers shared by the Windows test programs (run under Wine on a private
// display).
#pragma once

#include <functional>
#include <string>
#include <thread>

#include "platform/windows/win32_platform.h"

namespace tarnwick::testing {

// How long a test waits for something that should take milliseconds: a
// hang guard, not a timing goal.
inline constexpr DWORD kHangGuardMs = 20000;

// Dispatches the thread's messages until `done` holds or the guard expires;
// returns whether `done` held.
bool pumpUntil(const std::function<bool()>& done, DWORD guardMs = kHangGuardMs);

// A fresh folder under %TEMP%, removed with its files at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;  // each owns its folder, removed once
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// Whole files, byte for byte ("" for a missing file).
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
bool fileExists(const std::string& path);

// The dialog or message box of this thread with this title, or nullptr.
HWND findDialog(const char* title);
// Clicks a dialog's button, as the user would.
inline void press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Once the hang guard has expired, answers every dialog still open on this
// thread (Cancel, else OK), so that a box nobody answers fails the test
// instead of hanging it.
class ModalWatchdog {
public:
    ModalWatchdog();
    ~ModalWatchdog();

private:
    HANDLE stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread watcher_;
};

bool underWine();
// A Unix path of the build as a Windows path (Z:\...); others unchanged.
std::string windowsPath(const std::string& path);
inline std::string quoted(const std::string& s) { return "\"" + s + "\""; }

// Runs `commandLine`, returns its standard output (and error, when
// `withStderr`) and its exit status; one that outlives the guard is ended.
std::string runProgram(const std::string& commandLine, DWORD& exitCode, bool withStderr = false);

}  // namespace tarnwick::testing
