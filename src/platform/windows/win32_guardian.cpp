#include "platform/windows/win32_guardian.h"

#include "guard/guardian.h"

#include <cstdint>
#include <vector>

namespace tarnwick {

namespace {

// How long start-up waits for the guardian to say that it reads.
constexpr DWORD kReadyTimeoutMs = 5000;

std::string ansiFromWide(const std::wstring& text) {
    if (text.empty()) return {};
    const int n =
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring handleText(HANDLE h) { return std::to_wstring(reinterpret_cast<std::uintptr_t>(h)); }

// An inheritable copy of `h` for the child, or nullptr.
HANDLE inheritable(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

void closeIf(HANDLE& h) {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = nullptr;
}

}  // namespace

Win32Guardian::~Win32Guardian() { closeIf(write_); }

void Win32Guardian::problem(const std::string& text) {
    if (reported_) return;
    reported_ = true;
    if (report_) report_(text);
}

bool Win32Guardian::start(const std::wstring& program, const std::string& logPath) {
    const std::string name = ansiFromWide(program);
    const std::string consequence = "; a crash while keyed would leave the node keyed";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0)) {
        problem("Tarnwick could not start its guardian (no pipe: " + win32::errorText(GetLastError()) + ")" +
                consequence);
        return false;
    }
    // Only the guardian may hold the read end; only this process the write
    // end, or the guardian would never see it close.
    SetHandleInformation(write, HANDLE_FLAG_INHERIT, 0);
    // A write that finds the pipe full returns at once instead of waiting.
    DWORD mode = PIPE_NOWAIT;
    SetNamedPipeHandleState(write, &mode, nullptr, nullptr);
    HANDLE ready = CreateEventW(&inherit, TRUE, FALSE, nullptr);
    HANDLE errors = inheritable(GetStdHandle(STD_ERROR_HANDLE));

    std::wstring commandLine = L"\"" + program + L"\" --ready " + handleText(ready) + L" --parent " +
                               std::to_wstring(GetCurrentProcessId()) + L" --log \"" + win32::wideFromAnsi(logPath) +
                               L"\"";
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = read;
    startup.hStdOutput = errors;
    startup.hStdError = errors;
    PROCESS_INFORMATION process{};
    // Out of Tarnwick's job, where that is allowed: a job that ends its
    // processes together would end the guardian with Tarnwick.
    BOOL created = ready != nullptr && CreateProcessW(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE,
                                                      CREATE_BREAKAWAY_FROM_JOB, nullptr, nullptr, &startup, &process);
    if (!created && ready != nullptr) {
        created = CreateProcessW(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                 &startup, &process);
    }
    const DWORD createError = GetLastError();
    closeIf(read);
    closeIf(errors);
    if (!created) {
        closeIf(ready);
        closeIf(write);
        problem("Tarnwick could not start its guardian " + name + " (" + win32::errorText(createError) + ")" +
                consequence);
        return false;
    }
    CloseHandle(process.hThread);

    const HANDLE waits[2] = {ready, process.hProcess};
    const DWORD which = WaitForMultipleObjects(2, waits, FALSE, kReadyTimeoutMs);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    closeIf(ready);
    if (which == WAIT_OBJECT_0) {
        write_ = write;
        return true;
    }
    if (which == WAIT_TIMEOUT) {
        // Slow, not gone: keep the pipe, it may still come up.
        write_ = write;
        problem("Tarnwick's guardian " + name + " did not answer within " + std::to_string(kReadyTimeoutMs / 1000) +
                " s; it may not guard the node");
        return false;
    }
    closeIf(write);
    problem("Tarnwick could not start its guardian " + name + " (it ended at once with status " +
            std::to_string(exitCode) + ")" + consequence);
    return false;
}

void Win32Guardian::keyingChanged(bool keyed) {
    if (write_ == nullptr) return;
    const char word = keyed ? guard::kKeyed : guard::kUnkeyed;
    DWORD written = 0;
    const BOOL wrote = WriteFile(write_, &word, 1, &written, nullptr);
    if (wrote && written == 1) return;
    const std::string why = wrote ? "it stopped reading" : win32::errorText(GetLastError());
    problem("Tarnwick's guardian no longer listens (" + why + "); a crash while keyed would leave the node keyed");
}

std::wstring guardianProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return L"tarnwick-guard.exe";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const auto slash = path.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) + L"tarnwick-guard.exe";
}

}  // namespace tarnwick
