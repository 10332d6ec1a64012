// SSSE3 versions of the kernels that gain from byte shuffles: unpacking 24-bit
// pixels, gathering macropixels, and the YUVA byte order (compiled with
// -mssse3 only). Helpers have internal linkage.
#include "composite/kernels.h"
#include "composite/kernels_edge.h"
#include "composite/kernels_vec128.h"

#include <tmmintrin.h>

namespace horavel {

namespace {

constexpr char Z = -128;  // shuffle index that yields a zero byte

// Four pixels: f holds their 12 frame bytes (B G R each), c four BGRA copy
// pixels; returns B G R x per pixel.
template <bool Full>
inline __m128i BlendRGB24Pixels(__m128i f, __m128i c, __m128i op16)
{
    const __m128i alpha01 = _mm_setr_epi8(3, Z, 3, Z, 3, Z, 3, Z, 7, Z, 7, Z, 7, Z, 7, Z);
    const __m128i alpha23 = _mm_setr_epi8(11, Z, 11, Z, 11, Z, 11, Z, 15, Z, 15, Z, 15, Z, 15, Z);
    const __m128i a01 = Opacity256(_mm_shuffle_epi8(c, alpha01));
    const __m128i a23 = Opacity256(_mm_shuffle_epi8(c, alpha23));
    if (Full) {
        // Full opacity, off = 0: S + (D - floor(A' * D / 256)) with the
        // bracket in 0..D, one unsigned saturating byte add; the floor is
        // the unsigned high half of (D << 8) * A'.
        const __m128i high01 = _mm_setr_epi8(Z, 0, Z, 1, Z, 2, Z, Z, Z, 3, Z, 4, Z, 5, Z, Z);
        const __m128i high23 = _mm_setr_epi8(Z, 6, Z, 7, Z, 8, Z, Z, Z, 9, Z, 10, Z, 11, Z, Z);
        const __m128i spread = _mm_setr_epi8(0, 1, 2, Z, 3, 4, 5, Z, 6, 7, 8, Z, 9, 10, 11, Z);
        const __m128i t = _mm_packus_epi16(_mm_mulhi_epu16(_mm_shuffle_epi8(f, high01), a01),
                                           _mm_mulhi_epu16(_mm_shuffle_epi8(f, high23), a23));
        return _mm_adds_epu8(c, _mm_sub_epi8(_mm_shuffle_epi8(f, spread), t));
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i frame01 = _mm_setr_epi8(0, Z, 1, Z, 2, Z, Z, Z, 3, Z, 4, Z, 5, Z, Z, Z);
    const __m128i frame23 = _mm_setr_epi8(6, Z, 7, Z, 8, Z, Z, Z, 9, Z, 10, Z, 11, Z, Z, Z);
    return _mm_packus_epi16(
        BlendWords<false>(_mm_unpacklo_epi8(c, zero), _mm_shuffle_epi8(f, frame01), a01, zero, op16),
        BlendWords<false>(_mm_unpackhi_epi8(c, zero), _mm_shuffle_epi8(f, frame23), a23, zero, op16));
}

template <bool Full>
void BlendRGB24(const uint8_t* copy, uint8_t* frame, int32_t count, int32_t opacity256)
{
    const __m128i op16 = _mm_set1_epi16(static_cast<int16_t>(opacity256 * 16));
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, Z, Z, Z, Z);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8, copy += 32, frame += 24) {
        // 24 frame bytes read as 16 + 8: nothing past them is read.
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frame));
        const __m128i hi = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(frame + 16));
        const __m128i r0 = BlendRGB24Pixels<Full>(
            lo, _mm_loadu_si128(reinterpret_cast<const __m128i*>(copy)), op16);
        const __m128i r1 = BlendRGB24Pixels<Full>(
            _mm_alignr_epi8(hi, lo, 12), _mm_loadu_si128(reinterpret_cast<const __m128i*>(copy + 16)),
            op16);
        const __m128i out0 = _mm_shuffle_epi8(r0, pack);
        const __m128i out1 = _mm_shuffle_epi8(r1, pack);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(frame), _mm_or_si128(out0, _mm_slli_si128(out1, 12)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(frame + 16), _mm_srli_si128(out1, 4));
    }
    if (i + 4 <= count) {
        // Twelve frame bytes, read as 8 + 4 so that nothing past them is read.
        const __m128i f = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(frame)),
                                             Load32(frame + 8));
        const __m128i out = _mm_shuffle_epi8(
            BlendRGB24Pixels<Full>(f, _mm_loadu_si128(reinterpret_cast<const __m128i*>(copy)), op16), pack);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(frame), out);
        Store32(frame + 8, _mm_srli_si128(out, 8));
        i += 4;
        copy += 16;
        frame += 12;
    }
    if (i < count)
        EdgeRestRGB24(copy, frame, count - i, opacity256);
}

} // namespace

