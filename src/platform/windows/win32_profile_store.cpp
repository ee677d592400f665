#include "platform/windows/win32_profile_store.h"

#include <shlobj.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/portable/ini_text.h"
#include "platform/windows/win32_platform.h"

namespace tarnwick {

namespace {

bool hasDirectory(const std::string& name) { return name.find_first_of("\\/:") != std::string::npos; }

bool fileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

bool startsWithFolder(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.size() <= folder.size()) return false;
    if (!sameText(path.substr(0, folder.size()), folder)) return false;
    return path[folder.size()] == '\\' || folder.back() == '\\';
}

std::string windowsDirectory() {
    char buffer[MAX_PATH + 1] = {};
    const UINT n = GetWindowsDirectoryA(buffer, MAX_PATH + 1);
    return n == 0 || n > MAX_PATH ? std::string("C:\\Windows") : std::string(buffer, n);
}

bool processIsVirtualised() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD enabled = 0;
    DWORD size = 0;
    const BOOL ok = GetTokenInformation(token, TokenVirtualizationEnabled, &enabled, sizeof enabled, &size);
    CloseHandle(token);
    return ok && enabled != 0;
}

constexpr std::size_t kReadBackLimit = 1 << 20;

// The whole file (up to kReadBackLimit) as it lies on disk, or nothing with
// the system's reason when it cannot be read.
std::optional<std::string> readWholeFile(const std::string& path, std::string& reason) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = win32::errorText(GetLastError());
        return std::nullopt;
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            reason = win32::errorText(GetLastError());
            CloseHandle(file);
            return std::nullopt;
        }
        if (got == 0) break;
        text.append(buffer, got);
        // A settings file is a few hundred bytes; a device or a runaway
        // file must not hold the save. What was read decides.
        if (text.size() > kReadBackLimit) break;
    }
    CloseHandle(file);
    return text;
}

// What reading `key` back should give after writing `value`: the profile
// functions drop surrounding blanks and one pair of quotes on reading.
std::string expectedReading(const std::string& section, const std::string& key, const std::string& value) {
    const std::string oneEntry = "[" + section + "]\r\n" + key + "=" + value + "\r\n";
    return ini::readValue(oneEntry, section, key, "", oneEntry.size() + 1);
}

}  // namespace

namespace win32 {

std::string profilePath(const std::string& fileName) {
    if (hasDirectory(fileName)) return fileName;
    return windowsDirectory() + "\\" + fileName;
}

std::string virtualStorePath(const std::string& path) {
    if (!processIsVirtualised()) return {};
    // The folders the system virtualises that this program can meet: the
    // Windows directory and the program folders.
    std::vector<std::string> folders{windowsDirectory()};
    char buffer[MAX_PATH + 1] = {};
    for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86}) {
        if (SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer) == S_OK) folders.emplace_back(buffer);
    }
    const bool covered = std::any_of(folders.begin(), folders.end(),
                                     [&](const std::string& folder) { return startsWithFolder(path, folder); });
    if (!covered || path.size() < 3 || path[1] != ':') return {};
    if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK) return {};
    // C:\Windows\tarnwick.ini -> %LOCALAPPDATA%\VirtualStore\Windows\tarnwick.ini
    return std::string(buffer) + "\\VirtualStore" + path.substr(2);
}

}  // namespace win32

Win32ProfileStore::Win32ProfileStore(std::string fileName) : fileName_(std::move(fileName)) {}

std::string Win32ProfileStore::getString(const std::string& section, const std::string& key,
                                         const std::string& defaultValue, std::size_t bufferSize) {
    if (bufferSize == 0) return {};
    // The profile functions take the size as a DWORD; a settings value is
    // never near that, but a caller's huge size must not wrap.
    const DWORD size = static_cast<DWORD>(std::min<std::size_t>(bufferSize, 1u << 20));
    std::vector<char> buffer(size, '\0');
    const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(), size,
                                             fileName_.c_str());
    return std::string(buffer.data(), std::min<DWORD>(n, size - 1));
}

std::vector<SaveProblem> Win32ProfileStore::putStrings(
    const std::string& section, const std::vector<std::pair<std::string, std::string>>& entries) {
    std::vector<SaveProblem> problems;
    std::vector<bool> written(entries.size(), false);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& [key, value] = entries[i];
        if (WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), fileName_.c_str())) {
            written[i] = true;
        } else {
            problems.push_back({location(), win32::errorText(GetLastError())});
        }
    }
    if (std::none_of(written.begin(), written.end(), [](bool w) { return w; })) return problems;

    // A write that reported success must also be in the file on disk: a
    // profile cache or a redirection could otherwise swallow it unseen.
    const std::string path = location();
    std::string reason;
    const std::optional<std::string> text = readWholeFile(path, reason);
    if (!text) {
        problems.push_back({path, "The file could not be read back after saving: " + reason});
        return problems;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!written[i]) continue;
        const auto& [key, value] = entries[i];
        // Only the last write of a key counts.
        const bool overwrittenLater = std::any_of(entries.begin() + static_cast<std::ptrdiff_t>(i) + 1, entries.end(),
                                                  [&](const auto& later) { return sameText(later.first, key); });
        if (overwrittenLater) continue;
        // A line break cannot be a value: "\n" stands for "not there".
        const std::string stored = ini::readValue(*text, section, key, "\n", text->size() + 1);
        if (stored != expectedReading(section, key, value)) {
            problems.push_back({path, "The value of " + key + " was written but did not reach the file."});
        }
    }
    return problems;
}

std::string Win32ProfileStore::location() const {
    const std::string path = win32::profilePath(fileName_);
    // Once a virtualised program has saved, its own copy is the file it
    // reads and writes; the real one is left as it was.
    const std::string redirected = win32::virtualStorePath(path);
    if (!redirected.empty() && fileExists(redirected)) return redirected;
    return path;
}

}  // namespace tarnwick
