// AVX2 versions of the pixel kernels (compiled with -mavx2 only). The 256-bit
// shuffles work within each 128-bit half, so each half carries its own group
// of pixels and the halves are put in order once, at the load or the store.
// Helpers have internal linkage.
#include "composite/kernels.h"
#include "composite/kernels_edge.h"
#include "composite/kernels_vec128.h"

#include <immintrin.h>

#include <cstring>

namespace horavel {

namespace {

constexpr char Z = -128;  // shuffle index that yields a zero byte

inline __m128i Load64(const void* p)
{
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

inline __m128i Load128(const void* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline __m256i Load256(const void* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

inline __m256i Opacity256(__m256i a)
{
    return _mm256_add_epi16(a, _mm256_srli_epi16(a, 7));
}

// BlendWords and BlendWordsYUY2 of kernels_vec128.h on 16 lanes.
template <bool Full>
inline __m256i BlendWords(__m256i s, __m256i d, __m256i a1, __m256i offTerm, __m256i op16)
{
    const __m256i v =
        _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(a1, d), offTerm), 8);
    const __m256i u = _mm256_sub_epi16(s, v);
    if (Full)
        return _mm256_add_epi16(d, u);
    return _mm256_add_epi16(d, _mm256_mulhi_epi16(_mm256_slli_epi16(u, 4), op16));
}

template <bool Full>
inline __m256i BlendWordsYUY2(__m256i s, __m256i d, __m256i a1, __m256i op16)
{
    const __m256i off = _mm256_set_epi16(128, 0, 128, 0, 128, 0, 128, 0, 128, 0, 128, 0, 128, 0, 128, 0);
    const __m256i off256 = _mm256_set_epi16(-32768, 0, -32768, 0, -32768, 0, -32768, 0, -32768, 0, -32768, 0, -32768, 0, -32768, 0);
    const __m256i v = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(a1, _mm256_sub_epi16(d, off)), off256), 8);
    const __m256i u = _mm256_sub_epi16(s, v);
    if (Full)
        return _mm256_add_epi16(d, u);
    return _mm256_add_epi16(d, _mm256_mulhi_epi16(_mm256_slli_epi16(u, 4), op16));
}

inline __m256i Twice(__m128i lo)
{
    return _mm256_broadcastsi128_si256(lo);
}

// Four pixels per 128-bit half: f holds 12 frame bytes (B G R of four
// pixels) in each half, c four BGRA copy pixels; returns B G R x per pixel.
template <bool Full>
inline __m256i BlendRGB24Pixels(__m256i f, __m256i c, __m256i op16)
{
    const __m256i alpha01 = Twice(_mm_setr_epi8(3, Z, 3, Z, 3, Z, 3, Z, 7, Z, 7, Z, 7, Z, 7, Z));
    const __m256i alpha23 =
        Twice(_mm_setr_epi8(11, Z, 11, Z, 11, Z, 11, Z, 15, Z, 15, Z, 15, Z, 15, Z));
    const __m256i a01 = Opacity256(_mm256_shuffle_epi8(c, alpha01));
    const __m256i a23 = Opacity256(_mm256_shuffle_epi8(c, alpha23));
    if (Full) {
        // With full opacity and off = 0 the blend is S + (D - floor(A' * D / 256)),
        // where the bracket lies in 0..D: one unsigned saturating byte add.
        // floor(A' * D / 256) is the unsigned high half of (D << 8) * A'.
        const __m256i high01 = Twice(_mm_setr_epi8(Z, 0, Z, 1, Z, 2, Z, Z, Z, 3, Z, 4, Z, 5, Z, Z));
        const __m256i high23 = Twice(_mm_setr_epi8(Z, 6, Z, 7, Z, 8, Z, Z, Z, 9, Z, 10, Z, 11, Z, Z));
        const __m256i spread = Twice(_mm_setr_epi8(0, 1, 2, Z, 3, 4, 5, Z, 6, 7, 8, Z, 9, 10, 11, Z));
        const __m256i t = _mm256_packus_epi16(_mm256_mulhi_epu16(_mm256_shuffle_epi8(f, high01), a01),
                                              _mm256_mulhi_epu16(_mm256_shuffle_epi8(f, high23), a23));
        return _mm256_adds_epu8(c, _mm256_sub_epi8(_mm256_shuffle_epi8(f, spread), t));
    }
    const __m256i zero = _mm256_setzero_si256();
    const __m256i frame01 = Twice(_mm_setr_epi8(0, Z, 1, Z, 2, Z, Z, Z, 3, Z, 4, Z, 5, Z, Z, Z));
    const __m256i frame23 = Twice(_mm_setr_epi8(6, Z, 7, Z, 8, Z, Z, Z, 9, Z, 10, Z, 11, Z, Z, Z));
    const __m256i r01 = BlendWords<false>(_mm256_unpacklo_epi8(c, zero),
                                          _mm256_shuffle_epi8(f, frame01), a01, zero, op16);
    const __m256i r23 = BlendWords<false>(_mm256_unpackhi_epi8(c, zero),
                                          _mm256_shuffle_epi8(f, frame23), a23, zero, op16);
    return _mm256_packus_epi16(r01, r23);
}

template <bool Full>
void BlendRGB24(const uint8_t* copy, uint8_t* frame, int32_t count, int32_t opacity256)
{
    const __m256i op16 = _mm256_set1_epi16(static_cast<int16_t>(opacity256 * 16));
    const __m256i pack = Twice(_mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, Z, Z, Z, Z));
    // Frame dwords 0..5 (24 bytes) -> 12 bytes in each half, and back.
    const __m256i spread = _mm256_setr_epi32(0, 1, 2, 2, 3, 4, 5, 5);
    const __m256i gather = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8, copy += 32, frame += 24) {
        // 24 frame bytes read as 16 + 8: nothing past them is read.
        const __m256i raw = _mm256_inserti128_si256(_mm256_castsi128_si256(Load128(frame)),
                                                    Load64(frame + 16), 1);
        const __m256i f = _mm256_permutevar8x32_epi32(raw, spread);
        const __m256i r = BlendRGB24Pixels<Full>(f, Load256(copy), op16);
        const __m256i out = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(r, pack), gather);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(frame), _mm256_castsi256_si128(out));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(frame + 16), _mm256_extracti128_si256(out, 1));
    }
    if (i + 4 <= count) {
        // Four more pixels in the lower half (the upper one computes nothing of use).
        const __m128i f = _mm_unpacklo_epi64(Load64(frame), Load32(frame + 8));
        const __m256i r = BlendRGB24Pixels<Full>(_mm256_castsi128_si256(f),
                                                 _mm256_castsi128_si256(Load128(copy)), op16);
        const __m128i out = _mm_shuffle_epi8(_mm256_castsi256_si128(r), _mm256_castsi256_si128(pack));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(frame), out);
        Store32(frame + 8, _mm_srli_si128(out, 8));
        i += 4;
        copy += 16;
        frame += 12;
    }
    if (i < count)
        EdgeRestRGB24(copy, frame, count - i, opacity256);
}

