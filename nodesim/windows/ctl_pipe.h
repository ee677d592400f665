// --ctl on Windows: the commands reach the running stand-in through a named
// pipe of the session, one request and one answer each.
//
//   request  "dtmf 1234" | "rx 1" | "busy-a 0" | "busy-b 1" | "fail SetPtt"
//            | "stall 3000" | "close" | "vanish" | "state"
//   answer   "ok", "ok <text>" (state) or "error <sentence>"
//
// The pipe also keeps a second stand-in from starting in the same session:
// it is created for the first instance only. A helper thread serves it; the
// commands themselves run on the loop thread, as ordinary posted messages,
// so that the events they raise go out from there.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <functional>
#include <string>

#include "nodesim/options.h"

namespace tarnwick::nodesim {

// \\.\pipe\tarnwick-nodesim-<session id>
std::wstring controlPipeName();

class ControlServer {
public:
    // `handle` answers one request line; it runs on the thread that calls
    // start(), from its message loop.
    explicit ControlServer(std::function<std::string(const std::string&)> handle);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Claims the pipe: from here on no second stand-in starts in this
    // session. Returns an empty string, or a sentence saying why not
    // (another stand-in runs here).
    std::string claim();
    // Starts answering --ctl, after claim(). A stand-in claims first and
    // answers last, so that a --ctl that succeeds finds it complete.
    std::string start();
    // Stops serving and waits for the helper thread. Safe to call again.
    void stop();
    // Called from `handle`: once the answer to the request being handled
    // has reached the caller (at most a few seconds), the process ends, and
    // the loop thread runs nothing in between.
    void endProcessAfterAnswer() { endAfterAnswer_ = true; }

    // How long a request may take on the loop thread before the caller is
    // told that the stand-in is busy.
    static constexpr DWORD kAnswerLimitMs = 5000;

private:
    struct Request;
    static DWORD WINAPI serve(void* self);
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void serveOne();

    std::function<std::string(const std::string&)> handle_;
    HWND window_ = nullptr;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE stop_ = nullptr;
    HANDLE io_ = nullptr;
    HANDLE thread_ = nullptr;
    bool endAfterAnswer_ = false;
};

// The request line of a --ctl command line.
std::string controlRequest(const CommandLine& line);

struct ControlOutcome {
    int status = 0;   // the program's exit status
    std::string out;  // for standard output (state), with its line break
    std::string err;  // for standard error, with its line break
};
// Sends the command to the running stand-in. Status 1 with a message when
// none runs or it does not answer in time.
ControlOutcome runControl(const CommandLine& line);

}  // namespace tarnwick::nodesim
