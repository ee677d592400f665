// Tarnwick's side of its guardian on Windows (the guardian: src/guard/).
//
// start() runs tarnwick-guard.exe from beside this program with the read
// end of an anonymous pipe as its standard input; only this process holds
// the write end (not inheritable), so when this process ends, however it
// ends (TerminateProcess included), the guardian's read fails with a
// broken pipe. keyingChanged() writes one byte per change of the keying;
// the write end does not wait, so the window's thread never blocks on it.
#pragma once

#include "guard/keying_watch.h"
#include "platform/windows/win32_platform.h"

#include <functional>
#include <string>

namespace tarnwick {

class Win32Guardian : public KeyingObserver {
public:
    // `report` receives a problem with the guardian, once.
    explicit Win32Guardian(std::function<void(const std::string&)> report) : report_(std::move(report)) {}
    ~Win32Guardian() override;
    Win32Guardian(const Win32Guardian&) = delete;
    Win32Guardian& operator=(const Win32Guardian&) = delete;

    // Starts `program` (passing `logPath`, in the ANSI code page, for its
    // report) and waits up to a few seconds for it to say that it reads.
    // False, after reporting why, when it could not be started: the program
    // then runs without.
    bool start(const std::wstring& program, const std::string& logPath);

    // Writes the change to the guardian. A guardian that has gone or stopped
    // reading is reported once; nothing raises.
    void keyingChanged(bool keyed) override;

private:
    void problem(const std::string& text);

    std::function<void(const std::string&)> report_;
    HANDLE write_ = nullptr;
    bool reported_ = false;
};

// tarnwick-guard.exe in the folder of the running program.
std::wstring guardianProgramPath();

}  // namespace tarnwick
