#include "nodesim/windows/ctl_pipe.h"

#include <atomic>
#include <vector>

#include "nodesim/windows/win_text.h"

namespace tarnwick::nodesim {

namespace {

constexpr const wchar_t* kWindowClass = L"TarnwickNodeSimControl";
constexpr UINT kRequestMessage = WM_APP + 40;
constexpr DWORD kBufferSize = 4096;
constexpr DWORD kIoLimitMs = 2000;
// A client waits for the stand-in's answer a little longer than the
// stand-in waits for its loop thread.
constexpr DWORD kClientLimitMs = ControlServer::kAnswerLimitMs + 2000;

enum class Io { Done, More, Failed };

// Finishes an overlapped read, write or connect within `limitMs`, or
// cancels it; `stop` (optional) cancels it at once when set. More: a
// message-mode read got part of a message.
Io finishIo(HANDLE handle, OVERLAPPED& ov, BOOL started, DWORD& transferred, DWORD limitMs, HANDLE stop) {
    transferred = 0;
    if (!started) {
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED) return Io::Done;
        if (error == ERROR_IO_PENDING) {
            HANDLE waits[2] = {ov.hEvent, stop};
            if (WaitForMultipleObjects(stop != nullptr ? 2 : 1, waits, FALSE, limitMs) != WAIT_OBJECT_0) {
                CancelIo(handle);
                GetOverlappedResult(handle, &ov, &transferred, TRUE);
                return Io::Failed;
            }
        } else if (error != ERROR_MORE_DATA) {
            return Io::Failed;
        }
    }
    if (GetOverlappedResult(handle, &ov, &transferred, FALSE)) return Io::Done;
    return GetLastError() == ERROR_MORE_DATA ? Io::More : Io::Failed;
}

bool writeAll(HANDLE handle, HANDLE event, const std::string& text, HANDLE stop) {
    OVERLAPPED ov{};
    ov.hEvent = event;
    ResetEvent(event);
    DWORD written = 0;
    const BOOL started = WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), nullptr, &ov);
    return finishIo(handle, ov, started, written, kIoLimitMs, stop) == Io::Done && written == text.size();
}

// One whole message (a message-mode pipe may hand it out in parts).
bool readMessage(HANDLE handle, HANDLE event, std::string& text, DWORD limitMs, HANDLE stop) {
    text.clear();
    std::vector<char> buffer(kBufferSize);
    for (;;) {
        OVERLAPPED ov{};
        ov.hEvent = event;
        ResetEvent(event);
        DWORD got = 0;
        const BOOL started = ReadFile(handle, buffer.data(), kBufferSize, nullptr, &ov);
        const Io result = finishIo(handle, ov, started, got, limitMs, stop);
        if (result == Io::Failed) return false;
        text.append(buffer.data(), got);
        if (result == Io::Done) return true;
        if (text.size() > 64 * 1024) return false;
    }
}

}  // namespace

std::wstring controlPipeName() {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return L"\\\\.\\pipe\\tarnwick-nodesim-" + std::to_wstring(session);
}

// Shared by the helper thread and the loop thread; whichever lets go last
// frees it, so that a request the loop answers too late is still safe.
struct ControlServer::Request {
    std::string text;
    std::string answer;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE written = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // the answer has gone, or never will
    std::atomic<int> holders{2};

    void release() {
        if (--holders == 0) {
            CloseHandle(done);
            CloseHandle(written);
            delete this;
        }
    }
};

ControlServer::ControlServer(std::function<std::string(const std::string&)> handle) : handle_(std::move(handle)) {}

ControlServer::~ControlServer() { stop(); }

std::string ControlServer::claim() {
    const std::wstring name = controlPipeName();
    pipe_ = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                             kBufferSize, kBufferSize, 0, nullptr);
    if (pipe_ == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY) {
            return "another stand-in node already runs in this session (" + utf8FromWide(name) + " is taken)";
        }
        return "cannot create the control pipe " + utf8FromWide(name) + ": " + errorText(error);
    }

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &ControlServer::windowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return "cannot register the control window class: " + errorText(GetLastError());
    }
    window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (window_ == nullptr) return "cannot create the control window: " + errorText(GetLastError());
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return {};
}

std::string ControlServer::start() {
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    io_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &ControlServer::serve, this, 0, nullptr);
    if (thread_ == nullptr) return "cannot start the control thread: " + errorText(GetLastError());
    return {};
}

