// The station log as a file, the same code for both programs (the C++
// standard library only): open, append one line, close.
//
// Opening the file for each line costs a few tens of microseconds, and lines
// come only with events, a handful an hour. In exchange nothing holds the
// file: the guardian (a separate process) appends its own lines to it, a
// sysop may move or delete it at any time, and the file moves aside without
// anyone's handle in the way.
//
// Bounded: a line that would take the file past `limit` bytes first moves
// it to one previous generation, FILE.1 (replacing an older FILE.1), and
// starts a new file. So the log and its predecessor never hold more than
// twice the limit.
//
// Failures: a line that cannot be written is lost, never raised. The first
// failure is said once on `errors` (stderr), not on every line, and
// problem() tells the latest one until a line lands again.
#pragma once

#include "seams/log_sink.h"

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>

namespace tarnwick {

class FileLogSink : public LogSink {
public:
    static constexpr std::uintmax_t kLimitBytes = 1024 * 1024;

    // `file`: the log (an empty path: the platform found no place for it).
    // `place`: the file's name for the user. `lineEnd`: "\n", or "\r\n" on
    // Windows. A missing folder is made on the first line; a file this sink
    // makes may be appended to by every user.
    FileLogSink(std::filesystem::path file, std::string place, std::string lineEnd = "\n",
                std::uintmax_t limit = kLimitBytes, std::ostream* errors = nullptr);

    void append(const std::string& line) noexcept override;
    std::vector<std::string> latest(std::size_t count) const noexcept override;
    std::string place() const override { return place_; }
    std::string problem() const override { return problem_; }

    // The previous generation: the file's name with ".1" added.
    std::filesystem::path previous() const;

private:
    void appendOrThrow(const std::string& line);
    void failed(const std::string& why) noexcept;

    std::filesystem::path file_;
    std::string place_;
    std::string lineEnd_;
    std::uintmax_t limit_;
    std::ostream* errors_;
    std::string problem_;
    bool reported_ = false;
};

}  // namespace tarnwick
