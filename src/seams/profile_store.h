// The settings file, with the semantics of the Windows profile functions.
//
// Reads: section and key are matched without regard to case; the value loses
// leading and trailing blanks and one enclosing pair of matching single or
// double quotes, and is cut to `bufferSize - 1` characters; a missing file,
// section or key gives `defaultValue` (cut the same way).
//
// Writes: each entry sets KEY=value in the section; an existing key's line is
// replaced in place (keeping the key's spelling there), a new key goes at the
// end of its section, a missing section at the end of the file, a missing
// file is created. Writing a value that is already stored exactly changes
// nothing in the file.
//
// Every read sees the file as it is then: an edit by hand between two reads
// is seen. A save that cannot reach the file reports it, naming location(),
// and leaves the file as it was.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tarnwick {

// A save that did not reach the disk: what and why, for the user.
struct SaveProblem {
    std::string file;    // the full path of the settings file
    std::string reason;  // the operating system's reason, in words
};

class ProfileStore {
public:
    virtual ~ProfileStore() = default;

    virtual std::string getString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                  std::size_t bufferSize) = 0;

    // Writes the entries one after the other, as that many separate profile
    // writes would. Stores that can do so make the whole batch one atomic
    // replacement of the file. Every entry is attempted; returns the
    // problems met (empty on success).
    virtual std::vector<SaveProblem> putStrings(const std::string& section,
                                                const std::vector<std::pair<std::string, std::string>>& entries) = 0;

    // Where the file is (for messages).
    virtual std::string location() const = 0;
};

}  // namespace tarnwick
