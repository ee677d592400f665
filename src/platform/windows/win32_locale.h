// The user's number format and the local clock, from the system's regional
// settings (the user's locale, not the thread's).
#pragma once

#include "platform/locale.h"

namespace tarnwick {

class Win32Locale : public Locale {
public:
    // LOCALE_SDECIMAL of the user's locale: "." or "," for instance; "."
    // if the system cannot say.
    std::string decimalSeparator() const override;
    // GetLocalTime, to the millisecond; weekday 1 is Sunday.
    LocalTime localNow() const override;
};

}  // namespace tarnwick
