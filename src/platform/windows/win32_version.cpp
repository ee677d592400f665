#include "platform/windows/win32_version.h"

#include <vector>

#include "platform/windows/win32_platform.h"

namespace tarnwick {

std::optional<VersionInfo> readVersionResource(const std::string& path) {
    std::string file = path;
    if (file.empty()) {
        // Long paths are cut by the ANSI call; MAX_PATH is all it can give.
        char own[MAX_PATH + 1] = {};
        const DWORD n = GetModuleFileNameA(nullptr, own, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return std::nullopt;
        file.assign(own, n);
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(file.c_str(), 0, size, data.data())) return std::nullopt;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != 0xFEEF04BD) {
        return std::nullopt;
    }
    VersionInfo v;
    v.major = HIWORD(fixed->dwFileVersionMS);
    v.minor = LOWORD(fixed->dwFileVersionMS);
    v.build = HIWORD(fixed->dwFileVersionLS);
    v.revision = LOWORD(fixed->dwFileVersionLS);
    return v;
}

}  // namespace tarnwick
