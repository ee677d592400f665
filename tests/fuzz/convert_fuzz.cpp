// Arbitrary bytes through every conversion a stored or typed text goes
// through: text to number, to a whole number in the ranges the program uses
// (a check box, the volume, 16- and 32-bit whole numbers, any 64-bit range)
// and back to text.
//
// Beyond the sanitizers, it checks the contract the counters and the
// end-of-file test rely on:
// - a text either reads as a finite number or fails with Failure 13 or 6,
//   never anything else;
// - a number written as text reads back, and writing it again gives the same
//   text (a count converted back and forth every tick stays put);
// - a whole-number conversion lands in its range, on the nearest whole
//   number, halves on the even one;
// - a text of 1 to 15 digits reads as exactly that number.
//
// The first byte picks the user's decimal separator ("0" a point, "1" a comma,
// "2" the Arabic one); the rest is the text. Its first 8 bytes are also taken
// as a double, for the writing side alone.
#include "base/convert.h"
#include "base/errors.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

using namespace tarnwick;

namespace {

[[noreturn]] void fail(const char* what, std::string_view text, std::string_view sep) {
    std::fprintf(stderr, "convert fuzz: %s: text \"%.*s\", separator \"%.*s\"\n", what, static_cast<int>(text.size()),
                 text.data(), static_cast<int>(sep.size()), sep.data());
    std::abort();
}

// The number a text reads as, or nothing when it fails as it may.
bool read(std::string_view text, std::string_view sep, double& out) {
    try {
        out = textToNumber(text, sep);
    } catch (const Failure& f) {
        if (f.number() != err::kTypeMismatch && f.number() != err::kOverflow) fail("an unexpected failure", text, sep);
        return false;
    }
    if (!std::isfinite(out)) fail("a number that is not finite", text, sep);
    return true;
}

// Written as text, the number reads back and writes to the same text. At the
// very edges of the double range a 15-digit text may round past the largest
// double or below the smallest normal one, and then reads as an overflow; no
// count, position or length comes near them.
void roundTrip(double v, std::string_view sep) {
    const double magnitude = std::fabs(v);
    if (std::isfinite(v) && magnitude != 0 && (magnitude < 1e-300 || magnitude > 1e300)) return;
    const std::string written = numberToText(v, sep);
    double back = 0;
    if (!read(written, sep, back)) fail("a written number does not read back", written, sep);
    if (numberToText(back, sep) != written) fail("a written number writes back differently", written, sep);
    if (std::isfinite(v) && std::fabs(back - v) > std::fabs(v) * 1e-14) fail("a written number moved", written, sep);
}

// Whether the whole number n lies in [lo, hi], without converting a double
// that no 64-bit integer can hold.
bool inRange(double n, std::int64_t lo, std::int64_t hi) {
    if (!(n >= -9223372036854775808.0 && n < 9223372036854775808.0)) return false;
    const auto i = static_cast<std::int64_t>(n);
    return i >= lo && i <= hi;
}

void wholeIn(double v, std::int64_t lo, std::int64_t hi, std::string_view text, std::string_view sep) {
    std::int64_t r = 0;
    try {
        r = roundHalfEven(v, lo, hi);
    } catch (const Failure& f) {
        if (f.number() != err::kOverflow) fail("a whole number failed other than by overflow", text, sep);
        // Refused: then the nearest whole number really lies outside.
        if (inRange(std::nearbyint(v), lo, hi)) fail("a whole number in range was refused", text, sep);
        return;
    }
    if (r < lo || r > hi) fail("a whole number out of its range", text, sep);
    const double d = static_cast<double>(r);
    if (std::fabs(d - v) > 0.5) fail("a whole number not the nearest", text, sep);
    if (std::fabs(d - v) == 0.5 && r % 2 != 0) fail("a half not rounded to even", text, sep);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const char* const separators[] = {".", ",", "\xD9\xAB"};
    const std::string_view sep = separators[data[0] % 3];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    if (text.size() >= 8) {
        double raw = 0;
        std::memcpy(&raw, text.data(), sizeof raw);
        roundTrip(raw, sep);
    }

    double v = 0;
    const bool isNumber = read(text, sep, v);
    if (isAllDigits(text) && !text.empty() && text.size() <= 15) {
        if (!isNumber) fail("digits did not read", text, sep);
        if (v != static_cast<double>(std::strtoll(std::string(text).c_str(), nullptr, 10)))
            fail("digits read as another number", text, sep);
    }
    if (!isNumber) return 0;
    roundTrip(v, sep);

    // The whole-number targets of the program: a check box, the volume, the
    // bars and positions, and the widest.
    wholeIn(v, 0, 2, text, sep);
    wholeIn(v, -3000, 0, text, sep);
    wholeIn(v, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max(), text, sep);
    wholeIn(v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), text, sep);
    wholeIn(v, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), text, sep);

    // The wrappers agree with the rounding they stand for.
    try {
        if (toInt16(v) != roundHalfEven(v, -32768, 32767)) fail("toInt16 disagrees", text, sep);
    } catch (const Failure&) {
    }
    try {
        if (toInt32(v) !=
            roundHalfEven(v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()))
            fail("toInt32 disagrees", text, sep);
    } catch (const Failure&) {
    }
    try {
        if (textToWhole(text, -3000, 0, sep) != roundHalfEven(v, -3000, 0)) fail("textToWhole disagrees", text, sep);
    } catch (const Failure&) {
    }
    return 0;
}
