#include "pipeline/frame_pipeline.h"

#include "core/muldiv.h"

#include <cstdint>

namespace horavel {

Size ClockSizeInThousandths(Size pixels)
{
    return {MulDiv(pixels.width, 1000, kReferenceFrame.width), MulDiv(pixels.height, 1000, kReferenceFrame.height)};
}

Size ClockSizeInThousandths(Size pixels, Size frame, bool keepShape)
{
    const Size reference = ClockSizeInThousandths(pixels);
    if (!keepShape || frame.width <= 0 || frame.height <= 0 || pixels.width < 0)
        return reference;
    // width * frame.height / 576 pixels, in thousandths of frame.width.
    const int64_t numerator = int64_t{pixels.width} * frame.height * 1000;
    const int64_t denominator = int64_t{kReferenceFrame.height} * frame.width;
    const int64_t width = (numerator + denominator / 2) / denominator;
    return {width > INT32_MAX ? INT32_MAX : static_cast<int32_t>(width), reference.height};
}

Point ClampClockPosition(Point position, Size clockSize)
{
    if (position.x < 0)
        position.x = 0;
    if (position.y < 0)
        position.y = 0;
    if (int64_t{position.x} + clockSize.width > 1000)
        position.x = 1000 - clockSize.width;
    if (int64_t{position.y} + clockSize.height > 1000)
        position.y = 1000 - clockSize.height;
    return position;
}

FramePipeline::FramePipeline(SettingsStore& settings, ClockOverlay& overlay, OverlayCompositor& compositor,
                             ClockTextRenderer& renderer, const WallClock& clock, PreviewNotice* preview)
    : m_settings(settings), m_overlay(overlay), m_compositor(compositor), m_renderer(renderer), m_clock(clock),
      m_preview(preview)
{
}

void FramePipeline::RequestClockRedraw()
{
    m_lastRenderedSecond.store(-1);
}

std::string FramePipeline::ClockText() const
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_clockText;
}

Size FramePipeline::ClockSize() const
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_clockSize;
}

Point FramePipeline::ClampLivePosition(Size size)
{
    Point position;
    m_settings.EditLivePosition([&](int32_t& x, int32_t& y) {
        position = ClampClockPosition({x, y}, size);
        x = position.x;
        y = position.y;
    });
    return position;
}

void FramePipeline::ProcessFrame(uint8_t* framePixels)
{
    std::lock_guard<std::mutex> frame(m_frameLock);
    const int64_t now = m_clock.CurrentSecond();
    // Read and replace in one step: a redraw request that arrives while this
    // frame renders is not lost, the next frame sees it.
    if (m_lastRenderedSecond.exchange(now) != now)
        Render(now);

    Point position = ClampLivePosition(m_frameClockSize);
    // The copy holds what lands on the frame at the position it was
    // prepared for; a position it cannot serve gets a fresh rendering.
    if (m_havePicture && !(position == m_placed) && !m_compositor.ServesPosition(position)) {
        Render(now);
        position = ClampLivePosition(m_frameClockSize);
    }

    if (m_havePicture && framePixels)
        m_compositor.BlendOverlay(framePixels, position, 100);
}

void FramePipeline::Render(int64_t second)
{
    const SettingsRecord settings = m_settings.Live();
    // The format is made ready again only when its text changed: a long
    // format costs its length once per edit, not once per second.
    if (!m_haveFormat || settings.Format != m_formatText) {
        m_clockFormat = ClockFormat(settings.Format);
        m_formatText = settings.Format;
        m_haveFormat = true;
    }
    const std::string text = m_clockFormat.Format(second);
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_clockText = text;
    }

    // Until a picture is prepared again, the old one is not blended.
    m_havePicture = false;

    // Where the clock will be blended: the live position as this frame
    // clamps it for the new size. In a direction where the clock is larger
    // than the frame the clamp puts it at 1000 - size whatever the setting,
    // so a later move does not change what is visible; in a direction where
    // it fits, the compositor keeps all of it. (ProcessFrame still renders
    // again should a position ever need what the copy lacks.)
    Point placed;
    const Size frame = m_compositor.FrameSize();
    const bool keepShape = settings.KeepShape != 0;
    const PicturePartChooser visiblePart = [&](Size pictureSize) {
        const Size thousandths = ClockSizeInThousandths(pictureSize, frame, keepShape);
        Point live;
        m_settings.EditLivePosition([&](int32_t& x, int32_t& y) { live = {x, y}; });
        placed = ClampClockPosition(live, thousandths);
        return m_compositor.PicturePartFor(pictureSize, thousandths, placed);
    };
    const RenderedClock rendered = m_renderer.RenderClockText(text, settings, m_overlay, visiblePart);
    const Size size = ClockSizeInThousandths(rendered.pixelSize, frame, keepShape);
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_clockSize = size;
    }
    m_frameClockSize = size;

    // A plane without pixels is never handed over: the clock is skipped until
    // a later rendering succeeds. Nothing of the clock on the frame lets the
    // compositor's copy go, as the planes did.
    m_overlay.SelectPlane(0);
    const Rect used = m_overlay.UsedRect();
    const OverlayPart part{rendered.pixelSize, {rendered.part.left, rendered.part.top}, placed};
    if (rendered.hasPicture && m_overlay.Pixels() && !used.IsEmpty() && used.Width() == rendered.part.Width() &&
        used.Height() == rendered.part.Height()) {
        m_compositor.PrepareOverlay(m_overlay.Pixels(), m_overlay.AllocationSize(), used, size, kOverlayGrowPercent,
                                    kOverlayShrinkPercent, part);
        m_havePicture = true;
        m_placed = placed;
    } else if (rendered.part.IsEmpty()) {
        m_compositor.PrepareOverlay(nullptr, {}, {}, size, kOverlayGrowPercent, kOverlayShrinkPercent, part);
    }

    if (m_preview)
        m_preview->PostPreviewRefresh();
}

} // namespace horavel
