// SSE2 versions of the pixel kernels (compiled with -msse2 only). Leading and
// trailing pixels that do not fill a vector go through the plain versions.
// Helpers here have internal linkage: they must not be merged with copies
// compiled for another instruction set.
#include "composite/kernels.h"
#include "composite/kernels_edge.h"
#include "composite/kernels_vec128.h"

#include <emmintrin.h>

#include <cstring>

namespace horavel {

namespace {

// Words [B G R A B G R A] of two copy pixels -> A' in all four lanes.
inline __m128i BroadcastAlpha(__m128i s)
{
    return Opacity256(_mm_shufflehi_epi16(_mm_shufflelo_epi16(s, 0xFF), 0xFF));
}

template <bool Full>
void BlendRGB24(const uint8_t* copy, uint8_t* frame, int32_t count, int32_t opacity256)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i op16 = _mm_set1_epi16(static_cast<int16_t>(opacity256 * 16));
    const __m128i lo24 = _mm_set_epi32(0, 0x00ffffff, 0, 0x00ffffff);
    const __m128i hi24 = _mm_set_epi32(0x0000ffff, static_cast<int32_t>(0xff000000u), 0x0000ffff,
                                       static_cast<int32_t>(0xff000000u));
    const __m128i low48 = _mm_set_epi32(0, 0, 0x0000ffff, -1);
    int32_t i = 0;
    for (; i + 4 <= count; i += 4, copy += 16, frame += 12) {
        // Twelve frame bytes, read as 8 + 4 so that nothing past them is read.
        const __m128i f = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(frame)),
                                             Load32(frame + 8));
        // Pixels 0 1 and 2 3 as dwords (byte 3 of each is the next pixel's B).
        const __m128i f01 = _mm_unpacklo_epi32(f, _mm_srli_si128(f, 3));
        const __m128i f23 = _mm_unpacklo_epi32(_mm_srli_si128(f, 6), _mm_srli_si128(f, 9));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(copy));
        const __m128i s01 = _mm_unpacklo_epi8(c, zero);
        const __m128i s23 = _mm_unpackhi_epi8(c, zero);
        const __m128i a01 = BroadcastAlpha(s01);
        const __m128i a23 = BroadcastAlpha(s23);
        __m128i p;
        if (Full) {
            // Full opacity, off = 0: S + (D - floor(A' * D / 256)) with the
            // bracket in 0..D, one unsigned saturating byte add; the floor is
            // the unsigned high half of (D << 8) * A'. Byte 3 is not kept.
            const __m128i t = _mm_packus_epi16(_mm_mulhi_epu16(_mm_unpacklo_epi8(zero, f01), a01),
                                               _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, f23), a23));
            p = _mm_adds_epu8(c, _mm_sub_epi8(_mm_unpacklo_epi64(f01, f23), t));
        } else {
            p = _mm_packus_epi16(
                BlendWords<false>(s01, _mm_unpacklo_epi8(f01, zero), a01, zero, op16),
                BlendWords<false>(s23, _mm_unpacklo_epi8(f23, zero), a23, zero, op16));
        }
        // Four 3-byte pixels back into twelve bytes: two per 64-bit half,
        // then the halves side by side.
        const __m128i six = _mm_or_si128(_mm_and_si128(p, lo24),
                                         _mm_and_si128(_mm_srli_epi64(p, 8), hi24));
        const __m128i out = _mm_or_si128(_mm_and_si128(six, low48),
                                         _mm_slli_si128(_mm_srli_si128(six, 8), 6));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(frame), out);
        Store32(frame + 8, _mm_srli_si128(out, 8));
    }
    if (i < count)
        EdgeRestRGB24(copy, frame, count - i, opacity256);
}

// Opacities A0 A1 of two macropixels, as the low four words of `w`, to the
// A' words [A0' A0' A1' A0'] of each.
inline __m128i LaneOpacities(__m128i w)
{
    const __m128i pairs = _mm_unpacklo_epi32(w, w);  // A0 A1 A0 A1 | B0 B1 B0 B1
    constexpr int kOrder = _MM_SHUFFLE(0, 1, 0, 0);  // words 0 0 1 0 of each half
    return Opacity256(_mm_shufflehi_epi16(_mm_shufflelo_epi16(pairs, kOrder), kOrder));
}

template <bool Full>
void BlendYUY2(const uint8_t* s, const uint8_t* a, uint8_t* mp, int32_t macropixels, int32_t opacity256)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i op16 = _mm_set1_epi16(static_cast<int16_t>(opacity256 * 16));
    int32_t i = 0;
    for (; i + 4 <= macropixels; i += 4, s += 16, a += 8, mp += 16) {
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mp));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i w = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)), zero);
        const __m128i r0 = BlendWordsYUY2<Full>(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(f, zero),
                                                LaneOpacities(w), op16);
        const __m128i r1 = BlendWordsYUY2<Full>(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(f, zero),
                                                LaneOpacities(_mm_srli_si128(w, 8)), op16);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(mp), _mm_packus_epi16(r0, r1));
    }
    if (i + 2 <= macropixels) {
        // Two more: eight frame bytes, four opacity bytes.
        const __m128i d = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(mp)), zero);
        const __m128i c = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s)), zero);
        const __m128i r = BlendWordsYUY2<Full>(c, d, LaneOpacities(_mm_unpacklo_epi8(Load32(a), zero)), op16);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(mp), _mm_packus_epi16(r, r));
        i += 2;
        s += 8;
        a += 4;
        mp += 8;
    }
    if (i < macropixels)
        EdgeRestYUY2(s, a, mp, macropixels - i, opacity256);
}

} // namespace