template <bool Full>
void BlendYUY2(const uint8_t* s, const uint8_t* a, uint8_t* mp, int32_t macropixels, int32_t opacity256)
{
    const __m256i op16 = _mm256_set1_epi16(static_cast<int16_t>(opacity256 * 16));
    // Opacity bytes of macropixels 0..7 -> A' words [A0' A0' A1' A0']:
    // macropixels 0..3 in the first vector (two per half), 4..7 in the second.
    const __m256i first = _mm256_setr_epi8(0, Z, 0, Z, 1, Z, 0, Z, 2, Z, 2, Z, 3, Z, 2, Z,
                                           4, Z, 4, Z, 5, Z, 4, Z, 6, Z, 6, Z, 7, Z, 6, Z);
    const __m256i second = _mm256_setr_epi8(8, Z, 8, Z, 9, Z, 8, Z, 10, Z, 10, Z, 11, Z, 10, Z,
                                            12, Z, 12, Z, 13, Z, 12, Z, 14, Z, 14, Z, 15, Z, 14, Z);
    int32_t i = 0;
    for (; i + 8 <= macropixels; i += 8, s += 32, a += 16, mp += 32) {
        // The opacity bytes in both halves, so that each half picks its own.
        const __m256i a16 = Twice(Load128(a));
        const __m256i r0 = BlendWordsYUY2<Full>(_mm256_cvtepu8_epi16(Load128(s)), _mm256_cvtepu8_epi16(Load128(mp)),
                                                Opacity256(_mm256_shuffle_epi8(a16, first)), op16);
        const __m256i r1 =
            BlendWordsYUY2<Full>(_mm256_cvtepu8_epi16(Load128(s + 16)), _mm256_cvtepu8_epi16(Load128(mp + 16)),
                                 Opacity256(_mm256_shuffle_epi8(a16, second)), op16);
        // The pack works per half: macropixels (0 1 | 4 5) and (2 3 | 6 7); put them in order.
        const __m256i out = _mm256_permute4x64_epi64(_mm256_packus_epi16(r0, r1), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(mp), out);
    }
    if (i + 4 <= macropixels) {
        // Four more: sixteen frame bytes, eight opacity bytes.
        const __m256i a8 = Twice(Load64(a));
        const __m256i r = BlendWordsYUY2<Full>(_mm256_cvtepu8_epi16(Load128(s)), _mm256_cvtepu8_epi16(Load128(mp)),
                                               Opacity256(_mm256_shuffle_epi8(a8, first)), op16);
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(r, r), 0xD8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(mp), _mm256_castsi256_si128(packed));
        i += 4;
        s += 16;
        a += 8;
        mp += 16;
    }
    if (i < macropixels)
        EdgeRestYUY2(s, a, mp, macropixels - i, opacity256);
}

} // namespace

