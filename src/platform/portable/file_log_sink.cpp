#include "platform/portable/file_log_sink.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <system_error>

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

// How much of a file's end `latest` reads: far more than 20 lines take.
constexpr std::uintmax_t kTailBytes = 64 * 1024;

// The complete lines in the last kTailBytes of `file`, oldest first, and
// whether they reach back to the file's start.
std::vector<std::string> tailLines(const fs::path& file, bool& whole) {
    whole = true;
    std::vector<std::string> lines;
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (ec) return lines;
    std::ifstream in(file, std::ios::binary);
    if (!in) return lines;
    const std::uintmax_t from = size > kTailBytes ? size - kTailBytes : 0;
    whole = from == 0;
    in.seekg(static_cast<std::streamoff>(from));
    std::string text(static_cast<std::size_t>(size - from), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));

    std::size_t start = 0;
    // A read that began inside a line drops that line's end.
    if (!whole) {
        const std::size_t first = text.find('\n');
        start = first == std::string::npos ? text.size() : first + 1;
    }
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::string lastError() { return std::strerror(errno); }

}  // namespace

FileLogSink::FileLogSink(fs::path file, std::string place, std::string lineEnd, std::uintmax_t limit,
                         std::ostream* errors)
    : file_(std::move(file)),
      place_(std::move(place)),
      lineEnd_(std::move(lineEnd)),
      limit_(limit),
      errors_(errors != nullptr ? errors : &std::cerr) {}

fs::path FileLogSink::previous() const {
    fs::path p = file_;
    p += ".1";
    return p;
}

void FileLogSink::append(const std::string& line) noexcept {
    try {
        appendOrThrow(line);
    } catch (const std::exception& e) {
        failed(e.what());
    }
}

void FileLogSink::appendOrThrow(const std::string& line) {
    if (file_.empty()) {
        failed("the system gave no folder for the station log");
        return;
    }
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file_, ec);
    const bool existed = !ec;
    std::string rotation;
    if (existed && size > 0 && size + line.size() + lineEnd_.size() > limit_) {
        // Replaces an older previous generation on both systems.
        fs::rename(file_, previous(), ec);
        if (ec) rotation = "cannot move " + place_ + " aside to " + place_ + ".1: " + ec.message();
    }

    std::ofstream out(file_, std::ios::binary | std::ios::app);
    if (!out && !fs::exists(file_.parent_path(), ec)) {
        fs::create_directories(file_.parent_path(), ec);
        out.open(file_, std::ios::binary | std::ios::app);
    }
    if (!out) {
        failed("cannot open " + place_ + " to append to it: " + lastError());
        return;
    }
    const std::string text = line + lineEnd_;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        failed("cannot write to " + place_ + ": " + lastError());
        return;
    }
    if (!existed || !rotation.empty()) {
        // Every station user's Tarnwick (and guardian) appends to the same
        // file: its group may write (on Linux the settings directory gives
        // it the station's group), other accounts may not. Best effort,
        // since a file system without such bits has no need.
        fs::permissions(file_, fs::perms::owner_write | fs::perms::group_write, fs::perm_options::add, ec);
        fs::permissions(file_, fs::perms::others_write, fs::perm_options::remove, ec);
    }
    if (!rotation.empty()) {
        // The line landed, but the file grows past its bound.
        failed(rotation);
        return;
    }
    problem_.clear();
    reported_ = false;  // a later failure is news again
}

void FileLogSink::failed(const std::string& why) noexcept {
    try {
        problem_ = why;
        if (reported_) return;
        reported_ = true;
        *errors_ << "tarnwick: the station log cannot be written: " << why
                 << " (said once; the About window shows the latest problem)" << std::endl;
    } catch (const std::exception&) {
        // Nothing is left to tell it with.
    }
}

std::vector<std::string> FileLogSink::latest(std::size_t count) const noexcept {
    try {
        bool whole = true;
        std::vector<std::string> lines = tailLines(file_, whole);
        if (lines.size() < count && whole) {
            // Just after a move aside: the rest comes from the previous file.
            bool ignored = true;
            std::vector<std::string> older = tailLines(previous(), ignored);
            lines.insert(lines.begin(), older.begin(), older.end());
        }
        if (lines.size() > count) lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(count));
        return lines;
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace tarnwick
