// The one compositing object: the frame format, the scaled copy of the clock
// overlay in the frame's colour model, and the resampler state that builds it.
#pragma once

#include "core/geometry.h"

#include <cstdint>

namespace horavel {

enum FrameLayout : int32_t {
    LayoutYUY2 = 0,   // Y0 U Y1 V, top line first, 2 * width bytes a line
    LayoutRGB24 = 1,  // B G R, bottom line first, 3 * width bytes a line
};

class Compositor {
public:
    Compositor();
    ~Compositor();
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;

    // Stores the frame geometry of the stream; validates and allocates nothing.
    void SetFrameFormat(int32_t width, int32_t height, int32_t layout);

    // Scales sourceRect of a premultiplied BGRA picture (bottom line first,
    // imageSize.width * 4 bytes a line) to sizeThousandths of the frame and
    // keeps it, converted to the frame's colour model, until the next call.
    void PrepareOverlay(const uint8_t* pixels, Size imageSize, Rect sourceRect,
                        Size sizeThousandths, int32_t growPercent, int32_t shrinkPercent);

    // Blends the prepared copy onto a frame of the current format at a
    // position in thousandths, clipped to the frame. opacityPercent 0..100.
    void BlendOverlay(uint8_t* framePixels, Point position, int32_t opacityPercent) const;

    // (further members are the compositing engine's own)
};

} // namespace horavel
