#include <gtest/gtest.h>

#include "sysops/DateTime.h"

namespace ue {
namespace {

TEST(EncodeDateTime, CountsDaysFromDayZeroWithTimeAsFraction) {
    EXPECT_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0, 0), 0.0);  // same as "no time"
    EXPECT_EQ(EncodeDateTime(1899, 12, 31, 0, 0, 0, 0), 1.0);
    EXPECT_EQ(EncodeDateTime(1900, 1, 1, 0, 0, 0, 0), 2.0);
    EXPECT_EQ(EncodeDateTime(1900, 3, 1, 0, 0, 0, 0), 61.0);  // 1900 is no leap year
    EXPECT_EQ(EncodeDateTime(1980, 1, 1, 0, 0, 0, 0), 29221.0);
    EXPECT_EQ(EncodeDateTime(1980, 1, 1, 12, 0, 0, 0), 29221.5);
    EXPECT_EQ(EncodeDateTime(2000, 2, 29, 18, 0, 0, 0), 36585.75);
    EXPECT_EQ(EncodeDateTime(2107, 12, 31, 0, 0, 0, 0), 75971.0);
    EXPECT_EQ(EncodeDateTime(9999, 12, 31, 0, 0, 0, 0), 2958465.0);
    EXPECT_EQ(EncodeDateTime(1, 1, 1, 0, 0, 0, 0), -693593.0);
    // Before day zero the time of day is subtracted.
    EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);
    EXPECT_EQ(EncodeDateTime(1899, 12, 28, 18, 0, 0, 0), -2.75);
}

TEST(EncodeDateTime, KeepsMilliseconds) {
    const double value = EncodeDateTime(2024, 6, 1, 23, 59, 59, 999);
    EXPECT_EQ(value, 45444.0 + 86399999 / 86400000.0);
    EXPECT_LT(value, EncodeDateTime(2024, 6, 2, 0, 0, 0, 0));
    EXPECT_LT(EncodeDateTime(2024, 6, 1, 10, 0, 0, 1), EncodeDateTime(2024, 6, 1, 10, 0, 0, 2));
    // Equal parts give bit-identical values, so values may be compared exactly.
    EXPECT_EQ(EncodeDateTime(2024, 6, 1, 10, 11, 12, 13), EncodeDateTime(2024, 6, 1, 10, 11, 12, 13));
}

TEST(EncodeDateTime, InvalidPartsGiveZero) {
    EXPECT_EQ(EncodeDateTime(0, 1, 1, 0, 0, 0, 0), 0.0);
    EXPECT_EQ(EncodeDateTime(10000, 1, 1, 0, 0, 0, 0), 0.0);
    EXPECT_EQ(EncodeDateTime(2023, 0, 1, 0, 0, 0, 0), 0.0);
    EXPECT_EQ(EncodeDateTime(2023, 13, 1, 0, 0, 0, 0), 0.0);
    EXPECT_EQ(EncodeDateTime(2023, 2, 29, 0, 0, 0, 0), 0.0);
    EXPECT_EQ(EncodeDateTime(1900, 2, 29, 0, 0, 0, 0), 0.0);
    EXPECT_EQ(EncodeDateTime(2023, 11, 31, 0, 0, 0, 0), 0.0);
    EXPECT_EQ(EncodeDateTime(2023, 1, 0, 0, 0, 0, 0), 0.0);
    EXPECT_EQ(EncodeDateTime(2023, 1, 1, 24, 0, 0, 0), 0.0);
    EXPECT_EQ(EncodeDateTime(2023, 1, 1, 0, 60, 0, 0), 0.0);
    EXPECT_EQ(EncodeDateTime(2023, 1, 1, 0, 0, 60, 0), 0.0);
    EXPECT_EQ(EncodeDateTime(2023, 1, 1, 0, 0, 0, 1000), 0.0);
    EXPECT_EQ(EncodeDateTime(2023, 1, 1, -1, 0, 0, 0), 0.0);
}

}  // namespace
}  // namespace ue
