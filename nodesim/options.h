// The stand-in's command line, the same for every face:
//
//   tarnwick-nodesim [--call CALL] [--trace FILE] [--headless] [--cw-wpm N]
//   tarnwick-nodesim --ctl dtmf DIGITS | rx 0|1 | busy-a 0|1 | busy-b 0|1
//                    | fail OPERATION | stall MS | close | vanish | state
//   tarnwick-nodesim --register | --unregister      (the COM face only)
//
// Tests and scripts outside the repository rely on these spellings.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "nodesim/node_sim.h"

namespace tarnwick::nodesim {

// A command line that cannot be run; the message says why in a sentence.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class CtlCommand { Dtmf, Rx, BusyA, BusyB, Fail, Stall, Close, Vanish, State };

// The longest stall --ctl stall takes: ten minutes.
inline constexpr long long kMaxStallMs = 600000;

struct CommandLine {
    enum class Mode { Run, Ctl, Register, Unregister, Help };
    Mode mode = Mode::Run;

    // Mode::Run
    std::string callsign = kDefaultCallsign;
    std::string tracePath;  // empty: no trace
    bool headless = false;
    int cwWpm = kDefaultCwWpm;

    // Mode::Ctl
    CtlCommand ctl = CtlCommand::State;
    std::string ctlText;       // the digits of dtmf, the operation of fail
    bool ctlSwitch = false;    // the 0|1 of rx, busy-a, busy-b
    Operation ctlOperation{};  // fail: the operation, already checked
    long long ctlMs = 0;       // stall: milliseconds, 0 .. kMaxStallMs
};

// Parses the arguments after the program name. Raises UsageError for an
// unknown option, a missing or malformed value, or options that do not go
// together (--ctl with the run options).
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The usage text, several lines, ending in a line break.
std::string usageText();

}  // namespace tarnwick::nodesim
