#include "composite/compositor.h"

#include "composite/kernels.h"
#include "core/muldiv.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace horavel {

Compositor::Compositor() = default;
Compositor::~Compositor() = default;

void Compositor::SetFrameFormat(int32_t width, int32_t height, int32_t layout)
{
    frameWidth_ = width;
    frameHeight_ = height;
    layout_ = layout;
}

Size Compositor::TargetSize(Size sizeThousandths) const
{
    return {MulDiv(frameWidth_, sizeThousandths.width, 1000), MulDiv(frameHeight_, sizeThousandths.height, 1000)};
}

Size Compositor::DrawableArea() const
{
    if (layout_ != LayoutYUY2 && layout_ != LayoutRGB24)
        return {};
    if (frameWidth_ <= 0 || frameHeight_ <= 0)
        return {};
    const int32_t bytesPerPixel = layout_ == LayoutYUY2 ? 2 : 3;
    if (int64_t{bytesPerPixel} * frameWidth_ * frameHeight_ > int64_t{PTRDIFF_MAX} / 2)
        return {};
    // Pixels a line can take: in YUY2 only whole macropixels.
    const int32_t usableWidth = layout_ == LayoutYUY2 ? (frameWidth_ & ~1) : frameWidth_;
    if (usableWidth <= 0)
        return {};
    return {usableWidth, frameHeight_};
}

namespace {

// One direction of CopyPartFor: copy pixels lo .. hi - 1 of `target` placed at
// frame pixel `at` on a frame of `usable` pixels.
void PartAlong(int32_t target, int32_t at, int32_t usable, int32_t& lo, int32_t& hi)
{
    if (target <= usable) {
        // It fits: all of it, so that any position inside the frame is served.
        lo = 0;
        hi = target;
        return;
    }
    const int64_t from = at < 0 ? -int64_t{at} : 0;
    const int64_t to = int64_t{usable} - at < target ? int64_t{usable} - at : target;
    if (at >= usable || from >= to) {
        lo = hi = 0;
        return;
    }
    lo = static_cast<int32_t>(from);
    hi = static_cast<int32_t>(to);
}

} // namespace

Rect Compositor::CopyPartFor(Size target, Point position) const
{
    const Size area = DrawableArea();
    if (area.width <= 0 || target.width <= 0 || target.height <= 0)
        return {};
    Rect part;
    PartAlong(target.width, MulDiv(frameWidth_, position.x, 1000), area.width, part.left, part.right);
    PartAlong(target.height, MulDiv(frameHeight_, position.y, 1000), area.height, part.top, part.bottom);
    return part.IsEmpty() ? Rect{} : part;
}

Rect Compositor::PicturePartFor(Size picture, Size sizeThousandths, Point position) const
{
    if (picture.width <= 0 || picture.height <= 0)
        return {};
    const Size target = TargetSize(sizeThousandths);
    const Rect copy = CopyPartFor(target, position);
    if (copy.IsEmpty())
        return {};
    const SampleSpan columns = SourceSpan(picture.width, target.width, copy.left, copy.Width());
    const SampleSpan lines = SourceSpan(picture.height, target.height, copy.top, copy.Height());
    const Rect part{columns.lo, lines.lo, columns.hi, lines.hi};
    return part.IsEmpty() ? Rect{} : part;
}

bool Compositor::ServesPosition(Point position) const
{
    if (contentRect_.IsEmpty())
        return true;
    const Rect needed = CopyPartFor({contentRect_.Width(), contentRect_.Height()}, position);
    return needed.IsEmpty() || Intersect(needed, preparedRect_) == needed;
}

void Compositor::PrepareOverlay(const uint8_t* pixels, Size imageSize, Rect sourceRect,
                                Size sizeThousandths, int32_t growPercent, int32_t shrinkPercent)
{
    Prepare(pixels, imageSize, sourceRect, sizeThousandths, growPercent, shrinkPercent, nullptr);
}

