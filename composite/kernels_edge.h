// Scalar edge pixels for the SIMD translation units: the plain arithmetic of
// kernels_c.cpp, inlined so that the vector versions make no call per line;
// and the row entry steps that every instruction set shares.
// Everything here has internal linkage on purpose: each translation unit,
// compiled for its own instruction set, keeps its own copy.
#pragma once

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

// A copy pixel on the right half of a macropixel: only Y1 changes.
inline void EdgeLeadingYUY2(const uint8_t* copy, uint8_t* y1, int32_t opacity256)
{
    *y1 = EdgeLane(copy[0], *y1, copy[3], 0, opacity256);
}

// The last one to three copy pixels of a line from a macropixel boundary.
inline void EdgeRestYUY2(const uint8_t* copy, uint8_t* mp, int32_t count, int32_t opacity256)
{
    if (count >= 2) {
        const int32_t a0 = copy[3];
        mp[0] = EdgeLane(copy[0], mp[0], a0, 0, opacity256);
        mp[1] = EdgeLane((copy[1] + copy[5] + 1) >> 1, mp[1], a0, 128, opacity256);
        mp[2] = EdgeLane(copy[4], mp[2], copy[7], 0, opacity256);
        mp[3] = EdgeLane((copy[2] + copy[6] + 1) >> 1, mp[3], a0, 128, opacity256);
        copy += 8;
        mp += 4;
        count -= 2;
    }
    if (count == 1) {
        const int32_t a = copy[3];
        mp[0] = EdgeLane(copy[0], mp[0], a, 0, opacity256);
        mp[1] = EdgeLane(copy[1], mp[1], a, 128, opacity256);
        mp[3] = EdgeLane(copy[2], mp[3], a, 128, opacity256);
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

// A YUY2 row (BlendRowYUY2Fn): a first copy pixel on the right half of a
// macropixel changes only its Y1; the run goes on from the next macropixel.
template <BlendRunFn Full, BlendRunFn Partial>
inline void BlendRunYUY2(const uint8_t* copy, uint8_t* line, int32_t x, int32_t count, int32_t opacity256)
{
    if (x & 1) {
        EdgeLeadingYUY2(copy, line + 2 * static_cast<ptrdiff_t>(x), opacity256);
        copy += 4;
        ++x;
        if (--count == 0)
            return;
    }
    BlendRun<Full, Partial>(copy, line + 2 * static_cast<ptrdiff_t>(x), count, opacity256);
}

} // namespace
} // namespace horavel