void blend_row_rgb24_sse2(const uint8_t* copy, uint8_t* frame, int32_t count, int32_t opacity256)
{
    BlendRun<BlendRGB24<true>, BlendRGB24<false>>(copy, frame, count, opacity256);
}

void blend_row_yuy2_sse2(const uint8_t* s, const uint8_t* a, uint8_t* mp, int32_t macropixels,
                         int32_t opacity256)
{
    BlendRunYUY2<BlendYUY2<true>, BlendYUY2<false>>(s, a, mp, macropixels, opacity256);
}

namespace {

// Four YUVA pixels -> two packed macropixels: Y0 U Y1 V in dword 0, the
// opacity pair in word 0; the same for the second pair in the high dword
// (of `sb`) or word 1 (of `ab`) of the low 64 bits.
inline void PackFour(__m128i c, __m128i* sb, __m128i* ab)
{
    const __m128i n = _mm_srli_si128(c, 4);  // dword k holds pixel k + 1
    const __m128i avg = _mm_avg_epu8(c, n);  // dwords 0 and 2: pair averages
    const __m128i m0 = _mm_set1_epi32(0x000000ff);
    const __m128i m1 = _mm_set1_epi32(0x0000ff00);
    const __m128i m2 = _mm_set1_epi32(0x00ff0000);
    const __m128i m3 = _mm_set1_epi32(static_cast<int32_t>(0xff000000u));
    const __m128i bytes = _mm_or_si128(
        _mm_or_si128(_mm_and_si128(c, m0), _mm_and_si128(avg, m1)),
        _mm_or_si128(_mm_and_si128(_mm_slli_epi32(n, 16), m2), _mm_and_si128(_mm_slli_epi32(avg, 8), m3)));
    const __m128i pairs = _mm_or_si128(_mm_srli_epi32(c, 24), _mm_slli_epi32(_mm_srli_epi32(n, 24), 8));
    // Keep dwords 0 and 2 (the two pairs).
    constexpr int kPairs = _MM_SHUFFLE(3, 1, 2, 0);
    *sb = _mm_shuffle_epi32(bytes, kPairs);
    *ab = _mm_shufflelo_epi16(_mm_shuffle_epi32(pairs, kPairs), kPairs);
}

// Pixels from a macropixel's left half on (count >= 1).
void PackPairs(const uint8_t* copy, int32_t count, uint8_t* s, uint8_t* a)
{
    for (; count >= 8; count -= 8, copy += 32, s += 16, a += 8) {
        __m128i s0, a0, s1, a1;
        PackFour(_mm_loadu_si128(reinterpret_cast<const __m128i*>(copy)), &s0, &a0);
        PackFour(_mm_loadu_si128(reinterpret_cast<const __m128i*>(copy + 16)), &s1, &a1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s), _mm_unpacklo_epi64(s0, s1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(a), _mm_unpacklo_epi32(a0, a1));
    }
    if (count > 0)
        pack_row_yuy2_c(copy, count, 0, s, a);
}

} // namespace

void pack_row_yuy2_sse2(const uint8_t* copy, int32_t count, int32_t odd, uint8_t* s, uint8_t* a)
{
    PackRunYUY2<PackPairs>(copy, count, odd, s, a);
}

namespace {

// ConvertToYUVA on four BGRA pixels. Lane 3 carries the constant 256 so that
// one multiply-add also adds the chroma offset 128 << 15 = 256 * 16384.
inline __m128i ConvertYUVA4(__m128i c)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i rgbMask = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    const __m128i k256 = _mm_set_epi16(256, 0, 0, 0, 256, 0, 0, 0);
    const __m128i lo = _mm_or_si128(_mm_and_si128(_mm_unpacklo_epi8(c, zero), rgbMask), k256);
    const __m128i hi = _mm_or_si128(_mm_and_si128(_mm_unpackhi_epi8(c, zero), rgbMask), k256);
    auto sums = [&](__m128i k) {
        const __m128 a = _mm_castsi128_ps(_mm_madd_epi16(lo, k));
        const __m128 b = _mm_castsi128_ps(_mm_madd_epi16(hi, k));
        const __m128i even = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        return _mm_srai_epi32(_mm_add_epi32(even, odd), 15);
    };
    const __m128i kY = _mm_set_epi16(0, 9798, 19235, 3735, 0, 9798, 19235, 3735);
    const __m128i kU = _mm_set_epi16(16384, -5529, -10855, 16384, 16384, -5529, -10855, 16384);
    const __m128i kV = _mm_set_epi16(16384, 16384, -13720, -2664, 16384, 16384, -13720, -2664);
    const __m128i b = _mm_packus_epi16(_mm_packs_epi32(sums(kY), sums(kU)),
                                       _mm_packs_epi32(sums(kV), _mm_srli_epi32(c, 24)));
    // Bytes Y0..3 U0..3 V0..3 A0..3 -> Y U V A per pixel.
    const __m128i x = _mm_unpacklo_epi8(b, _mm_srli_si128(b, 8));
    return _mm_unpacklo_epi8(x, _mm_srli_si128(x, 8));
}

} // namespace

