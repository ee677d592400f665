#include "platform/linux/file_profile_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>

#include "platform/portable/ini_text.h"

namespace tarnwick {

namespace {

std::string describe(const std::string& what, int error) { return what + ": " + std::strerror(error); }

// The file's text and what we need to replace it like for like.
struct Existing {
    bool present = false;
    std::string text;
    struct stat info {};
};

// Reads the whole file. Returns 0, or the errno of the first failure; a
// missing file is not a failure (present stays false).
int readFile(const std::string& path, Existing& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? 0 : errno;
    int error = 0;
    if (::fstat(fd, &out.info) != 0) error = errno;
    char buffer[8192];
    while (error == 0) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            out.text.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            error = errno;
        }
    }
    ::close(fd);
    out.present = error == 0;
    return error;
}

int writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return n < 0 ? errno : EIO;
        }
    }
    return 0;
}

std::string directoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A sysop may have made the settings file a link to a file kept elsewhere.
// Replacing the link by a plain file would silently cut that tie, so the
// save goes to the file the link points to.
std::string resolveLink(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return path;  // a dangling link: the save reports what goes wrong with it
    std::string resolved(real);
    std::free(real);
    return resolved;
}

// Writes `text` as the new content of `target`: temporary file beside it,
// flushed, renamed over it, directory flushed. Returns the reason of the
// first failure, or nothing. On failure before the rename the old file is
// untouched and the temporary file is gone.
std::optional<std::string> replaceFile(const std::string& target, const Existing& old, const std::string& text) {
    const std::string dir = directoryOf(target);
    const std::string prefix = dir + "/." + baseNameOf(target) + ".tmp-" + std::to_string(::getpid()) + "-";

    static unsigned counter = 0;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = prefix + std::to_string(counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0664);
        if (fd < 0 && errno != EEXIST) return describe("cannot create a temporary file in " + dir, errno);
    }
    if (fd < 0) return describe("cannot create a temporary file in " + dir, EEXIST);

    auto fail = [&](const std::string& what, int error) {
        if (fd >= 0) ::close(fd);
        ::unlink(temp.c_str());
        return std::optional<std::string>(describe(what, error));
    };

    if (old.present) {
        // The replacement keeps the old file's permission bits and, where we
        // may, its owner and group, so that a file shared by several users
        // stays writable for them. Both are best effort: the settings
        // reaching the disk matters more, and filesystems that refuse these
        // calls have no bits or owners to keep.
        // The owner goes first, since changing it clears set-id bits.
        if (old.info.st_uid != ::geteuid() || old.info.st_gid != ::getegid()) {
            if (::fchown(fd, old.info.st_uid, old.info.st_gid) != 0 &&
                ::fchown(fd, static_cast<uid_t>(-1), old.info.st_gid) != 0) {
                // Not ours to give away: the file stays with its writer.
            }
        }
        if (::fchmod(fd, old.info.st_mode & 07777) != 0) {
            // Kept at 0664 less the umask.
        }
    }

    if (int error = writeAll(fd, text)) return fail("cannot write the new settings to " + temp, error);
    if (::fsync(fd) != 0) return fail("cannot flush " + temp + " to disk", errno);
    int closing = ::close(fd);
    fd = -1;
    if (closing != 0) return fail("cannot write the new settings to " + temp, errno);
    if (::rename(temp.c_str(), target.c_str()) != 0) return fail("cannot replace " + target, errno);

    // The new file is in place; flushing the directory makes the rename
    // itself survive a power cut. Filesystems that cannot flush a directory
    // say EINVAL, and there is nothing more to do on them.
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return describe("saved, but cannot open " + dir + " to flush it to disk", errno);
    int flushed = ::fsync(dirFd);
    int flushError = errno;
    ::close(dirFd);
    if (flushed != 0 && flushError != EINVAL)
        return describe("saved, but cannot flush " + dir + " to disk", flushError);
    return std::nullopt;
}

}  // namespace

FileProfileStore::FileProfileStore(std::string directory, std::string fileName) : directory_(std::move(directory)) {
    if (directory_.empty()) directory_ = ".";
    while (directory_.size() > 1 && directory_.back() == '/') directory_.pop_back();
    path_ = directory_ == "/" ? "/" + fileName : directory_ + "/" + fileName;
}

std::string FileProfileStore::getString(const std::string& section, const std::string& key,
                                        const std::string& defaultValue, std::size_t bufferSize) {
    // A file that cannot be read counts as missing, as with the profile
    // functions: every key then reads as its default.
    Existing file;
    if (readFile(path_, file) != 0) file.text.clear();
    return ini::readValue(file.text, section, key, defaultValue, bufferSize);
}

std::vector<SaveProblem> FileProfileStore::putStrings(const std::string& section,
                                                      const std::vector<std::pair<std::string, std::string>>& entries) {
    try {
        const std::string target = resolveLink(path_);
        Existing old;
        // A file we cannot read is not replaced by one holding only this
        // batch: that would lose every key the batch does not name.
        if (int error = readFile(target, old)) return {{path_, describe("cannot read " + target, error)}};

        std::string text = old.text;
        for (const auto& [key, value] : entries) text = ini::writeValue(text, section, key, value);
        if (text == old.text) return {};  // nothing changed: the file is left alone, mtime and all

        if (std::optional<std::string> reason = replaceFile(target, old, text)) return {{path_, *reason}};
        return {};
    } catch (const std::exception& e) {
        // Only memory can run out here; the caller reports a save that did
        // not land and keeps running.
        return {{path_, std::string("cannot prepare the new settings: ") + e.what()}};
    }
}

}  // namespace tarnwick
