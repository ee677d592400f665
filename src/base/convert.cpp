#include "base/convert.h"

#include "base/errors.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tarnwick {

namespace {

Failure typeMismatch() { return Failure(err::kTypeMismatch, "Type mismatch"); }

bool isBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string numberToText(double value, std::string_view decimalSeparator) {
    if (value == 0.0 || !std::isfinite(value)) {
        return "0";
    }
    // to_chars, not snprintf: it never reads the C library's numeric locale,
    // which Qt sets from the environment; the separator is ours to choose.
    // Its general form is printf's %g in the "C" locale.
    char buf[64];
    const auto written = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    std::string text(buf, written.ptr);
    for (char& c : text)
        if (c == 'e') c = 'E';
    // Rounding to 15 digits can itself produce a negative zero ("-0").
    if (text == "-0") {
        return "0";
    }
    const auto dot = text.find('.');
    if (dot != std::string::npos && decimalSeparator != ".") {
        text.replace(dot, 1, decimalSeparator);
    }
    return text;
}

double textToNumber(std::string_view text, std::string_view decimalSeparator) {
    std::size_t b = 0;
    std::size_t e = text.size();
    while (b < e && isBlank(text[b])) ++b;
    while (e > b && isBlank(text[e - 1])) --e;
    std::string_view t = text.substr(b, e - b);
    if (t.empty()) throw typeMismatch();

    bool negative = false;
    if (t.front() == '+' || t.front() == '-') {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    // Rewrite into the C form that from_chars reads, validating as we go.
    std::string c;
    c.reserve(t.size());
    bool digitsBefore = false, digitsAfter = false, seenSep = false;
    std::size_t i = 0;
    while (i < t.size()) {
        char ch = t[i];
        if (ch >= '0' && ch <= '9') {
            (seenSep ? digitsAfter : digitsBefore) = true;
            c.push_back(ch);
            ++i;
        } else if (!seenSep && !decimalSeparator.empty() && t.substr(i, decimalSeparator.size()) == decimalSeparator) {
            seenSep = true;
            c.push_back('.');
            i += decimalSeparator.size();
        } else {
            break;
        }
    }
    if (!digitsBefore && !digitsAfter) throw typeMismatch();
    if (i < t.size()) {
        if (t[i] != 'e' && t[i] != 'E') throw typeMismatch();
        c.push_back('e');
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) c.push_back(t[i++]);
        bool expDigits = false;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
            c.push_back(t[i++]);
            expDigits = true;
        }
        if (!expDigits || i != t.size()) throw typeMismatch();
    }
    double v = 0;
    auto [ptr, ec] = std::from_chars(c.data(), c.data() + c.size(), v);
    if (ec == std::errc::result_out_of_range) {
        throw Failure(err::kOverflow, "Overflow");
    }
    if (ec != std::errc() || ptr != c.data() + c.size()) throw typeMismatch();
    return negative ? -v : v;
}

std::int64_t roundHalfEven(double value, std::int64_t lo, std::int64_t hi) {
    if (!std::isfinite(value)) throw Failure(err::kOverflow, "Overflow");
    const double r = std::nearbyint(value);  // the default rounding mode is to nearest, ties to even
    // Compared as whole numbers: the 64-bit bounds are not doubles, and
    // INT64_MAX as a double is 2^63, which no int64_t holds.
    constexpr double kTwo63 = 9223372036854775808.0;
    if (!(r >= -kTwo63 && r < kTwo63)) throw Failure(err::kOverflow, "Overflow");
    const auto whole = static_cast<std::int64_t>(r);
    if (whole < lo || whole > hi) throw Failure(err::kOverflow, "Overflow");
    return whole;
}

std::int16_t toInt16(double value) {
    return static_cast<std::int16_t>(
        roundHalfEven(value, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
}

std::int32_t toInt32(double value) {
    return static_cast<std::int32_t>(
        roundHalfEven(value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::int64_t textToWhole(std::string_view text, std::int64_t lo, std::int64_t hi, std::string_view decimalSeparator) {
    return roundHalfEven(textToNumber(text, decimalSeparator), lo, hi);
}

bool isAllDigits(std::string_view text) {
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

std::string FormatClock(double seconds) {
    const double t = std::floor(seconds);
    if (!(t >= 1)) return "00:00:00";
    const double h = std::floor(t / 3600);
    const double m = std::floor((t - 3600 * h) / 60);
    const double sec = t - 60 * std::floor(t / 60);
    if (h > 24) return "24:59:59";
    // Hour 24 is shown as it is: read as a time of day it would wrap to 00.
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(h), static_cast<int>(m), static_cast<int>(sec));
    return buf;
}

}  // namespace tarnwick
