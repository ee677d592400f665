#include "guard/guard_log.h"

#include "app/station_log.h"
#include "platform/file_log_sink.h"
#include "platform/locale.h"
#include "platform/windows/win32_platform.h"

namespace tarnwick::guard {

std::string localStamp() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    // The offset in force now: the bias, plus the daylight bias in summer.
    TIME_ZONE_INFORMATION zone{};
    const DWORD which = GetTimeZoneInformation(&zone);
    long bias = zone.Bias;
    if (which == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    if (which == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
    LocalTime t;
    t.year = local.wYear;
    t.month = local.wMonth;
    t.day = local.wDay;
    t.hour = local.wHour;
    t.minute = local.wMinute;
    t.second = local.wSecond;
    t.millisecond = local.wMilliseconds;
    t.utcOffsetMinutes = static_cast<int>(-bias);
    return StationLog::stamp(t) + " ";
}

void reportLine(const std::string& logPath, const std::string& text) {
    const std::string line = localStamp() + text;
    HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
    if (errors != nullptr && errors != INVALID_HANDLE_VALUE) {
        const std::string withEnd = line + "\r\n";
        DWORD written = 0;
        WriteFile(errors, withEnd.data(), static_cast<DWORD>(withEnd.size()), &written, nullptr);
    }
    // The path text is in the ANSI code page, as the program holds it.
    if (!logPath.empty())
        FileLogSink(std::filesystem::path(win32::wideFromAnsi(logPath)), logPath, "\r\n").append(line);
}

}  // namespace tarnwick::guard
