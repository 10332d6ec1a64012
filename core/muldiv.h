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
    int64_t product = int64_t{a} * int64_t{b};
    int64_t divisor = c;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    // |product| <= 2^62 and divisor <= 2^31, so the sum below cannot overflow.
    const int64_t half = divisor / 2;
    const int64_t q = product >= 0 ? (product + half) / divisor : (product - half) / divisor;
    if (q > 2147483647 || q < -2147483647)
        return -1;
    return static_cast<int32_t>(q);
}

} // namespace horavel