void Compositor::PrepareOverlay(const uint8_t* pixels, Size imageSize, Rect sourceRect,
                                Size sizeThousandths, int32_t growPercent, int32_t shrinkPercent,
                                const OverlayPart& part)
{
    Prepare(pixels, imageSize, sourceRect, sizeThousandths, growPercent, shrinkPercent, &part);
}

void Compositor::Prepare(const uint8_t* pixels, Size imageSize, Rect sourceRect, Size sizeThousandths,
                         int32_t growPercent, int32_t shrinkPercent, const OverlayPart* part)
{
    const Size target = TargetSize(sizeThousandths);
    contentRect_ = Rect{};
    preparedRect_ = Rect{};
    copyLayout_ = -1;
    packedParity_ = -1;
    // Negative sizes come only from negative frame sizes or thousandths (or a
    // MulDiv overflow); they are drawn as nothing and leave the block alone.
    if (target.width < 0 || target.height < 0)
        return;
    // The whole copy, or only what a blend at the given position draws
    // (nothing at all when none of it lands on the frame).
    const Rect prepared = part ? CopyPartFor(target, part->position) : Rect{0, 0, target.width, target.height};
    const int32_t needWidth = prepared.Width();
    const int32_t needHeight = prepared.Height();
    if (!EnsureCopyBlock(needWidth, needHeight, growPercent, shrinkPercent))
        return;
    // An empty part has still run the capacity step: a zero width or height
    // leaves the window below it and shrinks that dimension to 0.
    if (prepared.IsEmpty() || (layout_ != LayoutYUY2 && layout_ != LayoutRGB24))
        return;
    if (!pixels || imageSize.width <= 0 || imageSize.height <= 0 ||
        Intersect(sourceRect, Rect{0, 0, imageSize.width, imageSize.height}).IsEmpty())
        return;

    const SourceImage source{pixels, imageSize.width, imageSize.height, sourceRect,
                             part ? part->picture : Size{}, part ? part->origin : Point{}};
    // The copy's block starts at the prepared part's top-left pixel.
    const Rect shifted{-prepared.left, -prepared.top, target.width - prepared.left, target.height - prepared.top};
    const DestinationImage destination{scaled_.data(), capacityWidth_, capacityHeight_, shifted,
                                       layout_ == LayoutRGB24, Rect{0, 0, needWidth, needHeight}};
    const OutputFormat format = layout_ == LayoutYUY2 ? OutputFormat::YUVA : OutputFormat::BGRA;
    if (!Resample(source, destination, format, resampler_))
        return;
    contentRect_ = Rect{0, 0, target.width, target.height};
    preparedRect_ = prepared;
    copyLayout_ = layout_;
}

bool Compositor::EnsureCopyBlock(int32_t width, int32_t height, int32_t growPercent, int32_t shrinkPercent)
{
    const int32_t lowerWidth = MulDiv(capacityWidth_, 100 - shrinkPercent, 100 + growPercent);
    const int32_t lowerHeight = MulDiv(capacityHeight_, 100 - shrinkPercent, 100 + growPercent);
    if (scaled_ && width <= capacityWidth_ && height <= capacityHeight_ && width >= lowerWidth &&
        height >= lowerHeight)
        return true;
    scaled_.Release();
    capacityWidth_ = 0;
    capacityHeight_ = 0;
    const int32_t grownWidth = MulDiv(width, 100 + growPercent, 100);
    const int32_t grownHeight = MulDiv(height, 100 + growPercent, 100);
    // A grow percentage below 0 would give a block smaller than the part.
    if (grownWidth < width || grownHeight < height)
        return false;
    const uint64_t bytes = uint64_t{4} * uint32_t(grownWidth) * uint32_t(grownHeight);
    if (bytes > kMaxBlockBytes || !scaled_.Allocate(static_cast<size_t>(bytes)))
        return false;
    capacityWidth_ = grownWidth;
    capacityHeight_ = grownHeight;
    return true;
}

