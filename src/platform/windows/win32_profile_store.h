// The Windows settings store: the profile functions themselves
// (GetPrivateProfileStringA / WritePrivateProfileStringA) on a bare file
// name, which they place in the Windows directory: one file per machine.
//
// There is no cache and no file handling of our own: every read and every
// write is one profile call, so the file behaves exactly as the system's
// profile functions make it behave. What this class adds is the check that
// a save really landed, which the profile functions alone do not give.
#pragma once

#include <string>

#include "seams/profile_store.h"

namespace tarnwick {

class Win32ProfileStore : public ProfileStore {
public:
    // `fileName` is handed to the profile functions as it is; give a bare
    // name ("tarnwick.ini") for the Windows directory, or a full path (tests).
    explicit Win32ProfileStore(std::string fileName = "tarnwick.ini");

    // One GetPrivateProfileStringA call with a buffer of `bufferSize`
    // characters; returns the characters it copied. A bufferSize of 0 gives "".
    std::string getString(const std::string& section, const std::string& key, const std::string& defaultValue,
                          std::size_t bufferSize) override;

    // One WritePrivateProfileStringA call per entry, in order, each attempted
    // whatever the earlier ones did. A call that fails is reported with the
    // system's reason. Then the file is read back from disk: an entry whose
    // value did not arrive there (a write that reported success but did not
    // land) is reported too. Returns the problems, each naming location().
    std::vector<SaveProblem> putStrings(const std::string& section,
                                        const std::vector<std::pair<std::string, std::string>>& entries) override;

    // Where the file is. For a bare name: the Windows directory's file; or,
    // when the system redirects this program's writes there (a 32-bit
    // program without an elevation manifest, run by a standard user who may
    // not write the Windows directory), the user's VirtualStore copy.
    std::string location() const override;

private:
    std::string fileName_;
};

namespace win32 {

// The full path the profile functions use for `fileName`: a name without a
// directory lies in the Windows directory.
std::string profilePath(const std::string& fileName);

// Where the system redirects a virtualised program's writes to `path`
// (%LOCALAPPDATA%\VirtualStore\...), or "" when it does not for this
// process: the process is not virtualised, or the path is not in a folder
// that is virtualised.
std::string virtualStorePath(const std::string& path);

}  // namespace win32

}  // namespace tarnwick
