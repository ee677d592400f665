#include "windows/com_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/windows/com_node.h"

namespace tarnwick::testing {

std::string nodesimPath() { return windowsPath(NODESIM_EXE_PATH); }

std::string quotedPath(const std::string& path) {
    std::string quoted(1, '"');
    quoted += path;
    quoted += '"';
    return quoted;
}

std::string runProgram(const std::string& program, const std::string& arguments, DWORD& exitCode) {
    exitCode = 0xFFFFFFFF;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return {};
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    const std::string command = quotedPath(program) + " " + arguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    std::string out;
    if (started) {
        // Read while it runs: the pipe holds only so much.
        char buffer[512];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
        if (WaitForSingleObject(pi.hProcess, kHangGuardMs) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 99);
        GetExitCodeProcess(pi.hProcess, &exitCode);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(readEnd);
    return out;
}

DWORD ctl(const std::string& arguments, std::string* out) {
    DWORD code = 0;
    std::string text = runProgram(nodesimPath(), "--ctl " + arguments, code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (out != nullptr) *out = text;
    return code;
}

bool registerNodesim() {
    DWORD code = 0;
    runProgram(nodesimPath(), "--register", code);
    return code == 0;
}

bool unregisterNodesim() {
    DWORD code = 0;
    runProgram(nodesimPath(), "--unregister", code);
    return code == 0;
}

std::int64_t epochMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

StandIn::StandIn(const std::string& options) {
    // An earlier case's stand-in must be gone, or this one cannot start.
    pumpUntil([] { return ctl("state") != 0; });
    tracePath_ = dir_.file("trace.txt");
    startedMs_ = epochMs();
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const std::string command =
        quotedPath(nodesimPath()) + " --headless --trace " + quotedPath(tracePath_) + " " + options;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
    process_ = pi.hProcess;
    thread_ = pi.hThread;
    up_ = pumpUntil([this] { return ctl("state") == 0 || waitUntilEnded(0); }) && !waitUntilEnded(0);
}

StandIn::~StandIn() {
    if (process_ == nullptr) return;
    ResumeThread(thread_);  // in case a case suspended it
    if (!waitUntilEnded(0)) {
        ctl("close");
        if (!waitUntilEnded(10000)) TerminateProcess(process_, 99);
        WaitForSingleObject(process_, kHangGuardMs);
    }
    CloseHandle(thread_);
    CloseHandle(process_);
}

bool StandIn::waitUntilEnded(DWORD guardMs) const {
    if (process_ == nullptr) return true;
    if (guardMs == 0) return WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
    // Pumping, so that this thread's COM and event windows keep working.
    return pumpUntil([this] { return WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }, guardMs);
}

DWORD StandIn::exitCode() const {
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process_, &code);
    return code;
}

std::vector<std::string> StandIn::trace() const {
    std::vector<std::string> bodies;
    const std::string text = readFile(tracePath_);
    const std::int64_t now = epochMs();
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(from, end - from);
        from = end + 1;
        if (line.empty()) continue;
        const auto blank = line.find(' ');
        const std::string stamp = line.substr(0, blank);
        char* rest = nullptr;
        const long long ms = std::strtoll(stamp.c_str(), &rest, 10);
        EXPECT_TRUE(!stamp.empty() && *rest == '\0' && ms >= startedMs_ - 1000 && ms <= now + 1000)
            << "bad stamp: " << line;
        bodies.push_back(blank == std::string::npos ? std::string() : line.substr(blank + 1));
    }
    return bodies;
}

int runConnectAndDie() {
    OleInitialize(nullptr);
    EventLog events;
    auto link = ComNodeConnector().create(events);
    link->SetPtt(kNodeFalse);
    std::fputs("connected\n", stdout);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}

}  // namespace tarnwick::testing
