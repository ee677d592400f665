#include "nodesim/options.h"

#include <charconv>

namespace tarnwick::nodesim {

namespace {

// "--trace=FILE" and "--trace FILE" are the same option.
struct Cursor {
    const std::vector<std::string>& args;
    std::size_t next = 0;

    bool done() const { return next >= args.size(); }

    std::string value(const std::string& option) {
        if (done()) throw UsageError(option + " needs a value.");
        return args[next++];
    }
};

bool parseSwitch(const std::string& text, const std::string& command) {
    if (text == "0") return false;
    if (text == "1") return true;
    throw UsageError("--ctl " + command + " takes 0 or 1, not \"" + text + "\".");
}

int parseWpm(const std::string& text) {
    int wpm = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, wpm);
    if (ec != std::errc() || ptr != end || wpm < kMinWpm || wpm > kMaxWpm) {
        throw UsageError("--cw-wpm takes a whole number from " + std::to_string(kMinWpm) + " to " +
                         std::to_string(kMaxWpm) + ", not \"" + text + "\".");
    }
    return wpm;
}

long long parseStallMs(const std::string& text) {
    long long ms = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, ms);
    if (ec != std::errc() || ptr != end || ms < 0 || ms > kMaxStallMs) {
        throw UsageError("--ctl stall takes milliseconds, a whole number from 0 to " + std::to_string(kMaxStallMs) +
                         ", not \"" + text + "\".");
    }
    return ms;
}

void parseCtl(Cursor& in, CommandLine& line) {
    line.mode = CommandLine::Mode::Ctl;
    const std::string command = in.value("--ctl");
    if (command == "dtmf") {
        line.ctl = CtlCommand::Dtmf;
        line.ctlText = in.value("--ctl dtmf");
    } else if (command == "rx" || command == "busy-a" || command == "busy-b") {
        line.ctl = command == "rx" ? CtlCommand::Rx : command == "busy-a" ? CtlCommand::BusyA : CtlCommand::BusyB;
        line.ctlSwitch = parseSwitch(in.value("--ctl " + command), command);
    } else if (command == "fail") {
        line.ctl = CtlCommand::Fail;
        line.ctlText = in.value("--ctl fail");
        const auto op = parseOperation(line.ctlText);
        if (!op) {
            throw UsageError("--ctl fail: unknown operation \"" + line.ctlText + "\" (one of " + operationNames() +
                             ").");
        }
        line.ctlOperation = *op;
    } else if (command == "stall") {
        line.ctl = CtlCommand::Stall;
        line.ctlMs = parseStallMs(in.value("--ctl stall"));
    } else if (command == "close") {
        line.ctl = CtlCommand::Close;
    } else if (command == "vanish") {
        line.ctl = CtlCommand::Vanish;
    } else if (command == "state") {
        line.ctl = CtlCommand::State;
    } else {
        throw UsageError("--ctl: unknown command \"" + command + "\".");
    }
    if (!in.done()) throw UsageError("--ctl " + command + ": unexpected \"" + in.args[in.next] + "\".");
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& rawArgs) {
    // Split "--opt=value" into two arguments first.
    std::vector<std::string> args;
    for (const std::string& a : rawArgs) {
        const auto eq = a.find('=');
        if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
            args.push_back(a.substr(0, eq));
            args.push_back(a.substr(eq + 1));
        } else {
            args.push_back(a);
        }
    }

    CommandLine line;
    bool runOptions = false;
    Cursor in{args};
    while (!in.done()) {
        const std::string option = args[in.next++];
        if (option == "--ctl") {
            if (runOptions || line.mode != CommandLine::Mode::Run) {
                throw UsageError("--ctl cannot be combined with other options.");
            }
            parseCtl(in, line);
        } else if (option == "--call") {
            line.callsign = in.value(option);
            if (line.callsign.empty()) throw UsageError("--call needs a call sign.");
            runOptions = true;
        } else if (option == "--trace") {
            line.tracePath = in.value(option);
            if (line.tracePath.empty()) throw UsageError("--trace needs a file name.");
            runOptions = true;
        } else if (option == "--headless") {
            line.headless = true;
            runOptions = true;
        } else if (option == "--cw-wpm") {
            line.cwWpm = parseWpm(in.value(option));
            runOptions = true;
        } else if (option == "--register" || option == "--unregister") {
            if (runOptions || line.mode != CommandLine::Mode::Run || !in.done()) {
                throw UsageError(option + " cannot be combined with other options.");
            }
            line.mode = option == "--register" ? CommandLine::Mode::Register : CommandLine::Mode::Unregister;
        } else if (option == "--help" || option == "-h") {
            line.mode = CommandLine::Mode::Help;
            return line;
        } else {
            throw UsageError("unknown option \"" + option + "\".");
        }
    }
    return line;
}

std::string usageText() {
    return "Usage: tarnwick-nodesim [--call CALL] [--trace FILE] [--headless] [--cw-wpm N]\n"
           "       tarnwick-nodesim --ctl dtmf DIGITS | rx 0|1 | busy-a 0|1 | busy-b 0|1\n"
           "                        | fail OPERATION | stall MS | close | vanish | state\n"
           "\n"
           "Plays an EchoLink node for Tarnwick: answers its calls, traces them to FILE,\n"
           "and raises the node's events when told to by --ctl.\n"
           "  --call CALL    the node's call sign (default " +
           std::string(kDefaultCallsign) +
           ")\n"
           "  --trace FILE   write one line per call and event to FILE\n"
           "  --headless     run without a window\n"
           "  --cw-wpm N     Morse speed of SendCwText in words a minute (default " +
           std::to_string(kDefaultCwWpm) +
           ")\n"
           "  --ctl stall MS the next call is answered only after MS milliseconds\n"
           "  --ctl close    raise Closing, then quit once the callers have left (5 s at most)\n"
           "  --ctl vanish   raise Closing, then quit at once, answering nothing more\n"
           "OPERATION is one of: " +
           operationNames() + ".\n";
}

}  // namespace tarnwick::nodesim
