// Morse timing of the texts the stand-in "sends".
//
// PARIS timing: a dit is one unit, a dah three, the gap inside a character
// one, between characters three and between words seven units; a unit
// lasts 1200 / wpm milliseconds. "PARIS " is 50 units, 3 s at 20 wpm.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarnwick::nodesim {

inline constexpr int kMinWpm = 1;
inline constexpr int kMaxWpm = 100;

// The dits and dahs of `c` (".-" for 'A'; letter case ignored), or an empty
// view for a character that has no Morse code here: such characters are
// skipped. Known: letters, digits and / - ? . ,
std::string_view morseCode(char c);

// The length of `text` in units. A run of blanks is one word gap and counts
// only after a character that is sent (leading blanks cost nothing); the
// last character of a text without a trailing blank ends without a gap.
std::int64_t morseUnits(std::string_view text);

// The time `text` takes at `wpm` words a minute, rounded to whole ms.
std::int64_t morseDurationMs(std::string_view text, int wpm);

}  // namespace tarnwick::nodesim
