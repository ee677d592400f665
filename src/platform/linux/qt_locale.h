// The user's number format and local clock, from Qt's view of the system
// locale (LC_NUMERIC and friends) and the local time zone.
#pragma once

#include "seams/locale.h"

namespace tarnwick {

class QtLocale : public Locale {
public:
    // QLocale::system()'s decimal point, "." or "," for instance.
    std::string decimalSeparator() const override;
    // The local date and time, to the millisecond; weekday 1 is Sunday; the
    // zone's offset from UTC then.
    LocalTime localNow() const override;
    // The text's bytes as they are: Linux file names are bytes, and the
    // window, the dialog and the settings file hold them unchanged.
    std::filesystem::path filePath(const std::string& text) const override { return text; }
};

}  // namespace tarnwick
