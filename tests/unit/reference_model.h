// A second, independent statement of the compositing arithmetic for the
// tests: colour conversion, the blend of one byte, the two row blenders, the
// Lanczos filter tables and the two resampler passes, written as plain
// scalar code straight from their formulas. It shares no code with
// composite/ (nothing of it is included here), so that the value tests
// catch a fault made the same way in every kernel version.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace horavel::model {

// a * b / c with a 64-bit intermediate, rounded to nearest, halves away
// from zero; -1 when c is 0 or the result does not fit 32 bits.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);

// (B, G, R, A) -> (Y, U, V, A).
std::array<uint8_t, 4> ConvertToYUVA(int b, int g, int r, int a);

// One frame byte D under copy byte S with opacity A (0..255), neutral value
// off (0 or 128) and global opacity256 (0..256).
int BlendLane(int s, int d, int a, int off, int opacity256);

// count >= 1 YUVA copy pixels onto the YUY2 line `line`, the first landing
// on frame pixel x.
void BlendRowYUY2(const uint8_t* copy, uint8_t* line, int x, int count, int opacity256);

// count >= 1 BGRA copy pixels onto 3 * count frame bytes.
void BlendRowRGB24(const uint8_t* copy, uint8_t* frame, int count, int opacity256);

struct FilterEntry {
    int32_t firstOffset = 0;
    std::vector<int16_t> weights;  // one per tap
};

// Entries for output indices first .. first + count - 1 of sourceSize ->
// destinationSize; first offsets are source index * step.
std::vector<FilterEntry> BuildFilterTable(int sourceSize, int destinationSize, int first, int count,
                                          int step);

struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;
};

// Scales `sourceRect` of a premultiplied BGRA picture (bottom line first,
// 4 * sourceWidth bytes a line) onto `destinationRect` of a 32-bit image
// (top or bottom line first); writes only the pixels of the rectangle that
// lie inside the destination image, as BGRA or converted to YUVA.
void Resample(const uint8_t* source, int sourceWidth, int sourceHeight, Box sourceRect,
              uint8_t* destination, int destinationWidth, int destinationHeight,
              Box destinationRect, bool bottomUp, bool yuva);

} // namespace horavel::model
