// Scalar edge pixels for the SIMD translation units: the plain arithmetic of
// kernels_c.cpp, inlined so that the vector versions make no call per line;
// and the row entry steps that every instruction set shares.
// Everything here has internal linkage on purpose: each translation unit,
// compiled for its own instruction set, keeps its own copy.
#pragma once

#include "composite/kernels.h"

#include <cstddef>
#include <cstdint>

namespace horavel {
namespace {

inline uint8_t EdgeLane(int32_t s, int32_t d, int32_t a, int32_t off, int32_t opacity256)
{
    const int32_t a1 = a + (a >> 7);
    const int32_t r = d + (((s - (((a1 * (d - off)) >> 8) + off)) * opacity256) >> 8);
    return static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
}

// The last few packed macropixels of a YUY2 run.
inline void EdgeRestYUY2(const uint8_t* s, const uint8_t* a, uint8_t* mp, int32_t macropixels,
                         int32_t opacity256)
{
    for (int32_t i = 0; i < macropixels; ++i, s += 4, a += 2, mp += 4) {
        mp[0] = EdgeLane(s[0], mp[0], a[0], 0, opacity256);
        mp[1] = EdgeLane(s[1], mp[1], a[0], 128, opacity256);
        mp[2] = EdgeLane(s[2], mp[2], a[1], 0, opacity256);
        mp[3] = EdgeLane(s[3], mp[3], a[0], 128, opacity256);
    }
}

// The last one to three pixels of an RGB24 run.
inline void EdgeRestRGB24(const uint8_t* copy, uint8_t* frame, int32_t count, int32_t opacity256)
{
    for (int32_t i = 0; i < count; ++i, copy += 4, frame += 3) {
        const int32_t a = copy[3];
        frame[0] = EdgeLane(copy[0], frame[0], a, 0, opacity256);
        frame[1] = EdgeLane(copy[1], frame[1], a, 0, opacity256);
        frame[2] = EdgeLane(copy[2], frame[2], a, 0, opacity256);
    }
}

// A run of `count` (>= 1) copy pixels onto frame bytes from `dst`: an RGB24
// pixel, or a YUY2 macropixel's first byte.
using BlendRunFn = void (*)(const uint8_t* copy, uint8_t* dst, int32_t count, int32_t opacity256);

// Full opacity (256) has cheaper arithmetic of its own: chosen once per row.
template <BlendRunFn Full, BlendRunFn Partial>
inline void BlendRun(const uint8_t* copy, uint8_t* dst, int32_t count, int32_t opacity256)
{
    if (opacity256 == 256)
        Full(copy, dst, count, opacity256);
    else
        Partial(copy, dst, count, opacity256);
}

// A packed YUY2 run (BlendRowYUY2Fn), full opacity chosen once per row.
using BlendPackedFn = void (*)(const uint8_t* s, const uint8_t* a, uint8_t* mp, int32_t macropixels,
                               int32_t opacity256);

template <BlendPackedFn Full, BlendPackedFn Partial>
inline void BlendRunYUY2(const uint8_t* s, const uint8_t* a, uint8_t* mp, int32_t macropixels,
                         int32_t opacity256)
{
    if (opacity256 == 256)
        Full(s, a, mp, macropixels, opacity256);
    else
        Partial(s, a, mp, macropixels, opacity256);
}

// A packed YUY2 row (PackRowYUY2Fn): a first pixel on the right half of a
// macropixel is packed on its own, the rest by `Pairs` from the next
// macropixel on.
using PackPairsFn = void (*)(const uint8_t* copy, int32_t count, uint8_t* s, uint8_t* a);

template <PackPairsFn Pairs>
inline void PackRunYUY2(const uint8_t* copy, int32_t count, int32_t odd, uint8_t* s, uint8_t* a)
{
    if (odd) {
        pack_row_yuy2_c(copy, 1, 1, s, a);
        if (--count == 0)
            return;
        copy += 4;
        s += 4;
        a += 2;
    }
    Pairs(copy, count, s, a);
}

} // namespace
} // namespace horavel
