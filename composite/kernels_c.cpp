// Plain reference versions of the pixel kernels. They follow the formulas
// literally (floor as arithmetic shift of a signed value); the SIMD versions
// must reproduce them byte for byte.
#include "composite/kernels.h"

#include <cstring>

namespace horavel {

namespace {

inline int32_t Saturate(int32_t v)
{
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// The resampler's tap: floor(p * 128 * w / 65536) for a row word q = p << 7.
inline int16_t Tap(int32_t q, int32_t w)
{
    return static_cast<int16_t>((q * w) >> 16);
}

// Sum >> 5, saturated, as the row word p << 7 or as a byte.
inline int32_t PassResult(int16_t sum)
{
    return Saturate(sum >> 5);
}

} // namespace

YUVA ConvertToYUVA(uint8_t b, uint8_t g, uint8_t r, uint8_t a)
{
    // 15-bit coefficients; the luma sum is at most 32768 * 255, the chroma
    // sums within +-16384 * 255, so every result lies in 0..255.
    const int32_t y = (3735 * b + 19235 * g + 9798 * r) >> 15;
    const int32_t u = ((16384 * b - 10855 * g - 5529 * r) >> 15) + 128;
    const int32_t v = ((-2664 * b - 13720 * g + 16384 * r) >> 15) + 128;
    return YUVA{static_cast<uint8_t>(y), static_cast<uint8_t>(u), static_cast<uint8_t>(v), a};
}

uint8_t BlendLane(int32_t s, int32_t d, int32_t a, int32_t off, int32_t opacity256)
{
    const int32_t a1 = a + (a >> 7);
    const int32_t t = (a1 * (d - off)) >> 8;
    const int32_t u = s - (t + off);
    return static_cast<uint8_t>(Saturate(d + ((u * opacity256) >> 8)));
}

void convert_row_to_yuva_c(uint8_t* pixels, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        uint8_t* p = pixels + 4 * i;
        const YUVA c = ConvertToYUVA(p[0], p[1], p[2], p[3]);
        p[0] = c.y;
        p[1] = c.u;
        p[2] = c.v;
        p[3] = c.a;
    }
}

void pack_row_yuy2_c(const uint8_t* copy, int32_t count, int32_t odd, uint8_t* s, uint8_t* a)
{
    if (odd) {
        // Only the right half: the left one and the chroma stay as they are.
        s[0] = 0;
        s[1] = 128;
        s[2] = copy[0];
        s[3] = 128;
        a[0] = 0;
        a[1] = copy[3];
        copy += 4;
        s += 4;
        a += 2;
        --count;
    }
    for (; count >= 2; count -= 2, copy += 8, s += 4, a += 2) {
        s[0] = copy[0];
        s[1] = static_cast<uint8_t>((copy[1] + copy[5] + 1) >> 1);
        s[2] = copy[4];
        s[3] = static_cast<uint8_t>((copy[2] + copy[6] + 1) >> 1);
        a[0] = copy[3];
        a[1] = copy[7];
    }
    if (count == 1) {
        // Only the left half: its chroma follows this pixel alone.
        s[0] = copy[0];
        s[1] = copy[1];
        s[2] = 0;
        s[3] = copy[2];
        a[0] = copy[3];
        a[1] = 0;
    }
}

void blend_row_yuy2_c(const uint8_t* s, const uint8_t* a, uint8_t* mp, int32_t macropixels,
                      int32_t opacity256)
{
    for (int32_t i = 0; i < macropixels; ++i, s += 4, a += 2, mp += 4) {
        mp[0] = BlendLane(s[0], mp[0], a[0], 0, opacity256);
        mp[1] = BlendLane(s[1], mp[1], a[0], 128, opacity256);
        mp[2] = BlendLane(s[2], mp[2], a[1], 0, opacity256);
        mp[3] = BlendLane(s[3], mp[3], a[0], 128, opacity256);
    }
}

void blend_row_rgb24_c(const uint8_t* copy, uint8_t* frame, int32_t count, int32_t opacity256)
{
    for (int32_t i = 0; i < count; ++i, copy += 4, frame += 3) {
        const int32_t a = copy[3];
        frame[0] = BlendLane(copy[0], frame[0], a, 0, opacity256);
        frame[1] = BlendLane(copy[1], frame[1], a, 0, opacity256);
        frame[2] = BlendLane(copy[2], frame[2], a, 0, opacity256);
    }
}

void resample_vertical_c(const uint8_t* firstTap, ptrdiff_t stride, const int16_t* weights,
                         int32_t taps, int32_t width, int16_t* row)
{
    for (int32_t c = 0; c < width; ++c) {
        for (int32_t lane = 0; lane < 4; ++lane) {
            int16_t sum = 0;
            const uint8_t* p = firstTap + 4 * c + lane;
            for (int32_t k = 0; k < taps; ++k, p += stride)
                sum = static_cast<int16_t>(sum + Tap(*p << 7, weights[4 * k]));
            row[16 * c + lane] = static_cast<int16_t>(PassResult(sum) << 7);
        }
    }
}

void resample_horizontal_c(const int16_t* rows, const uint8_t* entries, int32_t count,
                           uint8_t* out, ptrdiff_t outStride, int32_t lines, bool yuva)
{
    for (int32_t i = 0; i < count; ++i) {
        int32_t header[2];
        std::memcpy(header, entries, sizeof header);
        const int16_t* w = reinterpret_cast<const int16_t*>(entries + 8);
        // The entry's first offset is column * 4; a column of the group is 16 words.
        const int16_t* q = rows + 4 * header[0];
        for (int32_t line = 0; line < lines; ++line) {
            for (int32_t lane = 0; lane < 4; ++lane) {
                int16_t sum = 0;
                for (int32_t k = 0; k < header[1]; ++k)
                    sum = static_cast<int16_t>(sum + Tap(q[16 * k + 4 * line + lane], w[4 * k + lane]));
                out[line * outStride + 4 * i + lane] = static_cast<uint8_t>(PassResult(sum));
            }
            if (yuva)
                convert_row_to_yuva_c(out + line * outStride + 4 * i, 1);
        }
        entries += 8 + 8 * header[1];
    }
}

void prefetch_c(const uint8_t*, size_t) {}

} // namespace horavel
