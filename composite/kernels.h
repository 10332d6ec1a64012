// Pixel kernels of the compositor: colour conversion, the YUY2 copy packer,
// the two row blenders and the resampler's two passes. Each has a plain `_c`
// reference and SIMD twins (SSE2, SSSE3, AVX2) in their own translation
// units; every call site goes through the table returned by Kernels().
//
// Arithmetic shared by all versions (they are bit-identical by construction
// and by the kernel check):
//  * Samples are unsigned 8-bit; floor means toward minus infinity.
//  * BlendLane(S, D, A, off, opacity256), off = 0 for Y/B/G/R and 128 for U/V:
//      A' = A + (A >> 7)                       0..256
//      v  = (A' * D + (256 - A') * off) >> 8   = floor(A' * (D - off) / 256) + off,
//                                              numerator 0..65280, fits 16 bits
//      u  = S - v                              -255..255
//      r  = D + floor(u * opacity256 / 256)    -255..510, saturated to 0..255
//    floor(u * opacity256 / 256) is the high half of (u * 16) * (opacity256 * 16);
//    both factors stay within -4096..4096, so a signed 16-bit multiply-high
//    gives the exact floor. opacity256 is 0..256 (the caller clamps it).
//  * Resampler taps: a sample p (0..255) is kept as the 16-bit word p << 7; a
//    tap with a 1.14 weight w adds floor(p * 128 * w / 65536) (the high half
//    of a signed 16-bit multiply) to a 16-bit sum that wraps like the vector
//    lane does; the pass result is sum >> 5 (arithmetic), saturated to 0..255.
//    Wrapping addition is associative, so versions may sum taps in any order.
//  * ConvertToYUVA uses 15-bit coefficients; see convert_to_yuva_c.
#pragma once

#include <cstddef>
#include <cstdint>

