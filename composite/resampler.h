// The Lanczos-3 resampler: Resample applies the filter tables
// (filter_table.h) with the row kernels (kernels.h):
// vertically into the row buffer, then horizontally into the destination,
// stored as BGRA or converted to YUVA. Destination lines are filtered in
// groups of four so that the horizontal pass applies each weight to four
// lines at once; every output byte is what a line-by-line run gives.
#pragma once

#include "composite/filter_table.h"
#include "core/geometry.h"

#include <cstdint>

namespace horavel {

struct ResamplerState {
    // The vertically filtered source rectangle of up to four destination
    // lines, interleaved per pixel: 16 int16 words (sample << 7) per pixel
    // (see kResampleGroupLines in kernels.h).
    GrowableBlock rowBuffer;
    FilterTable horizontal;
    FilterTable vertical;
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
