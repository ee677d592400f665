#include "guard/guard_log.h"

#include "platform/portable/file_log_sink.h"
#include "platform/windows/win32_platform.h"
#include "seams/locale.h"
#include "station/station_log.h"

namespace tarnwick::guard {

std::string localStamp() { return StationLog::stamp(win32::localNow()) + " "; }

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
