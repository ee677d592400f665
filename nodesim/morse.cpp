#include "nodesim/morse.h"

#include <array>
#include <utility>

namespace tarnwick::nodesim {

namespace {

constexpr std::array<std::string_view, 26> kLetters = {
    ".-", "-...", "-.-.", "-..",  ".",   "..-.", "--.", "....", "..",   ".---", "-.-",  ".-..", "--",
    "-.", "---",  ".--.", "--.-", ".-.", "...",  "-",   "..-",  "...-", ".--",  "-..-", "-.--", "--..",
};
constexpr std::array<std::string_view, 10> kDigits = {
    "-----", ".----", "..---", "...--", "....-", ".....", "-....", "--...", "---..", "----.",
};
constexpr std::array<std::pair<char, std::string_view>, 5> kPunctuation = {{
    {'/', "-..-."},
    {'-', "-....-"},
    {'?', "..--.."},
    {'.', ".-.-.-"},
    {',', "--..--"},
}};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// A character's own length: its elements and the one-unit gaps between them.
std::int64_t characterUnits(std::string_view code) {
    std::int64_t units = 0;
    for (const char e : code) units += (e == '.') ? 1 : 3;
    return units + static_cast<std::int64_t>(code.size()) - 1;
}

}  // namespace

std::string_view morseCode(char c) {
    if (c >= 'a' && c <= 'z') return kLetters[c - 'a'];
    if (c >= 'A' && c <= 'Z') return kLetters[c - 'A'];
    if (c >= '0' && c <= '9') return kDigits[c - '0'];
    for (const auto& [ch, code] : kPunctuation) {
        if (ch == c) return code;
    }
    return {};
}

std::int64_t morseUnits(std::string_view text) {
    constexpr std::int64_t kCharacterGap = 3;
    constexpr std::int64_t kWordGap = 7;
    std::int64_t units = 0;
    std::int64_t pendingGap = 0;  // the gap owed before the next character sent
    bool sentAny = false;
    for (const char c : text) {
        if (isBlank(c)) {
            if (sentAny) pendingGap = kWordGap;
            continue;
        }
        const std::string_view code = morseCode(c);
        if (code.empty()) continue;  // not sendable: skipped as if absent
        units += pendingGap + characterUnits(code);
        pendingGap = kCharacterGap;
        sentAny = true;
    }
    // A trailing blank still costs its word gap; a trailing character gap
    // does not exist.
    if (pendingGap == kWordGap) units += kWordGap;
    return units;
}

std::int64_t morseDurationMs(std::string_view text, int wpm) {
    if (wpm < kMinWpm) wpm = kMinWpm;
    if (wpm > kMaxWpm) wpm = kMaxWpm;
    return (morseUnits(text) * 1200 + wpm / 2) / wpm;
}

}  // namespace tarnwick::nodesim