namespace {

// Pixels from a macropixel's left half on (count >= 1).
void PackPairs(const uint8_t* copy, int32_t count, uint8_t* s, uint8_t* a)
{
    // Sixteen pixels (64 bytes) -> eight macropixels. Each half of a vector
    // packs its four pixels as the SSSE3 version does; the halves' results
    // are put in order at the end.
    const __m256i luma = Twice(_mm_setr_epi8(0, Z, 4, Z, 8, Z, 12, Z, Z, Z, Z, Z, Z, Z, Z, Z));
    const __m256i chroma = Twice(_mm_setr_epi8(Z, 1, Z, 2, Z, 9, Z, 10, Z, Z, Z, Z, Z, Z, Z, Z));
    const __m256i alpha = Twice(_mm_setr_epi8(3, 7, 11, 15, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z));
    const __m256i alphaOrder = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    auto half = [&](__m256i c) {
        const __m256i avg = _mm256_avg_epu8(c, _mm256_srli_si256(c, 4));
        return _mm256_or_si256(_mm256_shuffle_epi8(c, luma), _mm256_shuffle_epi8(avg, chroma));
    };
    for (; count >= 16; count -= 16, copy += 64, s += 32, a += 16) {
        const __m256i c0 = Load256(copy);
        const __m256i c1 = Load256(copy + 32);
        // Quarters (0 1 | 4 5) and (2 3 | 6 7) of the macropixels; in order.
        const __m256i sb = _mm256_permute4x64_epi64(_mm256_unpacklo_epi64(half(c0), half(c1)), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(s), sb);
        const __m256i ab = _mm256_permutevar8x32_epi32(
            _mm256_unpacklo_epi32(_mm256_shuffle_epi8(c0, alpha), _mm256_shuffle_epi8(c1, alpha)), alphaOrder);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(a), _mm256_castsi256_si128(ab));
    }
    if (count > 0)
        pack_row_yuy2_c(copy, count, 0, s, a);
}

} // namespace

void pack_row_yuy2_avx2(const uint8_t* copy, int32_t count, int32_t odd, uint8_t* s, uint8_t* a)
{
    PackRunYUY2<PackPairs>(copy, count, odd, s, a);
}

// With the frame's other code (the larger RGB24 kernel last).
void blend_row_yuy2_avx2(const uint8_t* s, const uint8_t* a, uint8_t* mp, int32_t macropixels,
                                            int32_t opacity256)
{
    BlendRunYUY2<BlendYUY2<true>, BlendYUY2<false>>(s, a, mp, macropixels, opacity256);
}

void blend_row_rgb24_avx2(const uint8_t* copy, uint8_t* frame, int32_t count, int32_t opacity256)
{
    BlendRun<BlendRGB24<true>, BlendRGB24<false>>(copy, frame, count, opacity256);
}

namespace {

// ConvertToYUVA on eight BGRA pixels (four per 128-bit half). Lane 3 carries
// the constant 256 so that one multiply-add also adds the chroma offset
// 128 << 15 = 256 * 16384.
inline __m256i ConvertYUVA8(__m256i c)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i rgbMask = Twice(_mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1));
    const __m256i k256 = Twice(_mm_set_epi16(256, 0, 0, 0, 256, 0, 0, 0));
    const __m256i lo = _mm256_or_si256(_mm256_and_si256(_mm256_unpacklo_epi8(c, zero), rgbMask), k256);
    const __m256i hi = _mm256_or_si256(_mm256_and_si256(_mm256_unpackhi_epi8(c, zero), rgbMask), k256);
    auto sums = [&](__m256i k) {
        return _mm256_srai_epi32(_mm256_hadd_epi32(_mm256_madd_epi16(lo, k), _mm256_madd_epi16(hi, k)),
                                 15);
    };
    const __m256i kY = Twice(_mm_set_epi16(0, 9798, 19235, 3735, 0, 9798, 19235, 3735));
    const __m256i kU = Twice(_mm_set_epi16(16384, -5529, -10855, 16384, 16384, -5529, -10855, 16384));
    const __m256i kV = Twice(_mm_set_epi16(16384, 16384, -13720, -2664, 16384, 16384, -13720, -2664));
    const __m256i order = Twice(_mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
    const __m256i b = _mm256_packus_epi16(_mm256_packs_epi32(sums(kY), sums(kU)),
                                          _mm256_packs_epi32(sums(kV), _mm256_srli_epi32(c, 24)));
    return _mm256_shuffle_epi8(b, order);
}

} // namespace

