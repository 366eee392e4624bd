#include <gtest/gtest.h>

#include "platform/exceptions.h"
#include "platform/numeric.h"
#include "platform/text.h"

using namespace qil;

TEST(Numeric, RoundIsTiesToEvenAndTruncTowardZero) {
    EXPECT_EQ(Round(0.5L), 0);
    EXPECT_EQ(Round(1.5L), 2);
    EXPECT_EQ(Round(2.5L), 2);
    EXPECT_EQ(Round(-2.5L), -2);
    EXPECT_EQ(Round(2.5000001L), 3);
    EXPECT_EQ(Trunc(-2.7L), -2);
    EXPECT_EQ(Trunc(2.7L), 2);
    EXPECT_EQ(Frac(-2.75L), -0.75L);
    EXPECT_EQ(sizeof(Extended), 16u);
    EXPECT_EQ(std::numeric_limits<long double>::digits, 64);
}

TEST(FloatToStr, FifteenSignificantDigitsGeneralFormat) {
    struct Case {
        long double v;
        char sep;
        const char* text;
    } cases[] = {
        {static_cast<long double>(0.1f), '.', "0.100000001490116"},
        {0.5L, '.', "0.5"},
        {0.5L, ',', "0,5"},
        {0, '.', "0"},
        {-1.25L, '.', "-1.25"},
        {static_cast<long double>(-2.3f), '.', "-2.29999995231628"},
        {100, '.', "100"},
        {123456789012345.0L, '.', "123456789012345"},
        {1234567890123456.0L, '.', "1.23456789012346E15"},
        {0.00001L, '.', "0.00001"},
        {0.000001L, '.', "1E-6"},
        {1.5e-7L, ',', "1,5E-7"},
        {1e20L, '.', "1E20"},
        {static_cast<long double>(1.0 / 3.0), '.', "0.333333333333333"},
        {0.9999999999999999L, '.', "1"},
    };
    for (const auto& c : cases) EXPECT_EQ(FloatToStr(c.v, c.sep), c.text) << static_cast<double>(c.v);
}

TEST(StrToFloat, AcceptsNumbersWithTheGivenSeparatorOnly) {
    EXPECT_EQ(StrToFloat("0.1"), 0.1L);
    EXPECT_EQ(StrToFloat("0,1", ','), 0.1L);
    EXPECT_EQ(StrToFloat(" -2.5 "), -2.5L);
    EXPECT_EQ(StrToFloat("+3"), 3.0L);
    EXPECT_EQ(StrToFloat("1e3"), 1000.0L);
    EXPECT_EQ(StrToFloat("2.5E-1"), 0.25L);
    EXPECT_EQ(StrToFloat(".5"), 0.5L);
    EXPECT_EQ(StrToFloat("5."), 5.0L);
    for (const char* bad : {"", " ", "abc", "0,1", "1.2.3", "1e", "e5", "-", ".", "1 2", "0x10", "inf", "nan", "1e99999"})
        EXPECT_THROW(StrToFloat(bad), EConvertError) << bad;
    try {
        StrToFloat("x");
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'x' is not a valid floating point value");
    }
    EXPECT_THROW(StrToFloat("0.1", ','), EConvertError);
}

TEST(StrToInt, DecimalHexAndRange) {
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt(" -17"), -17);
    EXPECT_EQ(StrToInt("$FF"), 255);
    EXPECT_EQ(StrToInt("0x10"), 16);
    EXPECT_EQ(StrToInt("2147483647"), INT32_MAX);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    for (const char* bad : {"", "2147483648", "12a", "1.5", "--1", "4 "}) EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
    try {
        StrToInt("zz");
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'zz' is not a valid integer value");
    }
}
