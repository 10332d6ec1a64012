#include "core/muldiv.h"

#include <gtest/gtest.h>

#include <climits>

namespace horavel {
namespace {

TEST(MulDiv, RoundsToNearestWithHalvesAwayFromZero)
{
    EXPECT_EQ(MulDiv(10, 125, 100), 13);    // 12.5
    EXPECT_EQ(MulDiv(58, 125, 100), 73);    // 72.5
    EXPECT_EQ(MulDiv(576, 100, 1000), 58);  // 57.6
    EXPECT_EQ(MulDiv(30, 255, 100), 77);    // 76.5
    EXPECT_EQ(MulDiv(128, 30, 100), 38);    // 38.4
    EXPECT_EQ(MulDiv(-7, 1, 2), -4);        // -3.5
    EXPECT_EQ(MulDiv(7, -1, 2), -4);
    EXPECT_EQ(MulDiv(7, 1, -2), -4);
    EXPECT_EQ(MulDiv(-7, -1, 2), 4);
    EXPECT_EQ(MulDiv(-7, 1, -2), 4);
    EXPECT_EQ(MulDiv(1, 1, 3), 0);
    EXPECT_EQ(MulDiv(2, 1, 3), 1);
    EXPECT_EQ(MulDiv(-2, 1, 3), -1);
    EXPECT_EQ(MulDiv(0, -5, 3), 0);
}

TEST(MulDiv, UsesA64BitIntermediate)
{
    EXPECT_EQ(MulDiv(100000, 100000, 100000), 100000);
    EXPECT_EQ(MulDiv(INT_MAX, INT_MAX, INT_MAX), INT_MAX);
    EXPECT_EQ(MulDiv(INT_MIN + 1, 2, 2), INT_MIN + 1);
}

TEST(MulDiv, ZeroDivisorAndOverflowGiveMinusOne)
{
    EXPECT_EQ(MulDiv(5, 1, 0), -1);
    EXPECT_EQ(MulDiv(0, 0, 0), -1);
    EXPECT_EQ(MulDiv(INT_MAX, 2, 1), -1);
    EXPECT_EQ(MulDiv(INT_MIN, 1, 1), -1);  // -2^31 is outside the result range
    EXPECT_EQ(MulDiv(INT_MIN, -1, 1), -1);
}

} // namespace
} // namespace horavel