void convert_row_to_yuva_avx2(uint8_t* pixels, int32_t count)
{
    int32_t i = 0;
    for (; i + 8 <= count; i += 8, pixels += 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels), ConvertYUVA8(Load256(pixels)));
    if (i < count)
        convert_row_to_yuva_c(pixels, count - i);
}

namespace {

// Four pixels' words (p0 p1 | p2 p3) to their places 16 words apart.
inline void StoreSpread(int16_t* row, __m256i p)
{
    const __m128i lo = _mm256_castsi256_si128(p);
    const __m128i hi = _mm256_extracti128_si256(p, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(row), lo);
    _mm_storeh_pi(reinterpret_cast<__m64*>(row + 16), _mm_castsi128_ps(lo));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(row + 32), hi);
    _mm_storeh_pi(reinterpret_cast<__m64*>(row + 48), _mm_castsi128_ps(hi));
}

// Eight pixels (32 lanes) of the vertical pass.
inline void VerticalBlock(const uint8_t* p, ptrdiff_t stride, const int16_t* weights, int32_t taps,
                          int16_t* row)
{
    const __m256i zero = _mm256_setzero_si256();
    __m256i acc0 = zero, acc1 = zero;
    for (int32_t k = 0; k < taps; ++k, p += stride) {
        const __m256i w = _mm256_set1_epi16(weights[4 * k]);
        const __m256i v0 = _mm256_slli_epi16(_mm256_cvtepu8_epi16(Load128(p)), 7);
        const __m256i v1 = _mm256_slli_epi16(_mm256_cvtepu8_epi16(Load128(p + 16)), 7);
        acc0 = _mm256_add_epi16(acc0, _mm256_mulhi_epi16(v0, w));
        acc1 = _mm256_add_epi16(acc1, _mm256_mulhi_epi16(v1, w));
    }
    const __m256i max = _mm256_set1_epi16(255);
    acc0 = _mm256_min_epi16(_mm256_max_epi16(_mm256_srai_epi16(acc0, 5), zero), max);
    acc1 = _mm256_min_epi16(_mm256_max_epi16(_mm256_srai_epi16(acc1, 5), zero), max);
    StoreSpread(row, _mm256_slli_epi16(acc0, 7));
    StoreSpread(row + 64, _mm256_slli_epi16(acc1, 7));
}

// The tap products of one entry for the four group lines, summed: words
// [line 0 | line 1 || line 2 | line 3]; advances `entry` to the next one.
inline __m256i TapSums(const int16_t* rows, const uint8_t*& entry)
{
    int32_t header[2];
    std::memcpy(header, entry, sizeof header);
    const int16_t* q = rows + 4 * header[0];
    const int16_t* w = reinterpret_cast<const int16_t*>(entry + 8);
    const int32_t taps = header[1];
    entry += 8 + 8 * taps;
    auto tap = [&](int32_t k) {
        return _mm256_mulhi_epi16(Load256(q + 16 * k), _mm256_broadcastq_epi64(Load64(w + 4 * k)));
    };
    // The tap counts inside the source of an upscale (6) and of a slight
    // downscale (7), unrolled.
    if (taps == 6)
        return _mm256_srai_epi16(
            _mm256_add_epi16(_mm256_add_epi16(_mm256_add_epi16(tap(0), tap(1)),
                                              _mm256_add_epi16(tap(2), tap(3))),
                             _mm256_add_epi16(tap(4), tap(5))),
            5);
    if (taps == 7)
        return _mm256_srai_epi16(
            _mm256_add_epi16(_mm256_add_epi16(_mm256_add_epi16(tap(0), tap(1)),
                                              _mm256_add_epi16(tap(2), tap(3))),
                             _mm256_add_epi16(_mm256_add_epi16(tap(4), tap(5)), tap(6))),
            5);
    __m256i acc0 = _mm256_setzero_si256(), acc1 = _mm256_setzero_si256();
    int32_t k = 0;
    for (; k + 2 <= taps; k += 2) {
        acc0 = _mm256_add_epi16(acc0, _mm256_mulhi_epi16(Load256(q + 16 * k),
                                                         _mm256_broadcastq_epi64(Load64(w + 4 * k))));
        acc1 = _mm256_add_epi16(acc1, _mm256_mulhi_epi16(Load256(q + 16 * k + 16),
                                                         _mm256_broadcastq_epi64(Load64(w + 4 * k + 4))));
    }
    if (k < taps)
        acc0 = _mm256_add_epi16(acc0, _mm256_mulhi_epi16(Load256(q + 16 * k),
                                                         _mm256_broadcastq_epi64(Load64(w + 4 * k))));
    return _mm256_srai_epi16(_mm256_add_epi16(acc0, acc1), 5);
}

