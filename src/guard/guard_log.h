// The guardian's report: one line to stderr and to the end of the station
// log, in the log's own shape (local time to the millisecond and the zone
// offset, then the text). One implementation per platform, in
// guard/linux/ and guard/windows/.
#pragma once

#include <string>

namespace tarnwick::guard {

// "2026-12-08 03:00:00.012 +0100 " for now.
std::string localStamp();

// Writes the stamped line to stderr and appends it to `logPath` (unless
// empty) in one write. A log that cannot be written is said on stderr;
// nothing raises.
void reportLine(const std::string& logPath, const std::string& text);

}  // namespace tarnwick::guard
