#include "core/frame_pipeline.h"

#include "core/muldiv.h"

namespace horavel {

Size ClockSizeInThousandths(Size pixels)
{
    return {MulDiv(pixels.width, 1000, kReferenceFrame.width), MulDiv(pixels.height, 1000, kReferenceFrame.height)};
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

void FramePipeline::DiscardPicture()
{
    m_discardPicture.store(true);
    m_lastRenderedSecond.store(-1);
}

FramePipeline::PictureSettings FramePipeline::PictureSettings::Of(const SettingsRecord& r)
{
    return {r.FontName,  r.FontSize,  r.FontWeight,  r.FontItalic,  r.FontUnderline, r.FontStrikeOut,
            r.FontCharSet, r.TextColor, r.BackColor, r.TextOpacity, r.BackOpacity,   r.ShadowOffset};
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

void CompositorTarget::BlendOverlay(uint8_t* framePixels, Point position, int32_t opacityPercent)
{
    m_compositor.BlendOverlay(framePixels, position, opacityPercent);
}

void FramePipeline::ProcessFrame(uint8_t* framePixels)
{
    std::lock_guard<std::mutex> frame(m_frameLock);
    const int64_t now = m_clock.CurrentSecond();
    // Read and replace in one step: a redraw request that arrives while this
    // frame renders is not lost, the next frame sees it.
    if (m_lastRenderedSecond.exchange(now) != now)
        Render(now);

    const Size size = m_frameClockSize;
    Point position;
    m_settings.EditLivePosition([&](int32_t& x, int32_t& y) {
        position = ClampClockPosition({x, y}, size);
        x = position.x;
        y = position.y;
    });

    // The copy holds what lands on the frame at the position it was
    // prepared for; a position it cannot serve gets a fresh rendering.
    if (m_havePicture && m_visiblePartOnly && !(position == m_placed) && !m_compositor.ServesPosition(position)) {
        Render(now);
        m_settings.EditLivePosition([&](int32_t& x, int32_t& y) {
            position = ClampClockPosition({x, y}, m_frameClockSize);
            x = position.x;
            y = position.y;
        });
    }

    if (m_havePicture && framePixels)
        m_compositor.BlendOverlay(framePixels, position, 100);
}

const SettingsRecord& FramePipeline::RefreshSettings()
{
    // Nothing is copied while the record is unchanged, and the format is
    // made ready again only when its text changed: a long format costs its
    // length once per edit, not once per second.
    bool formatChanged = false;
    m_settings.ReadLive([&](const SettingsRecord& live, uint64_t revision) {
        // The clamp moves the position without counting a change.
        m_renderSettings.StringPosX = live.StringPosX;
        m_renderSettings.StringPosY = live.StringPosY;
        if (m_haveSettings && revision == m_settingsRevision)
            return;
        formatChanged = !m_haveSettings || live.Format != m_renderSettings.Format;
        m_renderSettings = live;
        m_settingsRevision = revision;
        m_haveSettings = true;
    });
    if (formatChanged)
        m_clockFormat = ClockFormat(m_renderSettings.Format);
    return m_renderSettings;
}

bool FramePipeline::SamePart()
{
    if (m_visiblePartOnly != m_pictureKey.visiblePartOnly)
        return false;
    if (!m_visiblePartOnly)
        return true;
    // The same text, font and settings give a picture of the same size, so
    // the part the position asks for now is found from the held one's.
    const Size picture = m_pictureKey.picture;
    const Size thousandths = ClockSizeInThousandths(picture);
    Point live;
    m_settings.EditLivePosition([&](int32_t& x, int32_t& y) { live = {x, y}; });
    const Point placed = ClampClockPosition(live, thousandths);
    return placed == m_pictureKey.placed &&
           m_compositor.PicturePartFor(picture, thousandths, placed) == m_pictureKey.part;
}

void FramePipeline::Render(int64_t second)
{
    const SettingsRecord& settings = RefreshSettings();
    std::string text = m_clockFormat.Format(second);
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_clockText = text;
    }

    // With "%H:%M" 59 seconds of 60 give the text of the second before: the
    // picture the compositor holds is then what rendering, scaling and
    // converting again would give, byte for byte, and is kept. The renderer's
    // generation stands for its font; the frame format counts through
    // DiscardPicture; the part of the picture that is kept must be the one
    // the position now asks for. The text and size published stay the same.
    const uint64_t generation = m_renderer.PictureGeneration();
    const bool discard = m_discardPicture.exchange(false);
    if (m_skipUnchanged && m_havePicture && !discard && text == m_pictureKey.text &&
        generation == m_pictureKey.rendererGeneration && PictureSettings::Of(settings) == m_pictureKey.settings &&
        SamePart()) {
        ++m_keptCount;
        if (m_preview)
            m_preview->PostPreviewRefresh();
        return;
    }

    // Until a picture is prepared again, the old one is not blended.
    m_havePicture = false;
    ++m_renderCount;

    // Where the clock will be blended: the live position as this frame
    // clamps it for the new size. In a direction where the clock is larger
    // than the frame the clamp puts it at 1000 - size whatever the setting,
    // so a later move does not change what is visible; in a direction where
    // it fits, the compositor keeps all of it. (ProcessFrame still renders
    // again should a position ever need what the copy lacks.)
    Point placed;
    const PicturePartChooser visiblePart = [&](Size pictureSize) {
        const Size thousandths = ClockSizeInThousandths(pictureSize);
        Point live;
        m_settings.EditLivePosition([&](int32_t& x, int32_t& y) { live = {x, y}; });
        placed = ClampClockPosition(live, thousandths);
        return m_compositor.PicturePartFor(pictureSize, thousandths, placed);
    };
    const RenderedClock rendered =
        m_renderer.RenderClockText(text, settings, m_overlay, m_visiblePartOnly ? visiblePart : PicturePartChooser{});
    const Size size = ClockSizeInThousandths(rendered.pixelSize);
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_clockSize = size;
    }
    m_frameClockSize = size;

    // A plane without pixels is never handed over: the clock is skipped until
    // a later rendering succeeds.
    m_overlay.SelectPlane(0);
    const Rect used = m_overlay.UsedRect();
    const OverlayPart part{rendered.pixelSize, {rendered.part.left, rendered.part.top}, placed};
    if (rendered.hasPicture && m_overlay.Pixels() && !used.IsEmpty() && used.Width() == rendered.part.Width() &&
        used.Height() == rendered.part.Height()) {
        if (m_visiblePartOnly)
            m_compositor.PrepareOverlay(m_overlay.Pixels(), m_overlay.AllocationSize(), used, size,
                                        kOverlayGrowPercent, kOverlayShrinkPercent, part);
        else
            m_compositor.PrepareOverlay(m_overlay.Pixels(), m_overlay.AllocationSize(), used, size,
                                        kOverlayGrowPercent, kOverlayShrinkPercent);
        m_havePicture = true;
        m_placed = placed;
        m_pictureKey.text = std::move(text);
        m_pictureKey.settings = PictureSettings::Of(settings);
        m_pictureKey.rendererGeneration = generation;
        m_pictureKey.visiblePartOnly = m_visiblePartOnly;
        m_pictureKey.picture = rendered.pixelSize;
        m_pictureKey.part = rendered.part;
        m_pictureKey.placed = placed;
    } else if (m_visiblePartOnly && rendered.part.IsEmpty()) {
        // Nothing of the clock lands on the frame: the compositor lets its
        // copy go, as its planes did.
        m_compositor.PrepareOverlay(nullptr, {}, {}, size, kOverlayGrowPercent, kOverlayShrinkPercent, part);
    }

    if (m_preview)
        m_preview->PostPreviewRefresh();
}

} // namespace horavel
