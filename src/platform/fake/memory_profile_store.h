// The settings file of the tests: its text in memory, with the same profile
// semantics as the real stores (platform/portable/ini_text.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "seams/profile_store.h"

namespace tarnwick {

class MemoryProfileStore : public ProfileStore {
public:
    // The file's text; nullopt while there is no file. Tests may set it
    // before start-up to stand for a file written by hand.
    std::optional<std::string> text;
    // putStrings calls that changed the text (a batch that changes nothing
    // leaves a real file untouched, so it is not counted).
    int writes = 0;
    // getString calls, to tell whether the file was read at all.
    int reads = 0;
    // When not empty, every putStrings returns these problems and changes
    // nothing: a save that did not reach the disk.
    std::vector<SaveProblem> failWith;
    // What location() reports.
    std::string path = "/var/lib/tarnwick/tarnwick.ini";

    MemoryProfileStore() = default;
    explicit MemoryProfileStore(std::string initialText) : text(std::move(initialText)) {}

    std::string getString(const std::string& section, const std::string& key, const std::string& defaultValue,
                          std::size_t bufferSize) override;
    std::vector<SaveProblem> putStrings(const std::string& section,
                                        const std::vector<std::pair<std::string, std::string>>& entries) override;
    std::string location() const override { return path; }
};

}  // namespace tarnwick
