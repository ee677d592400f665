#include "guard/guard_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/portable/file_log_sink.h"
#include "seams/locale.h"
#include "station/station_log.h"

namespace tarnwick::guard {

std::string localStamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    LocalTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec;
    t.millisecond = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    t.utcOffsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
    return StationLog::stamp(t) + " ";
}

void reportLine(const std::string& logPath, const std::string& text) {
    const std::string line = localStamp() + text;
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    // A file name is its bytes on Linux.
    if (!logPath.empty()) FileLogSink(logPath, logPath).append(line);
}

}  // namespace tarnwick::guard
