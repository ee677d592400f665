#include "window/convert.h"
#include "window/errors.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(NumberToText, WritesTheShortestDecimalForm) {
    EXPECT_EQ(numberToText(0), "0");
    EXPECT_EQ(numberToText(-0.0), "0");
    EXPECT_EQ(numberToText(900), "900");
    EXPECT_EQ(numberToText(-1), "-1");
    EXPECT_EQ(numberToText(12.5), "12.5");
    EXPECT_EQ(numberToText(-1500), "-1500");
    EXPECT_EQ(numberToText(59940), "59940");
}

TEST(NumberToText, RoundsToFifteenSignificantDigits) {
    // Positions from the graph are doubles with noise below 15 digits; equal
    // texts must mean equal to 15 digits, which the end-of-file test relies on.
    EXPECT_EQ(numberToText(12.5000000000000001), "12.5");
    EXPECT_EQ(numberToText(0.1 + 0.2), "0.3");
    EXPECT_EQ(numberToText(2.0 / 3.0), "0.666666666666667");
    EXPECT_EQ(numberToText(123456789012345.0), "123456789012345");
    EXPECT_EQ(numberToText(1e15), "1E+15");
    EXPECT_EQ(numberToText(0.00001), "1E-05");
}

TEST(NumberToText, UsesTheUsersDecimalSeparator) {
    EXPECT_EQ(numberToText(12.5, ","), "12,5");
    EXPECT_EQ(numberToText(300, ","), "300");
}

TEST(TextToNumber, AcceptsBlanksSignAndSeparator) {
    EXPECT_DOUBLE_EQ(textToNumber("  42 "), 42);
    EXPECT_DOUBLE_EQ(textToNumber("-7"), -7);
    EXPECT_DOUBLE_EQ(textToNumber("+3.25"), 3.25);
    EXPECT_DOUBLE_EQ(textToNumber(".5"), 0.5);
    EXPECT_DOUBLE_EQ(textToNumber("5."), 5);
    EXPECT_DOUBLE_EQ(textToNumber("12,5", ","), 12.5);
    EXPECT_DOUBLE_EQ(textToNumber("1E+15"), 1e15);
    EXPECT_DOUBLE_EQ(textToNumber("00"), 0);
}

TEST(TextToNumber, RefusesEverythingElseAsTypeMismatch) {
    for (const char* bad : {"", "   ", "abc", "1a", "1 2", "--1", "+", ".", "1.2.3", "12,5", "1e", "0x10", "1E+"}) {
        try {
            textToNumber(bad);
            ADD_FAILURE() << "accepted \"" << bad << "\"";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), err::kTypeMismatch) << bad;
        }
    }
    // With a comma separator the point is no separator.
    EXPECT_THROW(textToNumber("12.5", ","), Failure);
}

TEST(WholeNumbers, RoundHalvesToEven) {
    EXPECT_EQ(roundHalfEven(2.5, -10, 10), 2);
    EXPECT_EQ(roundHalfEven(3.5, -10, 10), 4);
    EXPECT_EQ(roundHalfEven(-2.5, -10, 10), -2);
    EXPECT_EQ(roundHalfEven(2.4999, -10, 10), 2);
    EXPECT_EQ(toInt16(32767.4), 32767);
}

TEST(WholeNumbers, OutOfRangeIsOverflow) {
    try {
        toInt16(32767.5);  // rounds to 32768
        ADD_FAILURE();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::kOverflow);
    }
    EXPECT_THROW(textToWhole("3", 0, 2), Failure);
    EXPECT_EQ(textToWhole(" 2 ", 0, 2), 2);
    EXPECT_THROW(textToNumber("1e999"), Failure);
}

}  // namespace
}  // namespace tarnwick
