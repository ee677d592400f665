// The station log of the tests: lines in memory. `failWith` makes every
// append fail (the line is lost, problem() says why), as a full disk would.
#pragma once

#include "seams/log_sink.h"

#include <string>
#include <vector>

namespace tarnwick {

class MemoryLogSink : public LogSink {
public:
    std::vector<std::string> lines;  // every line that landed, stamp and all
    std::string failWith;            // not empty: appends fail with this reason
    int failures = 0;                // appends that failed

    void append(const std::string& line) noexcept override;
    std::vector<std::string> latest(std::size_t count) const noexcept override;
    std::string place() const override { return "/var/lib/tarnwick/tarnwick.log"; }
    std::string problem() const override { return problem_; }

    // The lines from `from` on without their time stamps, joined with "\n".
    std::string events(std::size_t from = 0) const;

private:
    std::string problem_;
};

}  // namespace tarnwick
