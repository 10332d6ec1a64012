// One YUY2 row blended as the compositor does it: the YUVA copy pixels
// packed by the table's packer into buffers of exactly the size it fills,
// then blended by the table's blender onto the macropixels they land on.
#pragma once

#include "composite/kernels.h"

#include <cstdint>
#include <vector>

namespace horavel {

// `count` (>= 1) copy pixels onto the YUY2 line `line`, the first landing on
// frame pixel x (>= 0).
inline void PackAndBlendYUY2(const KernelTable& k, const uint8_t* copy, uint8_t* line, int32_t x,
                             int32_t count, int32_t opacity256)
{
    const int32_t odd = x & 1;
    const int32_t macropixels = (odd + count + 1) / 2;
    std::vector<uint8_t> s(4 * size_t(macropixels)), a(2 * size_t(macropixels));
    k.packRowYUY2(copy, count, odd, s.data(), a.data());
    k.blendRowYUY2(s.data(), a.data(), line + 4 * (x >> 1), macropixels, opacity256);
}

} // namespace horavel
