// The guardian's report: one line to stderr and to the end of the station
// log, through the station log's own file code (platform/file_log_sink: the
// same append, rotation and folder as the program's lines) and in its shape
// (StationLog::stamp, then the text). The local time comes from each
// platform's guard/<platform>/guard_log.cpp.
#pragma once

#include <string>

namespace tarnwick::guard {

// "2026-12-08 03:00:00.012 +0100 " for now.
std::string localStamp();

// Writes the stamped line to stderr and appends it to the log `logPath`
// (a path text as the program holds it; none when empty). A log that
// cannot be written is said on stderr; nothing raises.
void reportLine(const std::string& logPath, const std::string& text);

}  // namespace tarnwick::guard
