#include "platform/fake/memory_log_sink.h"

namespace tarnwick {

namespace {
// "2026-12-08 03:00:00.012 +0100 ": 30 characters before the event.
constexpr std::size_t kStampLength = 30;
}  // namespace

void MemoryLogSink::append(const std::string& line) noexcept {
    if (!failWith.empty()) {
        ++failures;
        problem_ = failWith;
        return;
    }
    problem_.clear();
    lines.push_back(line);
}

std::vector<std::string> MemoryLogSink::latest(std::size_t count) const noexcept {
    const std::size_t from = lines.size() > count ? lines.size() - count : 0;
    return {lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end()};
}

std::string MemoryLogSink::events(std::size_t from) const {
    std::string out;
    for (std::size_t i = from; i < lines.size(); ++i) {
        if (!out.empty()) out += '\n';
        out += lines[i].size() > kStampLength ? lines[i].substr(kStampLength) : lines[i];
    }
    return out;
}

}  // namespace tarnwick
