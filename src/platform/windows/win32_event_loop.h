// The event loop of the Windows program: the thread's message loop.
//
// Window timers (SetTimer) tick no finer than 10 ms and drift; Timer1 runs
// at 10 ms and Timer3 at 1 ms. So the wake-up is one high-resolution
// waitable timer armed to the queue's next deadline. A small waker thread
// waits on it and posts one message to the loop's hidden window when it
// expires; the message runs the due timers on the loop thread. The waker
// runs no handler and touches no state but that timer: everything of the
// system still happens on the one loop thread.
//
// Because the wake-up is an ordinary posted message, any message loop of
// the thread delivers it: ours, and the ones that MessageBoxA,
// GetOpenFileNameA, a menu or a window drag run while they wait. The
// system's timers therefore keep ticking inside modal boxes, nested in the
// handler that opened the box (the wake-up is armed again before a tick
// handler runs, for the other timers). Posted functions travel the same
// way, one message each.
#pragma once

#include "platform/windows/win32_platform.h"
#include "seams/queued_event_loop.h"

namespace tarnwick {

class Win32EventLoop : public QueuedEventLoop {
public:
    // Creates the hidden window, the waitable timer and the waker thread,
    // and asks the system for 1 ms timer resolution. Must be made on the
    // thread that runs the loop (the thread of the program's windows).
    // Raises std::runtime_error when the window or the timer cannot be made.
    Win32EventLoop();
    ~Win32EventLoop() override;

    // Nanoseconds from the performance counter (monotonic).
    MonoTime now() const override;

    // The message loop: GetMessageA, dialog keys, TranslateMessage,
    // DispatchMessageA. Returns only on WM_QUIT; the program's own way out
    // is endProgram().
    void run() override;

    // TerminateProcess: not even the DLLs' detach code runs after it.
    [[noreturn]] void endProgram(int status) override;

    // The hidden window that receives the wake-ups and posted functions.
    HWND messageWindow() const { return window_; }

    // One message as the loop handles it (dialog keys, translate, dispatch).
    static void dispatch(MSG& msg);

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI wakerMain(void* self);
    void wake(std::optional<MonoTime> deadline) override;
    void handOverPosted() override;
    // Dispatches the messages that are in the queue now (input, paint,
    // posted functions, COM calls), for at most a few tens of milliseconds
    // so that a flood cannot hold the caller. A WM_QUIT met on the way is
    // put back for run().
    void pumpPending() override;
    void postWake();

    LARGE_INTEGER frequency_{};
    HWND window_ = nullptr;
    HANDLE timer_ = nullptr;
    HANDLE stop_ = nullptr;
    HANDLE waker_ = nullptr;
    bool highResolution_ = false;
    bool periodRaised_ = false;
    // Set while a wake-up message is in the queue, so that at most one is.
    volatile LONG wakePending_ = 0;
};

}  // namespace tarnwick
