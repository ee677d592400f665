// Helpers of the COM node tests (tarnwick_com_tests.exe, run under Wine):
// the stand-in node as a process of its own, its --ctl, and its trace.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "node/node_link.h"
#include "windows/win_support.h"

namespace tarnwick::testing {

// The stand-in built with the tests, as a Windows path.
std::string nodesimPath();
// `path` in double quotes, for a command line or a registry value.
std::string quotedPath(const std::string& path);

// Runs `program` with `arguments`, waits for it (within the hang guard) and
// returns what it wrote to its standard output and error, together.
std::string runProgram(const std::string& program, const std::string& arguments, DWORD& exitCode);

// tarnwick-nodesim --ctl ARGUMENTS; returns the exit status, and the output
// in `out` when given.
DWORD ctl(const std::string& arguments, std::string* out = nullptr);
// --register / --unregister in this prefix; true on success.
bool registerNodesim();
bool unregisterNodesim();

// Milliseconds since the Unix epoch.
std::int64_t epochMs();

// A running stand-in (started by hand, headless) with its own trace file.
// It is ended when the object goes, whatever state it is in.
class StandIn {
public:
    explicit StandIn(const std::string& options = "");
    ~StandIn();
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    // Whether it answered --ctl state after starting.
    bool up() const { return up_; }
    HANDLE process() const { return process_; }
    HANDLE mainThread() const { return thread_; }
    // Waits (hang guard) for the process to end; true if it did.
    bool waitUntilEnded(DWORD guardMs = kHangGuardMs) const;
    DWORD exitCode() const;

    // The trace lines without their stamps; each stamp must be a time of
    // this run in milliseconds since the epoch.
    std::vector<std::string> trace() const;

private:
    TempDir dir_;
    std::string tracePath_;
    std::int64_t startedMs_ = 0;
    HANDLE process_ = nullptr;
    HANDLE thread_ = nullptr;
    bool up_ = false;
};

// The events as NodeEvents receives them: "DTMFString 1234", "Closing".
class EventLog : public NodeEvents {
public:
    void DTMFString(const std::string& digits) override { events.push_back("DTMFString " + digits); }
    void Closing() override { events.push_back("Closing"); }
    std::vector<std::string> events;
};

// Child mode of the test program: connects to the node, then ends at once
// without releasing anything, as Tarnwick ends on Closing.
inline constexpr const char* kConnectAndDieFlag = "--connect-and-die";
int runConnectAndDie();

}  // namespace tarnwick::testing
