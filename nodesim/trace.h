// The stand-in node's trace: one line per call received or event raised.
//
//   1765053600125 SetPtt 0
//   1765053600310 GetPttState => 0
//   1765053602011 SendCwText 0 "N0CALL"
//   1765053602500 event Closing
//
// A line is the wall-clock time in milliseconds since the Unix epoch, the
// operation, its arguments and " => " with the result where there is one.
// Tests outside the repository read these files, so the format is fixed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace tarnwick::nodesim {

// Milliseconds since the Unix epoch.
using WallClock = std::function<std::int64_t()>;
WallClock systemClockMs();

// A string as the trace shows it: in double quotes, with `"` and `\`
// escaped by a backslash. Line breaks and tabs become \n, \r and \t so that
// a text cannot break the one-line-per-call rule.
std::string quoted(std::string_view text);

// The line without its time stamp: "GetPttState => 0".
std::string traceBody(std::string_view operation, std::string_view args, std::optional<std::string_view> result);

class TraceWriter {
public:
    // `out` may be null: nothing is written (the stand-in runs without
    // --trace). The stream must outlive the writer.
    TraceWriter(std::ostream* out, WallClock wall);

    // Writes one line and flushes it, so that a reader sees each call as
    // soon as the node has answered it, and nothing is lost if the stand-in
    // is killed.
    void write(std::string_view operation, std::string_view args = {},
               std::optional<std::string_view> result = std::nullopt);

    // Whether the last write reached the stream (a full disk, say).
    bool good() const { return out_ == nullptr || out_->good(); }

private:
    std::ostream* out_;
    WallClock wall_;
};

}  // namespace tarnwick::nodesim
