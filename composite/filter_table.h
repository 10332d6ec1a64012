// The Lanczos-3 filter and its tables: the filter function, and for a scale
// from one size to another, per output index the first source sample, the
// tap count and the 1.14 fixed-point weights. The only floating point of the
// compositing engine is here; a table must hold the same bytes in every
// build, x87 or SSE2.
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

} // namespace horavel
