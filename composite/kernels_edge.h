// Scalar edge pixels for the SIMD translation units: the plain arithmetic of
// kernels_c.cpp, inlined so that the vector versions make no call per line.
// Everything here has internal linkage on purpose: each translation unit,
// compiled for its own instruction set, keeps its own copy.
#pragma once

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

} // namespace
} // namespace horavel
