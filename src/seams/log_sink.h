// LogSink: where the station log's lines go.
//
// Implementations: the log file of both programs (platform/portable/file_log_sink.h)
// and the memory log of the tests (platform/fake/memory_log_sink.h). Every
// operation is called on the loop thread, only when something happens
// (never on an idle tick), and none of them raises: the log must never stand
// between the system and a transmission.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tarnwick {

class LogSink {
public:
    virtual ~LogSink() = default;

    // Appends one finished line (its time stamp and text, no line end). The
    // line is on disk when this returns, or it is lost: a write that fails
    // is kept in problem(), and the caller goes on as if it had landed.
    virtual void append(const std::string& line) noexcept = 0;

    // The latest `count` lines, oldest first, as far as they can be read
    // (lines other programs appended too). Empty when nothing can be read.
    virtual std::vector<std::string> latest(std::size_t count) const noexcept = 0;

    // Where the lines go, as the user would look for them (a path).
    virtual std::string place() const = 0;

    // Why the latest line did not land, in words; "" while writing works.
    virtual std::string problem() const = 0;
};

}  // namespace tarnwick
