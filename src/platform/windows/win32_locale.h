// The user's number format and the local clock, from the system's regional
// settings (the user's locale, not the thread's), and path texts in the
// system's ANSI code page.
#pragma once

#include "seams/locale.h"

namespace tarnwick {

class Win32Locale : public Locale {
public:
    // LOCALE_SDECIMAL of the user's locale: "." or "," for instance; "."
    // if the system cannot say.
    std::string decimalSeparator() const override;
    // GetLocalTime, to the millisecond; weekday 1 is Sunday; the offset of
    // GetTimeZoneInformation.
    LocalTime localNow() const override;
    // The text read in the system's ANSI code page, as the window and the
    // profile functions wrote it.
    std::filesystem::path filePath(const std::string& text) const override;
};

}  // namespace tarnwick
