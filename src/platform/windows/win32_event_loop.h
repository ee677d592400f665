// The event loop of the Windows program: the thread's message loop, with the
// system's timers kept in a TimerQueue so that their cadence, order and
// catch-up rules are the same as on every other loop.
//
// Window timers (SetTimer) tick no finer than 10 ms and drift; Timer1 runs
// at 10 ms and Timer3 at 1 ms. So the wake-ups come from one high-resolution
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
// handler that opened the box. Before a tick handler runs, the timer is
// armed again for the other timers, since the handler may open such a box.
#pragma once

#include <deque>
#include <functional>

#include "platform/event_loop.h"
#include "platform/timer_queue.h"
#include "platform/windows/win32_platform.h"

namespace tarnwick {

class Win32EventLoop : public EventLoop {
public:
    // Creates the hidden window, the waitable timer and the waker thread,
    // and asks the system for 1 ms timer resolution. Must be made on the
    // thread that runs the loop (the thread of the program's windows).
    // Raises std::runtime_error when the window or the timer cannot be made.
    Win32EventLoop();
    ~Win32EventLoop() override;
    Win32EventLoop(const Win32EventLoop&) = delete;
    Win32EventLoop& operator=(const Win32EventLoop&) = delete;

    // Nanoseconds from the performance counter (monotonic).
    MonoTime now() const override;

    // Both re-arm the wake-up; they may be called from inside a tick.
    TimerId addTimer(std::chrono::milliseconds interval, std::function<void()> tick) override;
    void removeTimer(TimerId id) override;

    // Runs `fn` from the thread's message queue, after the messages already
    // in it, in the order of the calls.
    void post(std::function<void()> fn) override;

    // Dispatches the messages that are in the queue now (input, paint,
    // posted functions, COM calls), for at most a few tens of milliseconds
    // so that a flood cannot hold the caller, then runs every timer that is
    // due. A WM_QUIT met on the way is put back for run().
    void processPendingEvents() override;

    // The message loop: GetMessageA, dialog keys, TranslateMessage,
    // DispatchMessageA. Returns only on WM_QUIT; the program's own way out
    // is endProgram().
    void run() override;

    // Flushes stdio and terminates the process with `status` at once: no
    // handler, atexit function, destructor or DLL detach code runs after it.
    [[noreturn]] void endProgram(int status) override;

    // The hidden window that receives the wake-ups and posted functions.
    HWND messageWindow() const { return window_; }

    // One message as the loop handles it (dialog keys, translate, dispatch).
    static void dispatch(MSG& msg);

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI wakerMain(void* self);
    void fireDue();
    void rearm();
    void postWake();
    void runOnePosted();

    TimerQueue queue_;
    std::deque<std::function<void()>> posted_;
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
