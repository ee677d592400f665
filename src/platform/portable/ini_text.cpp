#include "platform/portable/ini_text.h"

#include <vector>

namespace tarnwick::ini {

namespace {

// The blanks the profile functions drop around names and values. CR is one of
// them, so a CRLF line needs no special case when a line is read; ^Z is an
// old DOS end-of-file mark still found in hand-copied files.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Names match without regard to letter case, ASCII only: the settings keys
// are ASCII and a locale-dependent fold could make two spellings differ.
bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    }
    return true;
}

// One line of the file, as offsets into the text so that a write can replace
// exactly the bytes of one line and keep everything else.
struct Line {
    enum class Kind { Blank, Comment, Section, Entry };
    std::size_t begin = 0;       // first byte of the line
    std::size_t contentEnd = 0;  // end of the line without its CR LF or LF
    std::size_t end = 0;         // after the line's terminator (== contentEnd on a last line without one)
    Kind kind = Kind::Blank;
    std::string_view name;   // section or key name, without surrounding blanks
    std::string_view value;  // an entry's value, without surrounding blanks, quotes kept
    bool hasValue = false;   // the entry has an '='; a bare name reads as missing
};

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Where the lines start: an editor may have put a UTF-8 byte order mark in
// front of the first section header, and the profile functions skip it.
std::size_t bodyStart(std::string_view text) { return text.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0; }

std::vector<Line> splitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t pos = bodyStart(text);
    while (pos < text.size()) {
        Line line;
        line.begin = pos;
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) {
            line.contentEnd = line.end = text.size();
        } else {
            line.end = nl + 1;
            line.contentEnd = (nl > pos && text[nl - 1] == '\r') ? nl - 1 : nl;
        }
        pos = line.end;

        std::string_view content = trim(text.substr(line.begin, line.contentEnd - line.begin));
        std::size_t close = content.rfind(']');
        if (content.empty()) {
            line.kind = Line::Kind::Blank;
        } else if (content.front() == '[' && close != std::string_view::npos) {
            line.kind = Line::Kind::Section;
            line.name = trim(content.substr(1, close - 1));
        } else if (content.front() == ';') {
            line.kind = Line::Kind::Comment;
        } else {
            // Anything else is an entry, also a bare name without '=' or a
            // header missing its ']': that is how the profile functions
            // read such lines, and they are kept as they are on writing.
            line.kind = Line::Kind::Entry;
            std::size_t eq = content.find('=');
            if (eq == std::string_view::npos) {
                line.name = content;
            } else {
                line.name = trim(content.substr(0, eq));
                line.value = trim(content.substr(eq + 1));
                line.hasValue = true;
            }
        }
        lines.push_back(line);
    }
    return lines;
}

// Lines [first, last) of the first section with this name; first is the
// header's index. Only the first of two same-named sections is ever used.
struct SectionRange {
    std::size_t header;
    std::size_t last;
};

bool findSection(const std::vector<Line>& lines, std::string_view name, SectionRange& out) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != Line::Kind::Section || !sameName(lines[i].name, name)) continue;
        std::size_t j = i + 1;
        while (j < lines.size() && lines[j].kind != Line::Kind::Section) ++j;
        out = {i, j};
        return true;
    }
    return false;
}

const Line* findEntry(const std::vector<Line>& lines, const SectionRange& section, std::string_view key) {
    for (std::size_t i = section.header + 1; i < section.last; ++i) {
        if (lines[i].kind == Line::Kind::Entry && sameName(lines[i].name, key)) return &lines[i];
    }
    return nullptr;
}

