// 128-bit helpers of the SIMD kernels: dword loads and stores, and the blend
// arithmetic of kernels.h on 16-bit word lanes (SSE2 instructions only).
// Internal linkage on purpose: each ISA's file keeps its own copy, never merged with another ISA's.
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

namespace horavel {
namespace {

inline __m128i Load32(const void* p)
{
    int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

inline void Store32(void* p, __m128i v)
{
    const int32_t x = _mm_cvtsi128_si32(v);
    std::memcpy(p, &x, 4);
}

// A' = A + (A >> 7) on 16-bit lanes.
inline __m128i Opacity256(__m128i a)
{
    return _mm_add_epi16(a, _mm_srli_epi16(a, 7));
}

// r = D + floor((S - v) * opacity256 / 256), v = (A' * D + offTerm) >> 8;
// words in, words out (see kernels.h for the ranges).
template <bool Full>
inline __m128i BlendWords(__m128i s, __m128i d, __m128i a1, __m128i offTerm, __m128i op16)
{
    const __m128i v = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(a1, d), offTerm), 8);
    const __m128i u = _mm_sub_epi16(s, v);
    if (Full)
        return _mm_add_epi16(d, u);
    return _mm_add_epi16(d, _mm_mulhi_epi16(_mm_slli_epi16(u, 4), op16));
}

// The YUY2 lanes (Y U Y V): v = (A' * (D - off) + 256 * off) >> 8 taken
// modulo 2^16. The product lies in 0..65280 on the luma lanes (off 0) and in
// -32768..32512 on the chroma lanes (off 128); adding 256 * off brings both
// into 0..65280, so the logical shift gives floor(A' * (D - off) / 256) + off.
template <bool Full>
inline __m128i BlendWordsYUY2(__m128i s, __m128i d, __m128i a1, __m128i op16)
{
    const __m128i off = _mm_set_epi16(128, 0, 128, 0, 128, 0, 128, 0);
    const __m128i off256 = _mm_set_epi16(-32768, 0, -32768, 0, -32768, 0, -32768, 0);
    const __m128i v = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(a1, _mm_sub_epi16(d, off)), off256), 8);
    const __m128i u = _mm_sub_epi16(s, v);
    if (Full)
        return _mm_add_epi16(d, u);
    return _mm_add_epi16(d, _mm_mulhi_epi16(_mm_slli_epi16(u, 4), op16));
}

} // namespace
} // namespace horavel
