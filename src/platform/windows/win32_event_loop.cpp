#include "platform/windows/win32_event_loop.h"

#include <mmsystem.h>

#include <cstdio>
#include <stdexcept>

namespace tarnwick {

namespace {

constexpr const char* kLoopWindowClass = "TarnwickLoopWindow";
constexpr UINT kWakeMessage = WM_APP + 1;
constexpr UINT kPostedMessage = WM_APP + 2;
// How long processPendingEvents() dispatches before it returns anyway.
constexpr LONGLONG kPendingBudgetMs = 50;

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

void registerLoopClass(HINSTANCE instance, WNDPROC proc) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.lpszClassName = kLoopWindowClass;
    // A second loop in the same process (tests) finds the class registered.
    if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw std::runtime_error("cannot register the loop's window class: " + win32::errorText(GetLastError()));
    }
}

}  // namespace

Win32EventLoop::Win32EventLoop() {
    QueryPerformanceFrequency(&frequency_);
    // Waitable timers and waits follow the system's timer resolution, which
    // is 15.6 ms unless a program asks for better.
    periodRaised_ = timeBeginPeriod(1) == TIMERR_NOERROR;

    HINSTANCE instance = GetModuleHandleA(nullptr);
    registerLoopClass(instance, &Win32EventLoop::windowProc);
    window_ = CreateWindowExA(0, kLoopWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (window_ == nullptr) {
        throw std::runtime_error("cannot create the loop's window: " + win32::errorText(GetLastError()));
    }
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    // Windows 10 1803 and later have high-resolution timers; elsewhere the
    // 1 ms period above gives the ordinary kind the same grain.
    timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    highResolution_ = timer_ != nullptr;
    if (timer_ == nullptr) timer_ = CreateWaitableTimerW(nullptr, FALSE, nullptr);
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (timer_ == nullptr || stop_ == nullptr) {
        throw std::runtime_error("cannot create the loop's timer: " + win32::errorText(GetLastError()));
    }
    waker_ = CreateThread(nullptr, 0, &Win32EventLoop::wakerMain, this, 0, nullptr);
    if (waker_ == nullptr) {
        throw std::runtime_error("cannot start the loop's waker: " + win32::errorText(GetLastError()));
    }
}

Win32EventLoop::~Win32EventLoop() {
    if (waker_ != nullptr) {
        SetEvent(stop_);
        WaitForSingleObject(waker_, INFINITE);
        CloseHandle(waker_);
    }
    if (stop_ != nullptr) CloseHandle(stop_);
    if (timer_ != nullptr) CloseHandle(timer_);
    if (window_ != nullptr) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
    if (periodRaised_) timeEndPeriod(1);
}

DWORD WINAPI Win32EventLoop::wakerMain(void* self) {
    auto* loop = static_cast<Win32EventLoop*>(self);
    const HANDLE handles[2] = {loop->stop_, loop->timer_};
    for (;;) {
        const DWORD which = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (which != WAIT_OBJECT_0 + 1) return 0;
        loop->postWake();
    }
}

void Win32EventLoop::postWake() {
    // Called by the waker thread and the loop thread; the flag keeps the
    // queue to one wake-up message however often the timer expires.
    if (InterlockedExchange(&wakePending_, 1) == 0) {
        if (!PostMessageA(window_, kWakeMessage, 0, 0)) InterlockedExchange(&wakePending_, 0);
    }
}

MonoTime Win32EventLoop::now() const {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    // Split to keep the product inside 64 bits for years of uptime.
    const LONGLONG f = frequency_.QuadPart;
    const LONGLONG seconds = counter.QuadPart / f;
    const LONGLONG rest = counter.QuadPart % f;
    return MonoTime(seconds * 1000000000LL + rest * 1000000000LL / f);
}

void Win32EventLoop::handOverPosted() { PostMessageA(window_, kPostedMessage, 0, 0); }

void Win32EventLoop::dispatch(MSG& msg) {
    // Our own windows get the dialog keyboard: Tab moves between controls,
    // Space presses a button, as users expect in a form.
    HWND root = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && GetPropA(root, win32::kDialogKeysProperty) != nullptr && IsDialogMessageA(root, &msg)) {
        return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

void Win32EventLoop::pumpPending() {
    const LONGLONG start = GetTickCount64();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        dispatch(msg);
        if (static_cast<LONGLONG>(GetTickCount64()) - start > kPendingBudgetMs) break;
    }
}

void Win32EventLoop::run() {
    MSG msg;
    for (;;) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) return;
        dispatch(msg);
    }
}

void Win32EventLoop::endProgram(int status) {
    std::fflush(nullptr);
    // TerminateProcess, not ExitProcess: ExitProcess would still run the
    // DLLs' detach code and the runtime's exit handlers, and with them
    // destructors of this program's objects.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    ExitProcess(static_cast<UINT>(status));
}

void Win32EventLoop::wake(std::optional<MonoTime> deadline) {
    if (!deadline) {
        CancelWaitableTimer(timer_);
        return;
    }
    const MonoTime wait = *deadline - now();
    if (wait.count() <= 0) {
        CancelWaitableTimer(timer_);
        postWake();
        return;
    }
    // Relative due times are negative, in 100 ns units; round up, since
    // waking early would find nothing due.
    LARGE_INTEGER due;
    due.QuadPart = -((wait.count() + 99) / 100);
    SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE);
}

LRESULT CALLBACK Win32EventLoop::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* loop = reinterpret_cast<Win32EventLoop*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (loop != nullptr) {
        switch (message) {
            case kWakeMessage:
                InterlockedExchange(&loop->wakePending_, 0);
                loop->fireDue();
                return 0;
            case kPostedMessage:
                loop->runOnePosted();
                return 0;
            default:
                break;
        }
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace tarnwick