std::string_view stripQuotes(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

// The buffer also holds the terminating NUL. The quotes are stripped before
// the cut, so a quoted value that just fills the buffer keeps its last
// character (Wine's profile code loses it in that one case).
std::string cutToBuffer(std::string_view v, std::size_t bufferSize) {
    if (bufferSize == 0) return {};
    return std::string(v.substr(0, bufferSize - 1));
}

// A value or name is one line of the file. Whatever follows a CR, LF or NUL
// is dropped: the C API would stop at the NUL, and letting a line break
// through would let a typed or pasted text add keys of its own to the file.
std::string_view singleLine(std::string_view s) {
    std::size_t stop = s.find_first_of(std::string_view("\r\n\0", 3));
    return stop == std::string_view::npos ? s : s.substr(0, stop);
}

// The file's own line ending, judged by its first line; LF for a file that
// has none yet (the Linux store creates it).
std::string_view lineEnding(std::string_view text) {
    std::size_t nl = text.find('\n');
    if (nl != std::string_view::npos && nl > 0 && text[nl - 1] == '\r') return "\r\n";
    return "\n";
}

}  // namespace

std::string readValue(std::string_view fileText, std::string_view section, std::string_view key,
                      std::string_view defaultValue, std::size_t bufferSize) {
    section = trim(section);
    key = trim(key);
    std::vector<Line> lines = splitLines(fileText);
    SectionRange range{};
    if (!key.empty() && findSection(lines, section, range)) {
        const Line* entry = findEntry(lines, range, key);
        if (entry && entry->hasValue) return cutToBuffer(stripQuotes(entry->value), bufferSize);
    }
    // The default loses its trailing spaces (Windows does this) and, as under
    // Wine, one pair of enclosing quotes, like a stored value.
    while (!defaultValue.empty() && defaultValue.back() == ' ') defaultValue.remove_suffix(1);
    return cutToBuffer(stripQuotes(defaultValue), bufferSize);
}

std::string writeValue(std::string_view fileText, std::string_view section, std::string_view key,
                       std::string_view value) {
    section = trim(singleLine(section));
    key = trim(singleLine(key));
    // Leading blanks would be lost on reading anyway; like Wine, the file
    // does not keep them. Trailing ones are kept as given.
    value = singleLine(value);
    while (!value.empty() && isBlank(value.front())) value.remove_prefix(1);
    if (key.empty()) return std::string(fileText);  // nothing that could be read back

    const std::string_view eol = lineEnding(fileText);
    std::string newLine;
    newLine.reserve(key.size() + 1 + value.size() + eol.size());
    std::vector<Line> lines = splitLines(fileText);
    SectionRange range{};

    if (!findSection(lines, section, range)) {
        // A new section goes at the very end, straight after the last line,
        // without a blank line in between (as Windows writes it).
        std::string out(fileText);
        if (out.size() > bodyStart(fileText) && out.back() != '\n') out += eol;
        out.append("[").append(section).append("]").append(eol);
        out.append(key).append("=").append(value).append(eol);
        return out;
    }

    if (const Line* entry = findEntry(lines, range, key)) {
        // The value reads the same already: leave the line, even when it was
        // written by hand with blanks around the '='.
        if (entry->hasValue && entry->value == value) return std::string(fileText);
        std::string out;
        out.reserve(fileText.size() + value.size());
        out.append(fileText.substr(0, entry->begin));
        out.append(entry->name).append("=").append(value);
        out.append(fileText.substr(entry->contentEnd));
        return out;
    }

    // A new key goes after the section's last non-blank line, so that blank
    // lines separating it from the next section stay where they are.
    std::size_t lastUsed = range.header;
    for (std::size_t i = range.header + 1; i < range.last; ++i) {
        if (lines[i].kind != Line::Kind::Blank) lastUsed = i;
    }
    const Line& after = lines[lastUsed];
    std::string out;
    out.reserve(fileText.size() + key.size() + value.size() + 2 * eol.size() + 1);
    out.append(fileText.substr(0, after.end));
    if (after.end == after.contentEnd) out += eol;  // the file's last line had no line ending
    out.append(key).append("=").append(value).append(eol);
    out.append(fileText.substr(after.end));
    return out;
}

}  // namespace tarnwick::ini
