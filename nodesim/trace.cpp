#include "nodesim/trace.h"

#include <chrono>

namespace tarnwick::nodesim {

WallClock systemClockMs() {
    return [] {
        using namespace std::chrono;
        return static_cast<std::int64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
    };
}

std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    out += '"';
    return out;
}

std::string traceBody(std::string_view operation, std::string_view args, std::optional<std::string_view> result) {
    std::string line(operation);
    if (!args.empty()) {
        line += ' ';
        line += args;
    }
    if (result) {
        line += " => ";
        line += *result;
    }
    return line;
}

TraceWriter::TraceWriter(std::ostream* out, WallClock wall) : out_(out), wall_(std::move(wall)) {}

void TraceWriter::write(std::string_view operation, std::string_view args, std::optional<std::string_view> result) {
    if (out_ == nullptr) return;
    // One write per line, so that a reader never sees half a line.
    std::string line = std::to_string(wall_());
    line += ' ';
    line += traceBody(operation, args, result);
    line += '\n';
    out_->write(line.data(), static_cast<std::streamsize>(line.size()));
    out_->flush();
}

}  // namespace tarnwick::nodesim