bool Compositor::PackCopy(int32_t odd)
{
    packedParity_ = -1;
    const int32_t macropixels = capacityWidth_ / 2 + 1;
    if (!packed_ || packedMacropixels_ != macropixels || packedLines_ != capacityHeight_) {
        packed_.Release();
        packedMacropixels_ = 0;
        packedLines_ = 0;
        const uint64_t bytes = uint64_t{6} * uint32_t(macropixels) * uint32_t(capacityHeight_);
        if (bytes > kMaxBlockBytes || !packed_.Allocate(static_cast<size_t>(bytes)))
            return false;
        packedMacropixels_ = macropixels;
        packedLines_ = capacityHeight_;
    }
    const KernelTable& k = Kernels();
    const ptrdiff_t packedLine = ptrdiff_t{6} * packedMacropixels_;
    for (int32_t line = 0; line < preparedRect_.Height(); ++line) {
        uint8_t* s = packed_.data() + line * packedLine;
        k.packRowYUY2(scaled_.data() + ptrdiff_t{4} * capacityWidth_ * line, preparedRect_.Width(), odd, s,
                      s + ptrdiff_t{4} * packedMacropixels_);
    }
    packedParity_ = odd;
    return true;
}

bool Compositor::ClipBlend(Point position, BlendRun& run) const
{
    const Size area = DrawableArea();
    if (area.width <= 0)
        return false;
    int32_t x = MulDiv(frameWidth_, position.x, 1000);
    int32_t y = MulDiv(frameHeight_, position.y, 1000);
    // The parity of the frame pixel that the block's first column lands on.
    run.odd = static_cast<int32_t>((int64_t{x} + preparedRect_.left) & 1);
    int64_t sl = contentRect_.left, st = contentRect_.top;
    int64_t sr = contentRect_.right, sb = contentRect_.bottom;
    if (sr - sl <= 0 || x >= area.width || sb - st <= 0 || y >= frameHeight_)
        return false;
    if (x < 0) {
        sl -= x;
        x = 0;
    }
    if (y < 0) {
        st -= y;
        y = 0;
    }
    if (sl >= sr || st >= sb)
        return false;
    if (x + (sr - sl) > area.width)
        sr = area.width - x + sl;
    if (y + (sb - st) > frameHeight_)
        sb = frameHeight_ - y + st;
    if (sr <= sl || sb <= st)
        return false;
    // Only the prepared part of the copy exists; a blend that would reach
    // outside it (a position other than the one prepared for) draws nothing.
    if (sl < preparedRect_.left || sr > preparedRect_.right || st < preparedRect_.top || sb > preparedRect_.bottom)
        return false;
    run.x = x;
    run.y = y;
    run.copy = Rect{static_cast<int32_t>(sl), static_cast<int32_t>(st), static_cast<int32_t>(sr),
                    static_cast<int32_t>(sb)};
    return true;
}

void Compositor::BlendOverlay(uint8_t* framePixels, Point position, int32_t opacityPercent)
{
    if (!framePixels || !scaled_ || contentRect_.IsEmpty() || copyLayout_ != layout_)
        return;
    BlendRun run;
    if (!ClipBlend(position, run))
        return;
    const int32_t percent = opacityPercent < 0 ? 0 : (opacityPercent > 100 ? 100 : opacityPercent);
    const int32_t opacity256 = MulDiv(percent, 256, 100);
    if (opacity256 == 0)
        return;
    if (layout_ == LayoutYUY2)
        BlendYUY2(framePixels, run, opacity256);
    else
        BlendRGB24(framePixels, run, opacity256);
}

