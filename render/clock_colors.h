// Colours of the clock picture: a COLORREF (0x00BBGGRR) scaled by an opacity
// percentage for the colour plane, and the opacity itself as a grey level for
// the opacity plane. Both round through MulDiv (halves away from zero).
#pragma once

#include "core/muldiv.h"

#include <cstdint>

namespace horavel {

// Red, green and blue each become MulDiv(channel, percent, 100), kept to its
// low 8 bits; the fourth byte is 0.
constexpr uint32_t ScaleColorByPercent(uint32_t color, int32_t percent)
{
    const auto scale = [percent](uint32_t channel) {
        return static_cast<uint32_t>(MulDiv(static_cast<int32_t>(channel & 0xFF), percent, 100)) & 0xFF;
    };
    return scale(color) | scale(color >> 8) << 8 | scale(color >> 16) << 16;
}

// g = MulDiv(percent, 255, 100), kept to its low 8 bits, in all three
// channels (g * 0x010101).
constexpr uint32_t GreyFromPercent(int32_t percent)
{
    return (static_cast<uint32_t>(MulDiv(percent, 255, 100)) & 0xFF) * 0x010101u;
}

} // namespace horavel
