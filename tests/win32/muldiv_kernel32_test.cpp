// The portable MulDiv against the system's own, on edge and random inputs.
#include "core/muldiv.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <vector>

namespace {

TEST(MulDivAgainstKernel32, EdgeInputs)
{
    const std::vector<int32_t> values = {0, 1, -1, 2, -2, 3, -3, 7, -7, 100, -100, 125, 1000, 65535, 65536,
                                         INT_MAX, INT_MAX - 1, INT_MIN, INT_MIN + 1, INT_MAX / 2, INT_MIN / 2,
                                         46341, -46341};
    for (int32_t a : values)
        for (int32_t b : values)
            for (int32_t c : values)
                ASSERT_EQ(horavel::MulDiv(a, b, c), ::MulDiv(a, b, c)) << a << " * " << b << " / " << c;
}

TEST(MulDivAgainstKernel32, RandomInputs)
{
    const uint32_t seed = std::random_device{}();
    std::mt19937 rng(seed);
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::uniform_int_distribution<int32_t> any(INT_MIN, INT_MAX);
    std::uniform_int_distribution<int32_t> small(-5000, 5000);
    for (int i = 0; i < 300000; ++i) {
        // Mix full-range values with the small ones that percentages and
        // thousandths use, where rounding matters most.
        const int32_t a = (i & 1) ? any(rng) : small(rng);
        const int32_t b = (i & 2) ? any(rng) : small(rng);
        const int32_t c = (i & 4) ? any(rng) : small(rng);
        ASSERT_EQ(horavel::MulDiv(a, b, c), ::MulDiv(a, b, c)) << a << " * " << b << " / " << c;
    }
}

} // namespace
