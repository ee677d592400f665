#include "platform/fake/memory_profile_store.h"

#include "platform/portable/ini_text.h"

namespace tarnwick {

std::string MemoryProfileStore::getString(const std::string& section, const std::string& key,
                                          const std::string& defaultValue, std::size_t bufferSize) {
    ++reads;
    return ini::readValue(text.value_or(std::string()), section, key, defaultValue, bufferSize);
}

std::vector<SaveProblem> MemoryProfileStore::putStrings(
    const std::string& section, const std::vector<std::pair<std::string, std::string>>& entries) {
    if (!failWith.empty()) return failWith;
    const std::string before = text.value_or(std::string());
    std::string after = before;
    for (const auto& [key, value] : entries) after = ini::writeValue(after, section, key, value);
    if (after != before) {
        text = std::move(after);
        ++writes;
    }
    return {};
}

}  // namespace tarnwick
