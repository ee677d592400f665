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

LocalTime Win32Locale::localNow() const { return win32::localNow(); }

std::filesystem::path Win32Locale::filePath(const std::string& text) const {
    // Not std::filesystem::path(text): the C++ library reads a narrow string
    // in its own locale ("C", a byte a character), not in the code page the
    // window and the settings file speak.
    return std::filesystem::path(win32::wideFromAnsi(text));
}

}  // namespace tarnwick