void ControlServer::stop() {
    if (thread_ != nullptr) {
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    if (window_ != nullptr) {
        // Requests still queued for the window are answered by nobody; their
        // helper side has let go of them after its wait.
        MSG msg;
        while (PeekMessageW(&msg, window_, kRequestMessage, kRequestMessage, PM_REMOVE)) {
            reinterpret_cast<Request*>(msg.lParam)->release();
        }
        DestroyWindow(window_);
        window_ = nullptr;
    }
    if (pipe_ != INVALID_HANDLE_VALUE) {
        CloseHandle(pipe_);
        pipe_ = INVALID_HANDLE_VALUE;
    }
    if (io_ != nullptr) CloseHandle(io_);
    if (stop_ != nullptr) CloseHandle(stop_);
    io_ = stop_ = nullptr;
}

DWORD WINAPI ControlServer::serve(void* self) {
    auto* server = static_cast<ControlServer*>(self);
    while (WaitForSingleObject(server->stop_, 0) == WAIT_TIMEOUT) server->serveOne();
    return 0;
}

void ControlServer::serveOne() {
    OVERLAPPED ov{};
    ov.hEvent = io_;
    ResetEvent(io_);
    DWORD unused = 0;
    const BOOL started = ConnectNamedPipe(pipe_, &ov);
    if (finishIo(pipe_, ov, started, unused, INFINITE, stop_) != Io::Done) {
        DisconnectNamedPipe(pipe_);
        // A failed connect that is not the stop: do not spin on it.
        if (WaitForSingleObject(stop_, 0) == WAIT_TIMEOUT) Sleep(20);
        return;
    }
    std::string text;
    if (readMessage(pipe_, io_, text, kIoLimitMs, stop_)) {
        auto* request = new Request;
        request->text = text;
        std::string answer = "error the stand-in's loop did not take the command in time";
        if (PostMessageW(window_, kRequestMessage, 0, reinterpret_cast<LPARAM>(request))) {
            HANDLE waits[2] = {request->done, stop_};
            if (WaitForMultipleObjects(2, waits, FALSE, kAnswerLimitMs) == WAIT_OBJECT_0) answer = request->answer;
        } else {
            request->release();  // the loop's share: the message never went
        }
        writeAll(pipe_, io_, answer, stop_);
        FlushFileBuffers(pipe_);
        SetEvent(request->written);
        request->release();
    }
    DisconnectNamedPipe(pipe_);
}

LRESULT CALLBACK ControlServer::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRequestMessage) {
        auto* server = reinterpret_cast<ControlServer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        auto* request = reinterpret_cast<Request*>(lParam);
        request->answer = server != nullptr ? server->handle_(request->text) : "error the stand-in is ending";
        SetEvent(request->done);
        if (server != nullptr && server->endAfterAnswer_) {
            // Nothing else runs on this thread from here: the process ends
            // once the caller has its answer (FlushFileBuffers waits for it
            // to be read), or after the time a write may take.
            WaitForSingleObject(request->written, kAnswerLimitMs + kIoLimitMs);
            ExitProcess(0);
        }
        request->release();
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

std::string controlRequest(const CommandLine& line) {
    switch (line.ctl) {
        case CtlCommand::Dtmf:
            return "dtmf " + line.ctlText;
        case CtlCommand::Rx:
            return std::string("rx ") + (line.ctlSwitch ? "1" : "0");
        case CtlCommand::BusyA:
            return std::string("busy-a ") + (line.ctlSwitch ? "1" : "0");
        case CtlCommand::BusyB:
            return std::string("busy-b ") + (line.ctlSwitch ? "1" : "0");
        case CtlCommand::Fail:
            return std::string("fail ") + operationName(line.ctlOperation);
        case CtlCommand::Stall:
            return "stall " + std::to_string(line.ctlMs);
        case CtlCommand::Close:
            return "close";
        case CtlCommand::Vanish:
            return "vanish";
        case CtlCommand::State:
            return "state";
    }
    return "state";
}

ControlOutcome runControl(const CommandLine& line) {
    const std::wstring name = controlPipeName();
    const std::string request = controlRequest(line);
    ControlOutcome outcome;
    auto fail = [&outcome](const std::string& text) {
        outcome.status = 1;
        outcome.err = "tarnwick-nodesim: " + text + "\n";
        return outcome;
    };

    HANDLE pipe = INVALID_HANDLE_VALUE;
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                           nullptr);
        if (pipe != INVALID_HANDLE_VALUE) break;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return fail("no stand-in node runs in this session (nothing listens on " + utf8FromWide(name) + ")");
        }
        // Busy with another client: wait for the one instance to be free.
        if (error != ERROR_PIPE_BUSY || GetTickCount64() - start > kClientLimitMs) {
            return fail("cannot reach the stand-in node on " + utf8FromWide(name) + ": " + errorText(error));
        }
        WaitNamedPipeW(name.c_str(), 200);
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::string answer;
    const bool ok =
        writeAll(pipe, event, request, nullptr) && readMessage(pipe, event, answer, kClientLimitMs, nullptr);
    CloseHandle(event);
    CloseHandle(pipe);
    if (!ok) return fail("the stand-in node did not answer the command \"" + request + "\"");

    if (answer.rfind("ok", 0) == 0) {
        if (line.ctl == CtlCommand::State) outcome.out = (answer.size() > 3 ? answer.substr(3) : std::string()) + "\n";
        return outcome;
    }
    return fail("the stand-in node refused the command: " +
                (answer.rfind("error ", 0) == 0 ? answer.substr(6) : answer));
}

}  // namespace tarnwick::nodesim
