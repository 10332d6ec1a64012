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
    // The source samples held: base .. base + span - 1 (span 0: all of them).
    int32_t base = 0;
    int32_t span = 0;
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
//
// When only the source samples base .. base + span - 1 are held (span > 0),
// first offsets count from sample `base`, and a table whose taps reach
// outside those samples is refused like a failed allocation. The weights are
// those of the whole source whatever base and span are.
bool BuildFilterTable(int32_t sourceSize, int32_t destinationSize, int32_t first, int32_t count,
                      int32_t step, FilterTable& table, int32_t base = 0, int32_t span = 0);

// The source samples that output indices first .. first + count - 1 (count
// >= 1) of that scale read: lo .. hi - 1 holds every tap BuildFilterTable
// writes for them (zero weights included); lo is the first tap exactly, hi
// may lie a sample or two past the last one. Empty (lo == hi == 0) when none.
struct SampleSpan {
    int32_t lo = 0;
    int32_t hi = 0;
};
SampleSpan SourceSpan(int32_t sourceSize, int32_t destinationSize, int32_t first, int32_t count);

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
    // The destination pixels the last call computed (destination image
    // coordinates; empty when it computed none).
    Rect computed{};
};

enum class OutputFormat { BGRA, YUVA };

// 32-bit premultiplied BGRA, bottom line first, lines of 4 * width bytes;
// rect in top-down coordinates.
//
// A picture may be held only in part: with a non-empty `picture`, rect (which
// must then lie inside the image) holds the part of a picture of that size
// whose top-left pixel is picture pixel `partOrigin`. The picture as a whole
// is scaled onto the destination rectangle, and the part must hold every
// sample the computed destination pixels read (Resample refuses otherwise).
struct SourceImage {
    const uint8_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    Rect rect;
    Size picture{};
    Point partOrigin{};
    // Non-empty: the destination already holds what this call would write,
    // except for the pixels whose taps (zero weights included) reach a
    // source pixel inside `changed` (image coordinates, top-down); only
    // those are computed, the rest of the destination is left as it is.
    Rect changed{};
};

// 32-bit pixels, lines of 4 * width bytes, top or bottom line first; rect in
// top-down coordinates. Only pixels of rect inside the image are written.
struct DestinationImage {
    uint8_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    Rect rect;
    bool bottomUp = false;
    // Computes only the pixels inside this rectangle too (empty: no limit).
    Rect limit{};
};

// Scales the source rectangle (clipped to its image) onto the destination
// rectangle; only its part inside the destination image is computed. Returns
// true when every pixel it had to write is written (also when there is
// nothing to write), false when a block could not be allocated, in which case
// nothing is written and a later call retries.
bool Resample(const SourceImage& source, const DestinationImage& destination, OutputFormat format,
              ResamplerState& state);

} // namespace horavel
