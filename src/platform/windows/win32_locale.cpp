#include "platform/windows/win32_locale.h"

#include "platform/windows/win32_platform.h"

namespace tarnwick {

std::string Win32Locale::decimalSeparator() const {
    // The separator may be up to three characters long.
    char buffer[8] = {};
    const int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, static_cast<int>(sizeof buffer));
    if (n <= 1) return ".";
    return std::string(buffer, static_cast<std::size_t>(n - 1));
}

LocalTime Win32Locale::localNow() const {
    SYSTEMTIME t;
    GetLocalTime(&t);
    LocalTime out;
    out.year = t.wYear;
    out.month = t.wMonth;
    out.day = t.wDay;
    out.hour = t.wHour;
    out.minute = t.wMinute;
    out.second = t.wSecond;
    out.millisecond = t.wMilliseconds;
    // The system counts Sunday 0 to Saturday 6; the program Sunday 1 to Saturday 7.
    out.weekday = t.wDayOfWeek + 1;
    // The offset in force now: the bias, plus the daylight bias in summer.
    TIME_ZONE_INFORMATION zone{};
    const DWORD which = GetTimeZoneInformation(&zone);
    long bias = zone.Bias;
    if (which == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    if (which == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
    out.utcOffsetMinutes = static_cast<int>(-bias);
    return out;
}

std::filesystem::path Win32Locale::filePath(const std::string& text) const {
    // Not std::filesystem::path(text): the C++ library reads a narrow string
    // in its own locale ("C", a byte a character), not in the code page the
    // window and the settings file speak.
    return std::filesystem::path(win32::wideFromAnsi(text));
}

}  // namespace tarnwick
