// MulDiv: a * b / c with a 64-bit intermediate, rounded to the nearest
// integer, halves away from zero. Every conversion between percentages,
// thousandths and pixels in the plug-in goes through it.
#pragma once

#include <cstdint>

namespace horavel {

// Same results as the Windows function of that name, including its answers
// for the cases that have no true result: a zero divisor gives -1, and so does
// a quotient outside -2147483647..2147483647.
constexpr int32_t MulDiv(int32_t a, int32_t b, int32_t c)
{
    if (c == 0)
        return -1;
    // A negative divisor moves its sign to the multiplicand. Both negations
    // wrap in 32 bits as the system's own does, which only matters for
    // -2147483648 (it stays negative).
    if (c < 0) {
        a = static_cast<int32_t>(0u - static_cast<uint32_t>(a));
        c = static_cast<int32_t>(0u - static_cast<uint32_t>(c));
    }
    // Round half away from zero: add half the divisor when the product is
    // positive, subtract it when negative, then truncate. |a * b| <= 2^62.
    const int64_t product = int64_t{a} * int64_t{b};
    const int64_t half = c / 2;
    const bool positive = (a < 0) == (b < 0);
    const int64_t q = positive ? (product + half) / c : (product - half) / c;
    if (q > 2147483647 || q < -2147483647)
        return -1;
    return static_cast<int32_t>(q);
}

} // namespace horavel
