// The one compositing object: the frame format, the scaled copy of the clock
// overlay in the frame's colour model, and the resampler state that builds it.
#pragma once

#include "composite/aligned_block.h"
#include "composite/resampler.h"
#include "core/geometry.h"
#include "core/plugin_record.h"

#include <cstdint>

namespace horavel {

// Where a prepared copy will be blended, and which part of the picture the
// caller holds: PrepareOverlay then builds only the part of the copy that
// BlendOverlay can draw at that position.
struct OverlayPart {
    Size picture;       // the whole picture's size in pixels
    Point origin;       // picture coordinates of the held part's top-left pixel
    Point position;     // thousandths, as BlendOverlay will be given it
};

// The scaled copy is YUVA (top line first) for LayoutYUY2 and BGRA (bottom
// line first) for LayoutRGB24; lines of 4 * capacityWidth bytes, colour
// premultiplied by A. A YUY2 frame is blended from a packed form of the YUVA
// copy (see PackRowYUY2Fn), built by the first blend after a preparation for
// the parity of the frame pixel its first column lands on, and again when
// that parity changes (a blend that cannot allocate its block draws
// nothing; the next one tries again).
//
// A copy may hold only a part of the scaled overlay (`preparedRect`, in the
// overlay's scaled coordinates, whose top-left pixel is the block's first):
// in a direction where the overlay fits the frame, all of it; in a direction
// where it is larger than the frame, what lands on the frame at the position
// it was prepared for. So a clock larger than the frame costs, in time and
// memory, what the frame shows of it, not what the font gives.
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
    // The copy's block is reallocated only when the size it needs leaves the
    // window MulDiv(capacity, 100 - shrink, 100 + grow) .. capacity; it then
    // gets MulDiv(size, 100 + grow, 100). When a block cannot be allocated
    // (or the picture is missing) the copy is left empty: nothing is drawn
    // until a later call succeeds.
    void PrepareOverlay(const uint8_t* pixels, Size imageSize, Rect sourceRect,
                        Size sizeThousandths, int32_t growPercent, int32_t shrinkPercent);

    // The same for a picture held in part (sourceRect holds the part of
    // part.picture that starts at part.origin; it must hold PicturePartFor's
    // rectangle): builds only the part of the copy that a blend at
    // part.position draws, with the bytes a whole-picture preparation gives
    // there. The block is sized (with the same hysteresis) to that part; when
    // nothing of it lands on the frame, no block is kept at all. This is what
    // the frame pipeline uses, so a clock larger than the frame costs what
    // the frame shows of it.
    void PrepareOverlay(const uint8_t* pixels, Size imageSize, Rect sourceRect,
                        Size sizeThousandths, int32_t growPercent, int32_t shrinkPercent,
                        const OverlayPart& part);

    // The rectangle of a picture (picture coordinates) whose pixels the copy
    // part for a blend at `position` is computed from: the Lanczos taps of
    // the scaled pixels that land on the frame. Empty when nothing would be
    // drawn (also when BlendOverlay would refuse the frame).
    Rect PicturePartFor(Size picture, Size sizeThousandths, Point position) const;

    // False when BlendOverlay at `position` would need pixels of the scaled
    // overlay that the prepared copy does not hold (it then draws nothing).
    bool ServesPosition(Point position) const;

    // Blends the prepared copy onto a frame of the current format at a
    // position in thousandths, clipped to the frame. opacityPercent 0..100
    // (values outside are clamped). Writes nothing outside the frame buffer
    // of the current format, whatever the geometry.
    //
    // A YUY2 frame of odd width: only whole 4-byte macropixels inside a line
    // are ever touched, so its last pixel, whose macropixel would reach two
    // bytes past the line, is never blended; the overlay is clipped to the
    // even width below it.
    void BlendOverlay(uint8_t* framePixels, Point position, int32_t opacityPercent);

    // State, for tests and diagnostics.
    int32_t layout() const { return layout_; }
    int32_t frameWidth() const { return frameWidth_; }
    int32_t frameHeight() const { return frameHeight_; }
    const uint8_t* scaledPixels() const { return scaled_.data(); }
    int32_t capacityWidth() const { return capacityWidth_; }
    int32_t capacityHeight() const { return capacityHeight_; }
    Rect contentRect() const { return contentRect_; }
    Rect preparedRect() const { return preparedRect_; }

private:
    // The part of a copy of `target` pixels that a blend at `position`
    // (thousandths) can draw, in the copy's scaled coordinates.
    Rect CopyPartFor(Size target, Point position) const;
    Size TargetSize(Size sizeThousandths) const;
    // The frame's drawable width and height (a YUY2 line takes only whole
    // macropixels), or an empty size when BlendOverlay draws nothing on it.
    Size DrawableArea() const;
    void Prepare(const uint8_t* pixels, Size imageSize, Rect sourceRect, Size sizeThousandths,
                 int32_t growPercent, int32_t shrinkPercent, const OverlayPart* part);
    // Keeps or (re)allocates the copy's block for a part of width x height
    // pixels, with the hysteresis of PrepareOverlay; false, with no block,
    // when it cannot be allocated.
    bool EnsureCopyBlock(int32_t width, int32_t height, int32_t growPercent, int32_t shrinkPercent);
    // Where a blend at `position` lands: frame pixel (x, y) gets copy pixel
    // (copy.left, copy.top), in the copy's scaled coordinates; `odd` is the
    // parity of the frame pixel the block's first column lands on. False when
    // nothing is drawn.
    struct BlendRun {
        int32_t x = 0, y = 0, odd = 0;
        Rect copy;
    };
    bool ClipBlend(Point position, BlendRun& run) const;
    void BlendYUY2(uint8_t* framePixels, const BlendRun& run, int32_t opacity256);
    void BlendRGB24(uint8_t* framePixels, const BlendRun& run, int32_t opacity256) const;
    // Builds the packed YUY2 copy for a first column on a pixel of parity
    // `odd`; false when its block cannot be allocated.
    bool PackCopy(int32_t odd);

    int32_t layout_ = 0;
    int32_t frameWidth_ = 0;
    int32_t frameHeight_ = 0;
    AlignedBlock scaled_;
    int32_t capacityWidth_ = 0;
    int32_t capacityHeight_ = 0;
    Rect contentRect_;
    Rect preparedRect_;  // inside contentRect_; what the block holds
    // The layout the copy was built for; a blend onto another layout (after a
    // SetFrameFormat without a new PrepareOverlay) draws nothing.
    int32_t copyLayout_ = -1;
    ResamplerState resampler_;
    // The packed YUY2 copy: capacityHeight_ lines of packedMacropixels_
    // macropixels, each line its Y U Y V bytes then its opacity pairs.
    AlignedBlock packed_;
    int32_t packedMacropixels_ = 0;
    int32_t packedLines_ = 0;
    int32_t packedParity_ = -1;  // what packed_ holds; -1: nothing current
};

} // namespace horavel
