// Helpers shared by the Windows shell tests (tarnwick_win_tests.exe, run
// under Wine on a private display).
#pragma once

#include <functional>
#include <string>

#include "platform/windows/win32_platform.h"

namespace tarnwick::testing {

// How long a test waits for something that should happen within
// milliseconds before it gives up. A hang guard, not a timing goal.
inline constexpr DWORD kHangGuardMs = 20000;

// Dispatches the thread's messages until `done` holds or the hang guard
// expires; returns whether `done` held.
bool pumpUntil(const std::function<bool()>& done, DWORD guardMs = kHangGuardMs);

// A fresh folder under %TEMP%, removed with its files at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
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

// A top-level window of this thread with this class and title (nullptr
// matches any title), or nullptr.
HWND findThreadWindow(const char* className, const char* title);

// Once the hang guard has expired, answers every message box and dialog
// still open on this thread (Cancel, or OK where there is no Cancel), so
// that a test whose box is never answered fails instead of hanging. Lives
// for one test; a helper thread does the waiting.
class ModalWatchdog {
public:
    ModalWatchdog();
    ~ModalWatchdog();
    ModalWatchdog(const ModalWatchdog&) = delete;
    ModalWatchdog& operator=(const ModalWatchdog&) = delete;

private:
    static DWORD WINAPI watch(void* self);
    DWORD thread_ = GetCurrentThreadId();
    HANDLE stop_ = nullptr;
    HANDLE watcher_ = nullptr;
};

// Whether the tests run under Wine (some cases use its Unix drive).
bool underWine();

// A Unix path of the build as a Windows path (Z:\...), for files the build
// made; a Windows path is returned as it is.
std::string windowsPath(const std::string& path);

// Runs this test program again with `argument` and returns what it wrote to
// its standard output; `exitCode` gets its exit status.
std::string runSelf(const std::string& argument, DWORD& exitCode);

// The child side of the endProgram test (win32_event_loop_test.cpp).
inline constexpr const char* kEndProgramChildFlag = "--end-program-child";
int runEndProgramChild();

}  // namespace tarnwick::testing