void blend_row_rgb24_ssse3(const uint8_t* copy, uint8_t* frame, int32_t count, int32_t opacity256)
{
    BlendRun<BlendRGB24<true>, BlendRGB24<false>>(copy, frame, count, opacity256);
}

namespace {

// Pixels from a macropixel's left half on (count >= 1).
void PackPairs(const uint8_t* copy, int32_t count, uint8_t* s, uint8_t* a)
{
    // Eight pixels (32 bytes) -> four macropixels: lumas from the pixels,
    // chroma from the pair averages (dwords 0 and 2 of each half), opacities
    // from the pixels.
    const __m128i luma = _mm_setr_epi8(0, Z, 4, Z, 8, Z, 12, Z, Z, Z, Z, Z, Z, Z, Z, Z);
    const __m128i chroma = _mm_setr_epi8(Z, 1, Z, 2, Z, 9, Z, 10, Z, Z, Z, Z, Z, Z, Z, Z);
    const __m128i alpha = _mm_setr_epi8(3, 7, 11, 15, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z);
    auto half = [&](__m128i c) {
        const __m128i avg = _mm_avg_epu8(c, _mm_srli_si128(c, 4));
        return _mm_or_si128(_mm_shuffle_epi8(c, luma), _mm_shuffle_epi8(avg, chroma));
    };
    for (; count >= 8; count -= 8, copy += 32, s += 16, a += 8) {
        const __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(copy));
        const __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(copy + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s), _mm_unpacklo_epi64(half(c0), half(c1)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(a),
                         _mm_unpacklo_epi32(_mm_shuffle_epi8(c0, alpha), _mm_shuffle_epi8(c1, alpha)));
    }
    if (count > 0)
        pack_row_yuy2_c(copy, count, 0, s, a);
}

} // namespace

void pack_row_yuy2_ssse3(const uint8_t* copy, int32_t count, int32_t odd, uint8_t* s, uint8_t* a)
{
    PackRunYUY2<PackPairs>(copy, count, odd, s, a);
}

void convert_row_to_yuva_ssse3(uint8_t* pixels, int32_t count)
{
    const __m128i zero = _mm_setzero_si128();
    // Lane 3 carries the constant 256 so that one multiply-add also adds the
    // chroma offset 128 << 15 = 256 * 16384.
    const __m128i rgbMask = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    const __m128i k256 = _mm_set_epi16(256, 0, 0, 0, 256, 0, 0, 0);
    const __m128i kY = _mm_set_epi16(0, 9798, 19235, 3735, 0, 9798, 19235, 3735);
    const __m128i kU = _mm_set_epi16(16384, -5529, -10855, 16384, 16384, -5529, -10855, 16384);
    const __m128i kV = _mm_set_epi16(16384, 16384, -13720, -2664, 16384, 16384, -13720, -2664);
    const __m128i order = _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    int32_t i = 0;
    for (; i + 4 <= count; i += 4, pixels += 16) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
        const __m128i lo = _mm_or_si128(_mm_and_si128(_mm_unpacklo_epi8(c, zero), rgbMask), k256);
        const __m128i hi = _mm_or_si128(_mm_and_si128(_mm_unpackhi_epi8(c, zero), rgbMask), k256);
        auto sums = [&](__m128i k) {
            return _mm_srai_epi32(_mm_hadd_epi32(_mm_madd_epi16(lo, k), _mm_madd_epi16(hi, k)), 15);
        };
        const __m128i b = _mm_packus_epi16(_mm_packs_epi32(sums(kY), sums(kU)),
                                           _mm_packs_epi32(sums(kV), _mm_srli_epi32(c, 24)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels), _mm_shuffle_epi8(b, order));
    }
    if (i < count)
        convert_row_to_yuva_c(pixels, count - i);
}

} // namespace horavel