namespace horavel {

// Rewrites `count` BGRA pixels in place as YUVA (ConvertToYUVA on each).
using ConvertRowToYUVAFn = void (*)(uint8_t* pixels, int32_t count);

// A YUY2 copy line is blended from a packed form built once per picture and
// position parity: for each macropixel the copy pixels land on, four bytes
// in the frame's own order (Y0 U Y1 V) in `s` and the two pixels' opacities
// (A0 A1) in `a`. The blend then takes whole macropixels, four lanes each,
// with no shuffling of pixels into macropixels and a quarter fewer bytes to
// read than the YUVA copy.
//
// Packs `count` (>= 1) YUVA copy pixels, the first of them landing on the
// right half of a macropixel when `odd` is 1, into (odd + count + 1) / 2
// macropixels: U and V are the rounded-up mean of the macropixel's two
// pixels' (or a lone pixel's own), Y0 and A0 the left pixel's, Y1 and A1 the
// right one's. A half that no copy pixel lands on gets Y 0 and A 0, and a
// missing left half also U = V = 128: with A 0 and the lane's offset as the
// value, the blend leaves a lane exactly as it was (see BlendLane).
using PackRowYUY2Fn = void (*)(const uint8_t* copy, int32_t count, int32_t odd, uint8_t* s,
                               uint8_t* a);

// Blends `macropixels` (>= 1) packed macropixels onto the YUY2 frame bytes
// from `mp`, four a macropixel: Y0 with A0, U with A0, Y1 with A1, V with
// A0. Reads s[0, 4 * macropixels) and a[0, 2 * macropixels) and reads and
// writes the frame's 4 * macropixels bytes; nothing outside them.
using BlendRowYUY2Fn = void (*)(const uint8_t* s, const uint8_t* a, uint8_t* mp, int32_t macropixels,
                                int32_t opacity256);

// Blends `count` (>= 1) BGRA copy pixels onto 3 * count frame bytes starting
// at `frame`; not one byte outside them is read or written.
using BlendRowRGB24Fn = void (*)(const uint8_t* copy, uint8_t* frame, int32_t count,
                                 int32_t opacity256);

// The resampler filters up to four destination lines together, so that the
// horizontal pass applies each weight to all of them at once. Its row buffer
// holds the vertically filtered source pixels of such a group interleaved:
// pixel c of group line l, lane j, is the word rows[16 * c + 4 * l + j].
inline constexpr int32_t kResampleGroupLines = 4;

// Vertical pass for one destination line: for each of `width` pixels (four
// lanes each) sums `taps` source lines, tap k at firstTap + k * stride, with
// weights[4 * k] (the entry's weights, four copies each), and writes the
// saturated result as words p << 7 to row[16 * c + lane] (row points at the
// line's place in the group). With taps = 0 it writes zeros and reads nothing.
using ResampleVerticalFn = void (*)(const uint8_t* firstTap, ptrdiff_t stride,
                                    const int16_t* weights, int32_t taps, int32_t width,
                                    int16_t* row);

// Horizontal pass for `lines` (1..4) destination lines of a group: `count`
// table entries (first offset, tap count, weights) applied to the group's
// row words; writes output pixel i of line l to out + l * outStride + 4 * i:
// the saturated BGRA bytes, or with `yuva` their ConvertToYUVA. Lanes of
// group lines >= `lines` are read (they must hold initialised words) but
// never written out.
using ResampleHorizontalFn = void (*)(const int16_t* rows, const uint8_t* entries, int32_t count,
                                      uint8_t* out, ptrdiff_t outStride, int32_t lines,
                                      bool yuva);

// Asks the processor to start loading `bytes` bytes from `first` into the
// caches; changes nothing. The blend calls it for the lines it will reach
// next, so that a frame whose bytes have left the caches does not wait for
// each line's first load (a new page, which the hardware does not
// prefetch into). The plain version does nothing.
using PrefetchFn = void (*)(const uint8_t* first, size_t bytes);

struct KernelTable {
    ConvertRowToYUVAFn convertRowToYUVA;
    PackRowYUY2Fn packRowYUY2;
    BlendRowYUY2Fn blendRowYUY2;
    BlendRowRGB24Fn blendRowRGB24;
    ResampleVerticalFn resampleVertical;
    ResampleHorizontalFn resampleHorizontal;
    PrefetchFn prefetch;
};

enum class CpuLevel : int32_t { Plain = 0, SSE2 = 1, SSSE3 = 2, AVX2 = 3 };

const char* CpuLevelName(CpuLevel level);

// What the processor (and, for AVX, the operating system) supports; asked once.
CpuLevel DetectedCpuLevel();

// The kernels in use. On first use they are raised to the detected level, or
// to the lower level named by the environment variable HORAVEL_CPU_LEVEL
// ("c", "sse2", "ssse3", "avx2" or 0..3).
const KernelTable& Kernels();
CpuLevel ActiveCpuLevel();

// Makes Kernels() use at most `level` (never more than detected); returns the
// level now in use. For tests and benchmarks; not safe while blending runs.
CpuLevel LimitCpuLevel(CpuLevel level);

// The table a given level would fill (clamped to the detected level), without
// changing Kernels(): the kernel check compares these.
KernelTable KernelsForLevel(CpuLevel level);

// The plain reference versions.
void convert_row_to_yuva_c(uint8_t* pixels, int32_t count);
void pack_row_yuy2_c(const uint8_t* copy, int32_t count, int32_t odd, uint8_t* s, uint8_t* a);
void blend_row_yuy2_c(const uint8_t* s, const uint8_t* a, uint8_t* mp, int32_t macropixels,
                      int32_t opacity256);
void blend_row_rgb24_c(const uint8_t* copy, uint8_t* frame, int32_t count, int32_t opacity256);
void resample_vertical_c(const uint8_t* firstTap, ptrdiff_t stride, const int16_t* weights,
                         int32_t taps, int32_t width, int16_t* row);
void resample_horizontal_c(const int16_t* rows, const uint8_t* entries, int32_t count,
                           uint8_t* out, ptrdiff_t outStride, int32_t lines, bool yuva);
void prefetch_c(const uint8_t* first, size_t bytes);

// Single-value forms of the arithmetic above, for tests and the plain code.
struct YUVA {
    uint8_t y, u, v, a;
    friend bool operator==(const YUVA&, const YUVA&) = default;
};
YUVA ConvertToYUVA(uint8_t b, uint8_t g, uint8_t r, uint8_t a);
uint8_t BlendLane(int32_t s, int32_t d, int32_t a, int32_t off, int32_t opacity256);

// The SIMD twins, each defined in the translation unit compiled for its ISA.
void convert_row_to_yuva_sse2(uint8_t*, int32_t);
void pack_row_yuy2_sse2(const uint8_t*, int32_t, int32_t, uint8_t*, uint8_t*);
void blend_row_yuy2_sse2(const uint8_t*, const uint8_t*, uint8_t*, int32_t, int32_t);
void blend_row_rgb24_sse2(const uint8_t*, uint8_t*, int32_t, int32_t);
void resample_vertical_sse2(const uint8_t*, ptrdiff_t, const int16_t*, int32_t, int32_t, int16_t*);
void resample_horizontal_sse2(const int16_t*, const uint8_t*, int32_t, uint8_t*, ptrdiff_t, int32_t,
                              bool);
void prefetch_sse2(const uint8_t*, size_t);

void convert_row_to_yuva_ssse3(uint8_t*, int32_t);
void pack_row_yuy2_ssse3(const uint8_t*, int32_t, int32_t, uint8_t*, uint8_t*);
void blend_row_rgb24_ssse3(const uint8_t*, uint8_t*, int32_t, int32_t);

void convert_row_to_yuva_avx2(uint8_t*, int32_t);
void pack_row_yuy2_avx2(const uint8_t*, int32_t, int32_t, uint8_t*, uint8_t*);
void blend_row_yuy2_avx2(const uint8_t*, const uint8_t*, uint8_t*, int32_t, int32_t);
void blend_row_rgb24_avx2(const uint8_t*, uint8_t*, int32_t, int32_t);
void resample_vertical_avx2(const uint8_t*, ptrdiff_t, const int16_t*, int32_t, int32_t, int16_t*);
void resample_horizontal_avx2(const int16_t*, const uint8_t*, int32_t, uint8_t*, ptrdiff_t, int32_t,
                              bool);

} // namespace horavel