void convert_row_to_yuva_sse2(uint8_t* pixels, int32_t count)
{
    int32_t i = 0;
    for (; i + 4 <= count; i += 4, pixels += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels),
                         ConvertYUVA4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels))));
    if (i < count)
        convert_row_to_yuva_c(pixels, count - i);
}

namespace {

// Four pixels' words [p0 p1] [p2 p3] to their places 16 words apart.
inline void StoreSpread(int16_t* row, __m128i p01, __m128i p23)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(row), p01);
    _mm_storeh_pi(reinterpret_cast<__m64*>(row + 16), _mm_castsi128_ps(p01));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(row + 32), p23);
    _mm_storeh_pi(reinterpret_cast<__m64*>(row + 48), _mm_castsi128_ps(p23));
}

inline void VerticalBlock(const uint8_t* p, ptrdiff_t stride, const int16_t* weights, int32_t taps,
                          int16_t* row)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i acc0 = zero, acc1 = zero;
    for (int32_t k = 0; k < taps; ++k, p += stride) {
        const __m128i w = _mm_set1_epi16(weights[4 * k]);
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // Sample << 7 as (sample << 8) >> 1.
        acc0 = _mm_add_epi16(acc0, _mm_mulhi_epi16(_mm_srli_epi16(_mm_unpacklo_epi8(zero, v), 1), w));
        acc1 = _mm_add_epi16(acc1, _mm_mulhi_epi16(_mm_srli_epi16(_mm_unpackhi_epi8(zero, v), 1), w));
    }
    const __m128i max = _mm_set1_epi16(255);
    acc0 = _mm_min_epi16(_mm_max_epi16(_mm_srai_epi16(acc0, 5), zero), max);
    acc1 = _mm_min_epi16(_mm_max_epi16(_mm_srai_epi16(acc1, 5), zero), max);
    StoreSpread(row, _mm_slli_epi16(acc0, 7), _mm_slli_epi16(acc1, 7));
}

} // namespace

void resample_vertical_sse2(const uint8_t* firstTap, ptrdiff_t stride, const int16_t* weights,
                            int32_t taps, int32_t width, int16_t* row)
{
    if (width < 4) {
        resample_vertical_c(firstTap, stride, weights, taps, width, row);
        return;
    }
    int32_t c = 0;
    for (; c + 4 <= width; c += 4)
        VerticalBlock(firstTap + 4 * c, stride, weights, taps, row + 16 * c);
    // The last pixels as one more block ending at the last column: it
    // recomputes a few columns, with the same values.
    if (c < width)
        VerticalBlock(firstTap + 4 * (width - 4), stride, weights, taps, row + 16 * (width - 4));
}

void resample_horizontal_sse2(const int16_t* rows, const uint8_t* entries, int32_t count,
                              uint8_t* out, ptrdiff_t outStride, int32_t lines, bool yuva)
{
    for (int32_t i = 0; i < count; ++i, out += 4) {
        int32_t header[2];
        std::memcpy(header, entries, sizeof header);
        const int16_t* w = reinterpret_cast<const int16_t*>(entries + 8);
        const int16_t* q = rows + 4 * header[0];
        const int32_t taps = header[1];
        // Group lines 0 and 1 in acc01, 2 and 3 in acc23; one weight for all.
        __m128i acc01 = _mm_setzero_si128(), acc23 = _mm_setzero_si128();
        for (int32_t k = 0; k < taps; ++k, q += 16) {
            const __m128i w4 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(w + 4 * k));
            const __m128i w8 = _mm_unpacklo_epi64(w4, w4);
            acc01 = _mm_add_epi16(acc01, _mm_mulhi_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), w8));
            acc23 = _mm_add_epi16(acc23, _mm_mulhi_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 8)), w8));
        }
        __m128i bytes = _mm_packus_epi16(_mm_srai_epi16(acc01, 5), _mm_srai_epi16(acc23, 5));
        if (yuva)
            bytes = ConvertYUVA4(bytes);
        for (int32_t line = 0; line < lines; ++line, bytes = _mm_srli_si128(bytes, 4))
            Store32(out + line * outStride, bytes);
        entries += 8 + 8 * taps;
    }
}

void prefetch_sse2(const uint8_t* first, size_t bytes)
{
    // One request per cache line, the last one included.
    const uintptr_t begin = reinterpret_cast<uintptr_t>(first) & ~uintptr_t{63};
    const uintptr_t end = reinterpret_cast<uintptr_t>(first) + bytes;
    for (uintptr_t line = begin; line < end; line += 64)
        _mm_prefetch(reinterpret_cast<const char*>(line), _MM_HINT_T0);
}

} // namespace horavel
