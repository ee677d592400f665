// The program's version, read from its own version resource at run time, so
// that the caption always shows what the file says it is.
#pragma once

#include <optional>
#include <string>

#include "station/version.h"

namespace tarnwick {

// FILEVERSION of the version resource of the file at `path` (the running
// program's own file when empty): major.minor.build.revision. Nothing when
// the file has no version resource or cannot be read.
std::optional<VersionInfo> readVersionResource(const std::string& path = {});

}  // namespace tarnwick