// The next two output pixels, a and b, of the four group lines (BGRA, or
// YUVA with `yuva`): after packing, dwords (a0 a1 b0 b1 | a2 a3 b2 b3) hold
// them; reordered so that each 64-bit quarter is one line's two pixels.
inline __m256i PixelPair(const int16_t* rows, const uint8_t*& entries, bool yuva)
{
    const __m256i a = TapSums(rows, entries);
    const __m256i b = TapSums(rows, entries);
    const __m256i order = _mm256_setr_epi32(0, 2, 1, 3, 4, 6, 5, 7);
    const __m256i px = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(a, b), order);
    return yuva ? ConvertYUVA8(px) : px;
}

} // namespace

void resample_vertical_avx2(const uint8_t* firstTap, ptrdiff_t stride, const int16_t* weights,
                            int32_t taps, int32_t width, int16_t* row)
{
    if (width < 8) {
        resample_vertical_c(firstTap, stride, weights, taps, width, row);
        return;
    }
    int32_t c = 0;
    for (; c + 8 <= width; c += 8)
        VerticalBlock(firstTap + 4 * c, stride, weights, taps, row + 16 * c);
    // The last pixels as one more block ending at the last column: it
    // recomputes a few columns, with the same values.
    if (c < width)
        VerticalBlock(firstTap + 4 * (width - 8), stride, weights, taps, row + 16 * (width - 8));
}

void resample_horizontal_avx2(const int16_t* rows, const uint8_t* entries, int32_t count,
                              uint8_t* out, ptrdiff_t outStride, int32_t lines, bool yuva)
{
    int32_t i = 0;
    if (lines == kResampleGroupLines) {
        // The usual case, without a test per store.
        for (; i + 2 <= count; i += 2, out += 8) {
            const __m256i px = PixelPair(rows, entries, yuva);
            const __m128i lo = _mm256_castsi256_si128(px);
            const __m128i hi = _mm256_extracti128_si256(px, 1);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), lo);
            _mm_storeh_pi(reinterpret_cast<__m64*>(out + outStride), _mm_castsi128_ps(lo));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * outStride), hi);
            _mm_storeh_pi(reinterpret_cast<__m64*>(out + 3 * outStride), _mm_castsi128_ps(hi));
        }
    }
    for (; i + 2 <= count; i += 2, out += 8) {
        const __m256i px = PixelPair(rows, entries, yuva);
        const __m128i lo = _mm256_castsi256_si128(px);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), lo);
        if (lines > 1)
            _mm_storeh_pi(reinterpret_cast<__m64*>(out + outStride), _mm_castsi128_ps(lo));
        if (lines > 2) {
            const __m128i hi = _mm256_extracti128_si256(px, 1);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * outStride), hi);
            if (lines > 3)
                _mm_storeh_pi(reinterpret_cast<__m64*>(out + 3 * outStride), _mm_castsi128_ps(hi));
        }
    }
    if (i < count) {
        const __m256i a = TapSums(rows, entries);
        __m256i px = _mm256_packus_epi16(a, a);  // dwords (a0 a1 a0 a1 | a2 a3 a2 a3)
        if (yuva)
            px = ConvertYUVA8(px);
        __m128i lo = _mm256_castsi256_si128(px);
        __m128i hi = _mm256_extracti128_si256(px, 1);
        for (int32_t line = 0; line < lines; ++line) {
            const int32_t bytes = _mm_cvtsi128_si32(line < 2 ? lo : hi);
            std::memcpy(out + line * outStride, &bytes, 4);
            if (line == 0)
                lo = _mm_srli_si128(lo, 4);
            if (line == 2)
                hi = _mm_srli_si128(hi, 4);
        }
    }
}

} // namespace horavel
