// The user's number and time conventions, and the local clock.
#pragma once

#include <string>

namespace tarnwick {

struct LocalTime {
    int year = 2000, month = 1, day = 1;  // month 1-12
    int hour = 0, minute = 0, second = 0;
    int millisecond = 0;
    int weekday = 1;  // 1 Sunday ... 7 Saturday
};

class Locale {
public:
    virtual ~Locale() = default;
    // The user's decimal separator, "." or "," for instance.
    virtual std::string decimalSeparator() const = 0;
    // The local date and time now.
    virtual LocalTime localNow() const = 0;
};

}  // namespace tarnwick
