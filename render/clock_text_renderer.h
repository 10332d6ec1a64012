// The text renderer seam of the frame pipeline: draws the clock text with the
// given settings into planes 0 (colour) and 1 (opacity) of the clock overlay
// and folds them into one premultiplied BGRA picture in plane 0. On Windows it
// is GDI; native tests use a small deterministic renderer.
#pragma once

#include "core/geometry.h"
#include "core/settings_store.h"
#include "render/clock_overlay.h"

#include <string>

namespace horavel {

struct RenderedClock {
    Size pixelSize;            // width and height in pixels, shadow included
    bool hasPicture = false;   // plane 0 holds the finished picture of that size
};

class ClockTextRenderer {
public:
    virtual ~ClockTextRenderer() = default;
    // Draws `text` (8-bit ANSI) with the font, colours, opacities and shadow
    // of `settings`. A plane without pixels gets no drawing, and the result
    // then has no picture.
    virtual RenderedClock RenderClockText(const std::string& text, const SettingsRecord& settings,
                                          ClockOverlay& overlay) = 0;
};

} // namespace horavel
