// The text renderer seam of the frame pipeline: draws the clock text with the
// given settings into planes 0 (colour) and 1 (opacity) of the clock overlay
// and folds them into one premultiplied BGRA picture in plane 0. On Windows it
// is GDI; native tests use a small deterministic renderer.
#pragma once

#include "core/geometry.h"
#include "core/settings_store.h"
#include "render/clock_overlay.h"

#include <cstdint>
#include <functional>
#include <string>

namespace horavel {

// Given the measured size of the whole picture, names the rectangle of it
// (picture coordinates) that is to be drawn; an empty rectangle draws nothing.
using PicturePartChooser = std::function<Rect(Size pictureSize)>;

struct RenderedClock {
    Size pixelSize;            // width and height in pixels, shadow included
    bool hasPicture = false;   // plane 0 holds the finished picture of `part`
    // The part of the picture the planes hold, its top-left pixel at the
    // planes' (0, 0): the whole picture unless a chooser named less.
    Rect part{};
};

class ClockTextRenderer {
public:
    virtual ~ClockTextRenderer() = default;
    // Draws `text` (8-bit ANSI) with the font, colours, opacities and shadow
    // of `settings`. A plane without pixels gets no drawing, and the result
    // then has no picture. With a chooser, only the part it names (clipped
    // to the picture) is drawn, into planes of that part's size, each pixel
    // as it is in the whole picture.
    virtual RenderedClock RenderClockText(const std::string& text, const SettingsRecord& settings,
                                          ClockOverlay& overlay, const PicturePartChooser& choosePart = {}) = 0;
};

} // namespace horavel
