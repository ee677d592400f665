#include "base/convert.h"
#include "core/started.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

namespace tarnwick {
namespace {

using test::failureNumber;

// Positions from the graph are doubles with noise below 15 digits; equal
// texts must mean equal to 15 digits, which the end-of-file test relies on.
TEST(NumberToText, WritesTheShortestFormToFifteenDigitsWithTheUsersSeparator) {
    // clang-format off
    const std::pair<double, const char*> cases[] = {
        {0.0, "0"}, {-0.0, "0"}, {900, "900"}, {-1, "-1"}, {12.5, "12.5"}, {59940, "59940"},
        {12.5000000000000001, "12.5"}, {0.1 + 0.2, "0.3"}, {2.0 / 3.0, "0.666666666666667"},
        {123456789012345.0, "123456789012345"}, {1e15, "1E+15"}, {0.00001, "1E-05"}};
    // clang-format on
    for (const auto& [n, text] : cases) EXPECT_EQ(numberToText(n), text) << text;
    EXPECT_EQ(numberToText(12.5, ","), "12,5");
    EXPECT_EQ(numberToText(300, ","), "300");
}

// The C library's numeric locale (Qt sets it from the environment) has no
// say: a German LC_NUMERIC with the point as our separator still gives a
// point, and a comma separator a comma.
TEST(NumberToText, IgnoresTheCLibrarysNumericLocale) {
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    const char* german = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "de-DE"})
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            german = name;
            break;
        }
#ifndef _WIN32
    // Not installed: compiled from the system's locale sources, once a machine.
    if (german == nullptr) {
        const std::string dir = testing::TempDir() + "tarnwick-locales";
        const std::string make = "test -f '" + dir + "/de_DE.UTF-8/LC_NUMERIC' || { mkdir -p '" + dir +
                                 "' && localedef -i de_DE -f UTF-8 '" + dir + "/de_DE.UTF-8' >/dev/null 2>&1; }";
        if (std::system(make.c_str()) == 0 && setenv("LOCPATH", dir.c_str(), 1) == 0 &&
            std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr)
            german = "de_DE.UTF-8";
        unsetenv("LOCPATH");
    }
#endif
    if (german == nullptr) GTEST_SKIP() << "no German locale on this machine";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    const std::string inLocale = probe;
    const std::string point = numberToText(12.5), comma = numberToText(12.5, ",");
    const std::string large = numberToText(1.5e20);
    std::setlocale(LC_NUMERIC, before.c_str());
    ASSERT_EQ(inLocale, "1,5") << german << " is no comma locale";
    EXPECT_EQ(point, "12.5");
    EXPECT_EQ(comma, "12,5");
    EXPECT_EQ(large, "1.5E+20");
}

TEST(TextToNumber, AcceptsBlanksSignAndSeparatorAndRefusesEverythingElse) {
    for (auto [text, n] :
         {std::pair{"  42 ", 42.0}, {"-7", -7}, {"+3.25", 3.25}, {".5", 0.5}, {"5.", 5}, {"1E+15", 1e15}, {"00", 0}}) {
        EXPECT_DOUBLE_EQ(textToNumber(text), n) << text;
    }
    EXPECT_DOUBLE_EQ(textToNumber("12,5", ","), 12.5);
    for (const char* bad : {"", "   ", "abc", "1a", "1 2", "--1", "+", ".", "1.2.3", "12,5", "1e", "0x10", "1E+"}) {
        EXPECT_EQ(failureNumber([&] { textToNumber(bad); }), err::kTypeMismatch) << "\"" << bad << "\"";
    }
    EXPECT_THROW(textToNumber("12.5", ","), Failure);  // with a comma separator the point is no separator
}

TEST(WholeNumbers, RoundHalvesToEvenAndOutOfRangeIsOverflow) {
    for (auto [value, whole] : {std::pair{2.5, 2}, {3.5, 4}, {-2.5, -2}, {2.4999, 2}})
        EXPECT_EQ(roundHalfEven(value, -10, 10), whole) << value;
    EXPECT_EQ(toInt16(32767.4), 32767);
    EXPECT_EQ(failureNumber([] { toInt16(32767.5); }), err::kOverflow);  // rounds to 32768
    EXPECT_EQ(textToWhole(" 2 ", 0, 2), 2);
    EXPECT_THROW(textToWhole("3", 0, 2), Failure);
    EXPECT_THROW(textToNumber("1e999"), Failure);
    // The widest range: INT64_MAX is no double, its text reads as 2^63.
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min(), kMax = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(failureNumber([&] { textToWhole("9223372036854775807", kMin, kMax); }), err::kOverflow);
    EXPECT_EQ(roundHalfEven(-9223372036854775808.0, kMin, kMax), kMin);
}

}  // namespace
}  // namespace tarnwick
