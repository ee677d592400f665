// The Linux settings store: one INI file in a per-machine directory, with the
// profile functions' semantics (platform/portable/ini_text.h).
//
// Every read goes to the file (no caching). A batch of writes is applied to
// the file's text in memory and lands as one atomic replacement: the new
// text goes to a temporary file in the same directory, is flushed to disk,
// and is renamed over the old file, so a crash or a full disk mid-save
// leaves the old file or the new one, never a torn one. A batch that changes
// nothing does not touch the file.
#pragma once

#include "seams/profile_store.h"

#include <string>

namespace tarnwick {

class FileProfileStore : public ProfileStore {
public:
    explicit FileProfileStore(std::string directory, std::string fileName = "tarnwick.ini");

    std::string getString(const std::string& section, const std::string& key, const std::string& defaultValue,
                          std::size_t bufferSize) override;
    std::vector<SaveProblem> putStrings(const std::string& section,
                                        const std::vector<std::pair<std::string, std::string>>& entries) override;
    std::string location() const override { return path_; }

private:
    std::string directory_;
    std::string path_;
};

}  // namespace tarnwick
