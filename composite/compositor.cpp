#include "composite/compositor.h"

#include "composite/kernels.h"
#include "core/muldiv.h"

#include <cstddef>
#include <cstdint>

namespace horavel {

Compositor::Compositor() = default;
Compositor::~Compositor() = default;

void Compositor::SetFrameFormat(int32_t width, int32_t height, int32_t layout)
{
    frameWidth_ = width;
    frameHeight_ = height;
    layout_ = layout;
}

void Compositor::PrepareOverlay(const uint8_t* pixels, Size imageSize, Rect sourceRect,
                                Size sizeThousandths, int32_t growPercent, int32_t shrinkPercent)
{
    const int32_t targetWidth = MulDiv(frameWidth_, sizeThousandths.width, 1000);
    const int32_t targetHeight = MulDiv(frameHeight_, sizeThousandths.height, 1000);
    contentRect_ = Rect{};
    copyLayout_ = -1;
    // Negative sizes come only from negative frame sizes or thousandths (or a
    // MulDiv overflow); they are drawn as nothing and leave the block alone.
    if (targetWidth < 0 || targetHeight < 0)
        return;

    const int32_t lowerWidth = MulDiv(capacityWidth_, 100 - shrinkPercent, 100 + growPercent);
    const int32_t lowerHeight = MulDiv(capacityHeight_, 100 - shrinkPercent, 100 + growPercent);
    if (!scaled_ || targetWidth > capacityWidth_ || targetHeight > capacityHeight_ ||
        targetWidth < lowerWidth || targetHeight < lowerHeight) {
        scaled_.Release();
        capacityWidth_ = 0;
        capacityHeight_ = 0;
        const int32_t width = MulDiv(targetWidth, 100 + growPercent, 100);
        const int32_t height = MulDiv(targetHeight, 100 + growPercent, 100);
        // A grow percentage below 0 would give a block smaller than the target.
        if (width < targetWidth || height < targetHeight)
            return;
        const uint64_t bytes = uint64_t{4} * uint32_t(width) * uint32_t(height);
        if (bytes > kMaxBlockBytes || !scaled_.Allocate(static_cast<size_t>(bytes)))
            return;
        capacityWidth_ = width;
        capacityHeight_ = height;
    }
    // An empty target has still run the capacity step: a zero width or
    // height leaves the window below it and shrinks that dimension to 0.
    if (targetWidth == 0 || targetHeight == 0)
        return;

    if (layout_ != LayoutYUY2 && layout_ != LayoutRGB24)
        return;
    const SourceImage source{pixels, imageSize.width, imageSize.height, sourceRect};
    const Rect content{0, 0, targetWidth, targetHeight};
    const DestinationImage destination{scaled_.data(), capacityWidth_, capacityHeight_, content,
                                       layout_ == LayoutRGB24};
    const OutputFormat format = layout_ == LayoutYUY2 ? OutputFormat::YUVA : OutputFormat::BGRA;
    if (!pixels || imageSize.width <= 0 || imageSize.height <= 0 ||
        Intersect(sourceRect, Rect{0, 0, imageSize.width, imageSize.height}).IsEmpty())
        return;
    if (!Resample(source, destination, format, resampler_))
        return;
    contentRect_ = content;
    copyLayout_ = layout_;
}

void Compositor::BlendOverlay(uint8_t* framePixels, Point position, int32_t opacityPercent) const
{
    if (!framePixels || !scaled_ || contentRect_.IsEmpty() || copyLayout_ != layout_)
        return;
    if (layout_ != LayoutYUY2 && layout_ != LayoutRGB24)
        return;
    const int32_t frameWidth = frameWidth_;
    const int32_t frameHeight = frameHeight_;
    if (frameWidth <= 0 || frameHeight <= 0)
        return;
    const int32_t bytesPerPixel = layout_ == LayoutYUY2 ? 2 : 3;
    const int64_t lineBytes64 = int64_t{bytesPerPixel} * frameWidth;
    if (lineBytes64 * frameHeight > int64_t{PTRDIFF_MAX} / 2)
        return;
    const ptrdiff_t lineBytes = static_cast<ptrdiff_t>(lineBytes64);
    // Pixels a line can take: in YUY2 only whole macropixels.
    const int32_t usableWidth = layout_ == LayoutYUY2 ? (frameWidth & ~1) : frameWidth;
    if (usableWidth <= 0)
        return;

    int32_t x = MulDiv(frameWidth, position.x, 1000);
    int32_t y = MulDiv(frameHeight, position.y, 1000);
    int64_t sl = contentRect_.left, st = contentRect_.top;
    int64_t sr = contentRect_.right, sb = contentRect_.bottom;
    if (sr - sl <= 0 || x >= usableWidth)
        return;
    if (x < 0) {
        sl -= x;
        x = 0;
    }
    if (sb - st <= 0 || y >= frameHeight)
        return;
    if (y < 0) {
        st -= y;
        y = 0;
    }
    if (sl >= sr)
        return;
    if (x + (sr - sl) > usableWidth)
        sr = usableWidth - x + sl;
    if (st >= sb)
        return;
    if (y + (sb - st) > frameHeight)
        sb = frameHeight - y + st;
    if (sr <= sl || sb <= st)
        return;

    const int32_t percent = opacityPercent < 0 ? 0 : (opacityPercent > 100 ? 100 : opacityPercent);
    const int32_t opacity256 = MulDiv(percent, 256, 100);
    if (opacity256 == 0)
        return;

    const KernelTable& k = Kernels();
    const int32_t count = static_cast<int32_t>(sr - sl);
    const ptrdiff_t copyLine = ptrdiff_t{4} * capacityWidth_;
    const uint8_t* copyBase = scaled_.data() + 4 * sl;
    for (int64_t r = st; r < sb; ++r) {
        const ptrdiff_t frameLine = static_cast<ptrdiff_t>(y + (r - st));
        if (layout_ == LayoutYUY2) {
            k.blendRowYUY2(copyBase + r * copyLine, framePixels + frameLine * lineBytes, x, count,
                           opacity256);
        } else {
            const uint8_t* copy = copyBase + (capacityHeight_ - 1 - r) * copyLine;
            uint8_t* frame = framePixels + (frameHeight - 1 - frameLine) * lineBytes + 3 * x;
            k.blendRowRGB24(copy, frame, count, opacity256);
        }
    }
}

} // namespace horavel
