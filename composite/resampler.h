// The Lanczos-3 resampler: the filter function, the filter-table builder and
// Resample, which applies the tables with the row kernels (kernels.h):
// vertically into the row buffer, then horizontally into the destination,
// stored as BGRA or converted to YUVA. Destination lines are filtered in
// groups of four so that the horizontal pass applies each weight to four
// lines at once; every output byte is what a line-by-line run gives.
#pragma once

#include "composite/aligned_block.h"
#include "core/geometry.h"

#include <cstdint>

namespace horavel {

// A block of `capacity` elements of `elementSize` bytes, grown and shrunk
// with percentage hysteresis by EnsureCapacity.
struct GrowableBlock {
    AlignedBlock block;
    int32_t capacity = 0;
    int32_t elementSize = 0;
};

// Keeps the block when need <= capacity, need >= MulDiv(capacity, 100 - s,
// 100 + g) and the element size has not grown; otherwise releases it and
// allocates MulDiv(need, 100 + g, 100) elements (contents not carried over).
// Returns false, with an empty block of capacity 0, when that fails; a later
// call then retries.
bool EnsureCapacity(GrowableBlock& block, int32_t need, int32_t elementSize, int32_t growPercent,
                    int32_t shrinkPercent);

struct FilterKey {
    int32_t sourceSize = 0;
    int32_t destinationSize = 0;
    int32_t first = 0;
    int32_t count = 0;
    int32_t step = 0;
    friend bool operator==(const FilterKey&, const FilterKey&) = default;
};

// Entries back to back: int32 first offset (bytes: column * 4, or line *
// stride), int32 tap count, then per tap the 1.14 weight as four identical
// int16 copies. An entry with t taps is 8 + 8 * t bytes.
struct FilterTable {
    GrowableBlock entries;
    FilterKey key;
};

double Sinc(double t);
double LanczosWeight(double x);

// Fills entries for output indices first .. first + count - 1 of a scale from
// sourceSize to destinationSize, weights renormalised over the taps inside
// the source. Returns false (table emptied, key cleared) when the block
// cannot be allocated. Does not touch table.key otherwise.
bool BuildFilterTable(int32_t sourceSize, int32_t destinationSize, int32_t first, int32_t count,
                      int32_t step, FilterTable& table);

struct ResamplerState {
    // The vertically filtered source rectangle of up to four destination
    // lines, interleaved per pixel: 16 int16 words (sample << 7) per pixel
    // (see kResampleGroupLines in kernels.h).
    GrowableBlock rowBuffer;
    FilterTable horizontal;
    FilterTable vertical;
    // Number of table builds so far; lets tests and benchmarks see that
    // repeated sizes cost none.
    int32_t tableBuilds = 0;
};

enum class OutputFormat { BGRA, YUVA };

// 32-bit premultiplied BGRA, bottom line first, lines of 4 * width bytes;
// rect in top-down coordinates.
struct SourceImage {
    const uint8_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    Rect rect;
};

// 32-bit pixels, lines of 4 * width bytes, top or bottom line first; rect in
// top-down coordinates. Only pixels of rect inside the image are written.
struct DestinationImage {
    uint8_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    Rect rect;
    bool bottomUp = false;
};

// Scales the source rectangle (clipped to its image) onto the destination
// rectangle; only its part inside the destination image is computed. Returns
// true when every pixel it had to write is written (also when there is
// nothing to write), false when a block could not be allocated, in which case
// nothing is written and a later call retries.
bool Resample(const SourceImage& source, const DestinationImage& destination, OutputFormat format,
              ResamplerState& state);

} // namespace horavel
