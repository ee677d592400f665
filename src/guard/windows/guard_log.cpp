#include "guard/guard_log.h"

#include "platform/windows/win32_platform.h"

#include <cstdio>

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
    const long offset = -bias;  // minutes east of UTC
    const long magnitude = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u %c%02ld%02ld ", local.wYear, local.wMonth,
                  local.wDay, local.wHour, local.wMinute, local.wSecond, local.wMilliseconds, offset < 0 ? '-' : '+',
                  magnitude / 60, magnitude % 60);
    return text;
}

void reportLine(const std::string& logPath, const std::string& text) {
    const std::string line = localStamp() + text + "\r\n";
    DWORD written = 0;
    HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
    if (errors != nullptr && errors != INVALID_HANDLE_VALUE) {
        WriteFile(errors, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    if (logPath.empty()) return;
    // Opened for appending only: each write lands at the end as one piece,
    // so the lines of Tarnwick and of the guardian never interleave.
    HANDLE log = CreateFileA(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool ok = log != INVALID_HANDLE_VALUE &&
                    WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                    written == line.size();
    const DWORD error = GetLastError();
    if (log != INVALID_HANDLE_VALUE) CloseHandle(log);
    if (!ok && errors != nullptr && errors != INVALID_HANDLE_VALUE) {
        const std::string note = "tarnwick-guard: cannot write the station log " + logPath + ": " +
                                 win32::errorText(error) + "\r\n";
        WriteFile(errors, note.data(), static_cast<DWORD>(note.size()), &written, nullptr);
    }
}

}  // namespace tarnwick::guard
