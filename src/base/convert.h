// Conversions between numbers and the texts that controls hold.
//
// State lives in controls as text, so every counter and position goes through
// these two functions on every tick: they must agree with each other exactly
// (the end-of-file test compares two texts made by numberToText).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

// Decimal text of `value`: rounded to 15 significant digits, no trailing
// zeros, no separator for whole numbers, `decimalSeparator` otherwise, "-"
// for negatives, no leading blank. Very large or small magnitudes use the
// exponent form "1.5E+20" / "1E-05". Negative zero gives "0".
std::string numberToText(double value, std::string_view decimalSeparator = ".");

// Strict text to number. Surrounding blanks, one sign, digits, at most one
// `decimalSeparator` and an optional exponent are allowed. An empty or
// non-numeric text raises Failure 13 (type mismatch).
double textToNumber(std::string_view text, std::string_view decimalSeparator = ".");

// Rounds to the nearest whole number, halves to the even neighbour; a value
// outside [lo, hi] raises Failure 6 (overflow).
std::int64_t roundHalfEven(double value, std::int64_t lo, std::int64_t hi);

// The common targets of a whole-number conversion.
std::int16_t toInt16(double value);
std::int32_t toInt32(double value);

// textToNumber followed by the whole-number rounding into [lo, hi].
std::int64_t textToWhole(std::string_view text, std::int64_t lo, std::int64_t hi,
                         std::string_view decimalSeparator = ".");

bool isAllDigits(std::string_view text);  // true for "" as well

// "hh:mm:ss" for a number of seconds: "00:00:00" below one second,
// "24:59:59" beyond 24 h 59 min 59 s.
std::string FormatClock(double seconds);

}  // namespace tarnwick
