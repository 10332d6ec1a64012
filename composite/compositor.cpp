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

const uint8_t* SourceLine(const uint8_t* pixels, Size image, int32_t top)
{
    return pixels + (ptrdiff_t{image.height} - 1 - top) * 4 * image.width;
}

// The bounding rectangle (image coordinates) of the pixels of sourceRect that
// differ from `held`, which holds that rectangle top line first.
Rect ChangedPixels(const uint8_t* held, const uint8_t* pixels, Size image, Rect sourceRect)
{
    const int32_t width = sourceRect.Width();
    const size_t lineBytes = size_t{4} * width;
    Rect changed;
    for (int32_t y = 0; y < sourceRect.Height(); ++y) {
        const uint8_t* was = held + y * lineBytes;
        const uint8_t* now = SourceLine(pixels, image, sourceRect.top + y) + 4 * sourceRect.left;
        if (std::memcmp(was, now, lineBytes) == 0)
            continue;
        int32_t lo = 0, hi = width;
        while (std::memcmp(was + 4 * lo, now + 4 * lo, 4) == 0)
            ++lo;
        while (std::memcmp(was + 4 * (hi - 1), now + 4 * (hi - 1), 4) == 0)
            --hi;
        const Rect line{sourceRect.left + lo, sourceRect.top + y, sourceRect.left + hi, sourceRect.top + y + 1};
        changed = changed.IsEmpty() ? line
                                    : Rect{std::min(changed.left, line.left), changed.top,
                                           std::max(changed.right, line.right), line.bottom};
    }
    return changed;
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
    const int32_t targetWidth = target.width;
    const int32_t targetHeight = target.height;
    contentRect_ = Rect{};
    preparedRect_ = Rect{};
    copyLayout_ = -1;
    const int32_t wasPacked = packedParity_;
    packedParity_ = -1;
    const bool wasHeld = heldValid_;
    heldValid_ = false;
    // Negative sizes come only from negative frame sizes or thousandths (or a
    // MulDiv overflow); they are drawn as nothing and leave the block alone.
    if (targetWidth < 0 || targetHeight < 0)
        return;
    const Rect content{0, 0, targetWidth, targetHeight};
    // The whole copy, or only what a blend at the given position draws
    // (nothing at all when none of it lands on the frame).
    const Rect prepared = part ? CopyPartFor(target, part->position) : content;
    const int32_t needWidth = part ? prepared.Width() : targetWidth;
    const int32_t needHeight = part ? prepared.Height() : targetHeight;

    const int32_t lowerWidth = MulDiv(capacityWidth_, 100 - shrinkPercent, 100 + growPercent);
    const int32_t lowerHeight = MulDiv(capacityHeight_, 100 - shrinkPercent, 100 + growPercent);
    bool reallocated = false;
    if (!scaled_ || needWidth > capacityWidth_ || needHeight > capacityHeight_ ||
        needWidth < lowerWidth || needHeight < lowerHeight) {
        reallocated = true;
        scaled_.Release();
        capacityWidth_ = 0;
        capacityHeight_ = 0;
        const int32_t width = MulDiv(needWidth, 100 + growPercent, 100);
        const int32_t height = MulDiv(needHeight, 100 + growPercent, 100);
        // A grow percentage below 0 would give a block smaller than the target.
        if (width < needWidth || height < needHeight)
            return;
        const uint64_t bytes = uint64_t{4} * uint32_t(width) * uint32_t(height);
        if (bytes > kMaxBlockBytes || !scaled_.Allocate(static_cast<size_t>(bytes)))
            return;
        capacityWidth_ = width;
        capacityHeight_ = height;
    }
    // An empty target (or part) has still run the capacity step: a zero
    // width or height leaves the window below it and shrinks that dimension
    // to 0.
    if (needWidth <= 0 || needHeight <= 0 || prepared.IsEmpty())
        return;

    if (layout_ != LayoutYUY2 && layout_ != LayoutRGB24)
        return;
    SourceImage source{pixels, imageSize.width, imageSize.height, sourceRect};
    if (part) {
        source.picture = part->picture;
        source.partOrigin = part->origin;
    }
    // The copy's block starts at the prepared part's top-left pixel.
    const Rect shifted{-prepared.left, -prepared.top, targetWidth - prepared.left, targetHeight - prepared.top};
    const DestinationImage destination{scaled_.data(), capacityWidth_, capacityHeight_, shifted,
                                       layout_ == LayoutRGB24, Rect{0, 0, needWidth, needHeight}};
    const OutputFormat format = layout_ == LayoutYUY2 ? OutputFormat::YUVA : OutputFormat::BGRA;
    if (!pixels || imageSize.width <= 0 || imageSize.height <= 0 ||
        Intersect(sourceRect, Rect{0, 0, imageSize.width, imageSize.height}).IsEmpty())
        return;

    // The same geometry as the copy held: only the copy pixels that the
    // changed source pixels reach are computed (none when nothing changed).
    const Geometry geometry{{sourceRect.Width(), sourceRect.Height()},
                            part ? part->picture : Size{},
                            target,
                            part ? part->origin : Point{},
                            prepared,
                            capacityWidth_,
                            capacityHeight_,
                            layout_,
                            frameWidth_,
                            frameHeight_};
    const bool inside = Intersect(sourceRect, Rect{0, 0, imageSize.width, imageSize.height}) == sourceRect;
    bool update = incremental_ && wasHeld && !reallocated && inside && geometry == held_;
    if (update) {
        source.changed = ChangedPixels(heldSource_.data(), pixels, imageSize, sourceRect);
        if (!source.changed.IsEmpty() && !Resample(source, destination, format, resampler_))
            return;
    } else if (!Resample(source, destination, format, resampler_)) {
        return;
    }
    copyUpdates_ += update ? 1 : 0;
    contentRect_ = content;
    preparedRect_ = prepared;
    copyLayout_ = layout_;
    // An update in place keeps the packed copy: only what it recomputed is
    // packed again.
    if (update && wasPacked >= 0) {
        packedParity_ = wasPacked;
        if (!source.changed.IsEmpty())
            PackPart(resampler_.computed);
    }

    // Keep the source the copy now stands for (when there is room for it).
    if (!inside)
        return;
    const size_t lineBytes = size_t{4} * sourceRect.Width();
    if (!update) {
        heldSource_.Release();
        if (!heldSource_.Allocate(lineBytes * sourceRect.Height()))
            return;
    }
    const Rect copied = update ? source.changed : sourceRect;
    for (int32_t y = copied.top; y < copied.bottom; ++y)
        std::memcpy(heldSource_.data() + (y - sourceRect.top) * lineBytes,
                    SourceLine(pixels, imageSize, y) + 4 * sourceRect.left, lineBytes);
    held_ = geometry;
    heldValid_ = true;
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

void Compositor::PackPart(Rect columns)
{
    const Rect part = Intersect(columns, Rect{0, 0, preparedRect_.Width(), preparedRect_.Height()});
    if (part.IsEmpty())
        return;
    const int32_t odd = packedParity_;
    // The whole macropixels: from the left pixel of the first one (or the
    // block's first column), to the right pixel of the last one (or the
    // block's last column).
    const int32_t m0 = (part.left + odd) >> 1, m1 = (part.right - 1 + odd) >> 1;
    const int32_t first = std::max(0, 2 * m0 - odd);
    const int32_t end = std::min(preparedRect_.Width(), 2 * m1 + 2 - odd);
    const int32_t firstOdd = 2 * m0 - odd < 0 ? 1 : 0;
    const KernelTable& k = Kernels();
    const ptrdiff_t packedLine = ptrdiff_t{6} * packedMacropixels_;
    for (int32_t line = part.top; line < part.bottom; ++line) {
        uint8_t* s = packed_.data() + line * packedLine + 4 * m0;
        k.packRowYUY2(scaled_.data() + ptrdiff_t{4} * capacityWidth_ * line + 4 * first, end - first, firstOdd, s,
                      s + ptrdiff_t{4} * packedMacropixels_ - 2 * m0);
    }
}

void Compositor::BlendOverlay(uint8_t* framePixels, Point position, int32_t opacityPercent)
{
    if (!framePixels || !scaled_ || contentRect_.IsEmpty() || copyLayout_ != layout_)
        return;
    const Size area = DrawableArea();
    if (area.width <= 0)
        return;
    const int32_t frameWidth = frameWidth_;
    const int32_t frameHeight = frameHeight_;
    const int32_t bytesPerPixel = layout_ == LayoutYUY2 ? 2 : 3;
    const ptrdiff_t lineBytes = static_cast<ptrdiff_t>(int64_t{bytesPerPixel} * frameWidth);
    const int32_t usableWidth = area.width;

    int32_t x = MulDiv(frameWidth, position.x, 1000);
    int32_t y = MulDiv(frameHeight, position.y, 1000);
    // The parity of the frame pixel that the block's first column lands on.
    const int32_t odd = static_cast<int32_t>((int64_t{x} + preparedRect_.left) & 1);
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
    // Only the prepared part of the copy exists; a blend that would reach
    // outside it (a position other than the one prepared for) draws nothing.
    if (sl < preparedRect_.left || sr > preparedRect_.right || st < preparedRect_.top ||
        sb > preparedRect_.bottom)
        return;

    const int32_t percent = opacityPercent < 0 ? 0 : (opacityPercent > 100 ? 100 : opacityPercent);
    const int32_t opacity256 = MulDiv(percent, 256, 100);
    if (opacity256 == 0)
        return;

    const KernelTable& k = Kernels();
    if (layout_ == LayoutYUY2) {
        if (packedParity_ != odd && !PackCopy(odd))
            return;
        // Block columns b0 .. b1 - 1 land on the macropixels from the one
        // holding frame pixel x. A run starts on a right half or ends on a
        // left half only at the block's own edge (a clip on the left stops
        // at pixel 0, one on the right after an odd pixel), where the packed
        // line holds the missing half as one the blend leaves alone.
        const int64_t b0 = sl - preparedRect_.left, b1 = sr - preparedRect_.left;
        const int64_t m0 = (b0 + odd) >> 1;
        const int32_t macropixels = static_cast<int32_t>(((b1 - 1 + odd) >> 1) - m0 + 1);
        const ptrdiff_t packedLine = ptrdiff_t{6} * packedMacropixels_;
        const uint8_t* firstS = packed_.data() + 4 * m0;
        const ptrdiff_t toA = ptrdiff_t{4} * packedMacropixels_ - 2 * m0;
        const size_t sBytes = size_t{4} * static_cast<size_t>(macropixels);
        auto sAt = [&](int64_t r) { return firstS + (r - preparedRect_.top) * packedLine; };
        auto frameAt = [&](int64_t r) {
            return framePixels + static_cast<ptrdiff_t>(y + (r - st)) * lineBytes + 4 * (x >> 1);
        };
        // The lines a few steps ahead are asked for while one is blended.
        constexpr int64_t kAhead = 2;
        for (int64_t r = st; r < std::min<int64_t>(sb, st + kAhead); ++r) {
            k.prefetch(sAt(r), sBytes);
            k.prefetch(sAt(r) + toA, sBytes / 2);
            k.prefetch(frameAt(r), sBytes);
        }
        for (int64_t r = st; r < sb; ++r) {
            if (r + kAhead < sb) {
                k.prefetch(sAt(r + kAhead), sBytes);
                k.prefetch(sAt(r + kAhead) + toA, sBytes / 2);
                k.prefetch(frameAt(r + kAhead), sBytes);
            }
            k.blendRowYUY2(sAt(r), sAt(r) + toA, frameAt(r), macropixels, opacity256);
        }
        return;
    }

    const int32_t count = static_cast<int32_t>(sr - sl);
    const ptrdiff_t copyLine = ptrdiff_t{4} * capacityWidth_;
    const uint8_t* copyBase = scaled_.data() + 4 * (sl - preparedRect_.left);
    const size_t copyBytes = size_t{4} * static_cast<size_t>(count);
    const size_t frameBytes = size_t{3} * static_cast<size_t>(count);
    // Where line r of the (bottom-up) copy and its frame bytes start.
    auto copyAt = [&](int64_t r) { return copyBase + (capacityHeight_ - 1 - (r - preparedRect_.top)) * copyLine; };
    auto frameAt = [&](int64_t r) {
        return framePixels + (frameHeight - 1 - static_cast<ptrdiff_t>(y + (r - st))) * lineBytes + 3 * x;
    };
    constexpr int64_t kAhead = 2;
    for (int64_t r = st; r < std::min<int64_t>(sb, st + kAhead); ++r) {
        k.prefetch(copyAt(r), copyBytes);
        k.prefetch(frameAt(r), frameBytes);
    }
    for (int64_t r = st; r < sb; ++r) {
        if (r + kAhead < sb) {
            k.prefetch(copyAt(r + kAhead), copyBytes);
            k.prefetch(frameAt(r + kAhead), frameBytes);
        }
        k.blendRowRGB24(copyAt(r), frameAt(r), count, opacity256);
    }
}

} // namespace horavel
