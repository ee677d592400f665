// What the Windows shell's files share: the one place that includes
// <windows.h>, and small helpers every subsystem needs (error texts, twips,
// the ANSI strings of the window system).
//
// Nothing here is seen by the portable core; only src/platform/windows/ and
// its tests include this header.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "seams/locale.h"

namespace tarnwick::win32 {

// The system's own description of a Win32 error or an HRESULT
// (FormatMessageA), without the trailing line break; "" when it has none.
// Every error text of the program is made from this one.
inline std::string systemText(DWORD code) {
    char* buffer = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (n != 0 && buffer != nullptr) text.assign(buffer, n);
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

// An HRESULT as its 8 hex digits: "0x80040154".
inline std::string hexCode(long hr) {
    char text[16];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// A Win32 error with its number: "Access is denied. (error 5)"; an unknown
// code reads "error N".
inline std::string errorText(DWORD code) {
    const std::string text = systemText(code);
    const std::string number = "error " + std::to_string(code);
    return text.empty() ? number : text + " (" + number + ")";
}

// An HRESULT with its hex code: "Class not registered (0x80040154)"; one
// the system has no text for reads "error 0x80040154".
inline std::string statusText(HRESULT hr) {
    const std::string text = systemText(static_cast<DWORD>(hr));
    return text.empty() ? "error " + hexCode(hr) : text + " (" + hexCode(hr) + ")";
}

// The local time now, with the offset from UTC in force (the bias, plus the
// daylight bias in summer): the program's clock and the guardian's log
// stamps alike.
inline LocalTime localNow() {
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
    TIME_ZONE_INFORMATION zone{};
    const DWORD which = GetTimeZoneInformation(&zone);
    long bias = zone.Bias;
    if (which == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    if (which == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
    out.utcOffsetMinutes = static_cast<int>(-bias);
    return out;
}

// The UTF-16 form of a text in the ANSI code page (CP_ACP), the character
// set of the window texts, the file dialog and the profile functions, and so
// of every path text the system holds. Bytes that are no character of the
// code page become the system's default character.
inline std::wstring wideFromAnsi(const std::string& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), n);
    return wide;
}

// A window's text (GetWindowTextA), whole whatever its length.
inline std::string windowText(HWND hwnd) {
    const int length = GetWindowTextLengthA(hwnd);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(hwnd, text.data(), length + 1);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

// The window class name of `hwnd`, for telling our windows from others.
inline std::string className(HWND hwnd) {
    char name[256] = {};
    const int n = GetClassNameA(hwnd, name, static_cast<int>(sizeof name));
    return std::string(name, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// Top-level windows of this program that carry this property get the
// dialog keyboard (Tab between controls, Space and arrows) from the loop:
// Win32EventLoop routes their messages through IsDialogMessageA.
inline constexpr const char* kDialogKeysProperty = "Tarnwick.DialogKeys";

}  // namespace tarnwick::win32
