#pragma once

namespace tarnwick {

// The program's version as its version resource states it (1.0.0.5 for this
// release). The caption shows major.minor.revision.
struct VersionInfo {
    int major = 0;
    int minor = 0;
    int build = 0;
    int revision = 0;
};

inline constexpr const char* kProductName = "Tarnwick";
inline constexpr const char* kProductWebAddress = "https://tarnwick.example.org/";

}  // namespace tarnwick
