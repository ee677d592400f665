// The system's text conventions (the user's number format, how a path text
// names a file) and the local clock.
#pragma once

#include <filesystem>
#include <string>

namespace tarnwick {

struct LocalTime {
    int year = 2000, month = 1, day = 1;  // month 1-12
    int hour = 0, minute = 0, second = 0;
    int millisecond = 0;
    int weekday = 1;           // 1 Sunday ... 7 Saturday
    int utcOffsetMinutes = 0;  // the zone's offset in force then, east of UTC (+60 for +0100)
};

class Locale {
public:
    virtual ~Locale() = default;
    // The user's decimal separator, "." or "," for instance.
    virtual std::string decimalSeparator() const = 0;
    // The local date and time now, with the zone's offset in force.
    virtual LocalTime localNow() const = 0;
    // The file that a path text names. Path texts are held as the window,
    // the file dialog and the settings file hold them: in the system's narrow
    // character set, the ANSI code page on Windows and the file name's own
    // bytes on Linux. The system looks at files through this, never through a
    // std::filesystem::path made from the text, which on Windows would read
    // each byte as a character of its own and miss every name beyond ASCII.
    virtual std::filesystem::path filePath(const std::string& text) const = 0;
};

}  // namespace tarnwick