namespace {

// Blends lines top .. bottom - 1 one at a time, asking for the lines a few
// steps ahead while each is blended.
template <class Prefetch, class BlendLine>
void BlendLinesAhead(int32_t top, int32_t bottom, Prefetch prefetch, BlendLine blendLine)
{
    constexpr int32_t kLinesAhead = 2;
    for (int32_t r = top; r < std::min(bottom, top + kLinesAhead); ++r)
        prefetch(r);
    for (int32_t r = top; r < bottom; ++r) {
        if (r + kLinesAhead < bottom)
            prefetch(r + kLinesAhead);
        blendLine(r);
    }
}

} // namespace

void Compositor::BlendYUY2(uint8_t* framePixels, const BlendRun& run, int32_t opacity256)
{
    const int32_t odd = run.odd;
    if (packedParity_ != odd && !PackCopy(odd))
        return;
    const KernelTable& k = Kernels();
    const ptrdiff_t lineBytes = ptrdiff_t{2} * frameWidth_;
    // Block columns b0 .. b1 - 1 land on the macropixels from the one holding
    // frame pixel x. A run starts on a right half or ends on a left half only
    // at the block's own edge (a clip on the left stops at pixel 0, one on the
    // right after an odd pixel), where the packed line holds the missing half
    // as one the blend leaves alone.
    const int64_t b0 = run.copy.left - preparedRect_.left, b1 = run.copy.right - preparedRect_.left;
    const int64_t m0 = (b0 + odd) >> 1;
    const int32_t macropixels = static_cast<int32_t>(((b1 - 1 + odd) >> 1) - m0 + 1);
    const ptrdiff_t packedLine = ptrdiff_t{6} * packedMacropixels_;
    const uint8_t* firstS = packed_.data() + 4 * m0;
    const ptrdiff_t toA = ptrdiff_t{4} * packedMacropixels_ - 2 * m0;
    const size_t sBytes = size_t{4} * static_cast<size_t>(macropixels);
    auto sAt = [&](int32_t r) { return firstS + (r - preparedRect_.top) * packedLine; };
    auto frameAt = [&](int32_t r) {
        return framePixels + static_cast<ptrdiff_t>(run.y + (r - run.copy.top)) * lineBytes + 4 * (run.x >> 1);
    };
    auto prefetch = [&](int32_t r) {
        k.prefetch(sAt(r), sBytes);
        k.prefetch(sAt(r) + toA, sBytes / 2);
        k.prefetch(frameAt(r), sBytes);
    };
    BlendLinesAhead(run.copy.top, run.copy.bottom, prefetch, [&](int32_t r) {
        k.blendRowYUY2(sAt(r), sAt(r) + toA, frameAt(r), macropixels, opacity256);
    });
}

void Compositor::BlendRGB24(uint8_t* framePixels, const BlendRun& run, int32_t opacity256) const
{
    const KernelTable& k = Kernels();
    const ptrdiff_t lineBytes = ptrdiff_t{3} * frameWidth_;
    const int32_t count = run.copy.Width();
    const ptrdiff_t copyLine = ptrdiff_t{4} * capacityWidth_;
    const uint8_t* copyBase = scaled_.data() + 4 * (run.copy.left - preparedRect_.left);
    const size_t copyBytes = size_t{4} * static_cast<size_t>(count);
    const size_t frameBytes = size_t{3} * static_cast<size_t>(count);
    // Where line r of the (bottom-up) copy and its frame bytes start.
    auto copyAt = [&](int32_t r) { return copyBase + (capacityHeight_ - 1 - (r - preparedRect_.top)) * copyLine; };
    auto frameAt = [&](int32_t r) {
        return framePixels + (frameHeight_ - 1 - static_cast<ptrdiff_t>(run.y + (r - run.copy.top))) * lineBytes +
               3 * run.x;
    };
    auto prefetch = [&](int32_t r) {
        k.prefetch(copyAt(r), copyBytes);
        k.prefetch(frameAt(r), frameBytes);
    };
    BlendLinesAhead(run.copy.top, run.copy.bottom, prefetch,
                    [&](int32_t r) { k.blendRowRGB24(copyAt(r), frameAt(r), count, opacity256); });
}

} // namespace horavel
