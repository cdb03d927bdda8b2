// The fixed-point frequency: conversion from MHz, clamping, and its decimal text.
#include "core/FrequencyBase.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>

using Frequency = FrequencyBase<9>;

TEST(FrequencyBaseTest, StoresMilliHertzExactly) {
    EXPECT_EQ(Frequency(1000.5).GetRaw(), 1000500000000);
    EXPECT_DOUBLE_EQ(Frequency(1000.5).ToDouble(), 1000.5);
    EXPECT_EQ(Frequency(0.1).GetRaw(), 100000000);
    EXPECT_EQ(Frequency(-2.5).GetRaw(), -2500000000);
    EXPECT_DOUBLE_EQ(Frequency(-2.5).ToDouble(), -2.5);
    EXPECT_EQ(Frequency().GetRaw(), 0);
    EXPECT_EQ(Frequency::GetDecimals(), 9u);
}

TEST(FrequencyBaseTest, HalvesRoundAwayFromZero) {
    EXPECT_EQ(Frequency(0.0000000005).GetRaw(), 1);
    EXPECT_EQ(Frequency(-0.0000000005).GetRaw(), -1);
    EXPECT_EQ(Frequency(0.0000000004).GetRaw(), 0);
}

TEST(FrequencyBaseTest, OutOfRangeValuesAreClamped) {
    const double infinity = std::numeric_limits<double>::infinity();
    EXPECT_EQ(Frequency(std::numeric_limits<double>::quiet_NaN()).GetRaw(), 0);
    EXPECT_EQ(Frequency(infinity).GetRaw(), INT64_MAX);
    EXPECT_EQ(Frequency(-infinity).GetRaw(), INT64_MIN);
    EXPECT_EQ(Frequency(1e300).GetRaw(), INT64_MAX);
    EXPECT_EQ(Frequency(-1e300).GetRaw(), INT64_MIN);
    // 2^63 / 10^9 MHz is the first value past the range.
    EXPECT_EQ(Frequency(9223372036.854775808).GetRaw(), INT64_MAX);
}

TEST(FrequencyBaseTest, TextShowsSignificantDecimals) {
    EXPECT_EQ(Frequency::ToText(Frequency(1000.5), 9999), "1000.5");
    EXPECT_EQ(Frequency::ToText(Frequency(0.0), 9999), "0");
    EXPECT_EQ(Frequency::ToText(Frequency(100.0), 9999), "100");
    EXPECT_EQ(Frequency::ToText(Frequency(0.000000001), 9999), "0.000000001");
    EXPECT_EQ(Frequency::ToText(Frequency(-0.25), 9999), "-0.25");
    std::ostringstream stream;
    stream << Frequency(123.456);
    EXPECT_EQ(stream.str(), "123.456");
}

TEST(FrequencyBaseTest, DigitLimitRoundsHalfAwayFromZero) {
    EXPECT_EQ(Frequency::ToText(Frequency(1000.5), 0), "1001");
    EXPECT_EQ(Frequency::ToText(Frequency(-1000.5), 0), "-1001");
    EXPECT_EQ(Frequency::ToText(Frequency(1000.44), 1), "1000.4");
    EXPECT_EQ(Frequency::ToText(Frequency(1000.45), 1), "1000.5");
    EXPECT_EQ(Frequency::ToText(Frequency(0.000000005), 8), "0.00000001");
    // Rounded to zero: no sign.
    EXPECT_EQ(Frequency::ToText(Frequency(-0.000000001), 8), "0");
    EXPECT_EQ(Frequency::ToText(Frequency(99.96), 1), "100");
    // Without decimals the zeros in front of the point stay.
    EXPECT_EQ(Frequency::ToText(Frequency(1000.0), 0), "1000");
    EXPECT_EQ(Frequency::ToText(Frequency(99.6), 0), "100");
}

TEST(FrequencyBaseTest, ExtremesPrintWithoutOverflow) {
    const double infinity = std::numeric_limits<double>::infinity();
    EXPECT_EQ(Frequency::ToText(Frequency(-infinity), 9999), "-9223372036.854775808");
    EXPECT_EQ(Frequency::ToText(Frequency(infinity), 9999), "9223372036.854775807");
    EXPECT_EQ(Frequency::ToText(Frequency(-infinity), 0), "-9223372037");
    EXPECT_EQ(Frequency::ToText(Frequency(infinity), 3), "9223372036.855");
}
