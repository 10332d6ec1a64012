#include "core/frame_pipeline.h"

#include "core/muldiv.h"

#include <ctime>

namespace horavel {

bool IsSupportedConversion(char c)
{
    // The conversions of the format menu: the set that the Windows C runtime
    // (msvcrt) knows. It returns nothing at all for a format holding any
    // other one, and newer runtimes abort, so every other letter is cleaned.
    switch (c) {
    case 'a': case 'A': case 'b': case 'B': case 'c': case 'd': case 'H': case 'I':
    case 'j': case 'm': case 'M': case 'p': case 'S': case 'U': case 'w': case 'W':
    case 'x': case 'X': case 'y': case 'Y': case 'z': case 'Z': case '%':
        return true;
    default:
        return false;
    }
}

std::string CleanClockFormat(std::string_view format)
{
    std::string text(format);
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '%') {
            ++i;
            continue;
        }
        size_t conversion = i + 1;
        if (conversion < text.size() && text[conversion] == '#')
            ++conversion;
        if (conversion >= text.size()) {
            text.erase(i);
            break;
        }
        if (IsSupportedConversion(text[conversion])) {
            i = conversion + 1;
            continue;
        }
        // Delete the '%' and its flag; the character stays as plain text and
        // is passed over.
        text.erase(i, conversion - i);
        ++i;
    }
    return text;
}

std::string FormatClockTime(const std::string& cleanedFormat, int64_t second)
{
    const std::time_t time = static_cast<std::time_t>(second);
    std::tm local{};
#if defined(_WIN32)
    // msvcrt keeps localtime's result per thread.
    const std::tm* converted = std::localtime(&time);
    if (!converted)
        return {};
    local = *converted;
#else
    if (!localtime_r(&time, &local))
        return {};
#endif
    char buffer[kClockTextBuffer];
    const size_t length = std::strftime(buffer, sizeof buffer, cleanedFormat.c_str(), &local);
    return std::string(buffer, length);
}

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

void FramePipeline::ProcessFrame(uint8_t* framePixels)
{
    const int64_t now = m_clock.CurrentSecond();
    // Read and replace in one step: a redraw request that arrives while this
    // frame renders is not lost, the next frame sees it.
    if (m_lastRenderedSecond.exchange(now) != now)
        Render(now);

    const Size size = m_frameClockSize;
    Point position;
    m_settings.EditLive([&](SettingsRecord& live) {
        position = ClampClockPosition({live.StringPosX, live.StringPosY}, size);
        live.StringPosX = position.x;
        live.StringPosY = position.y;
    });

    if (m_havePicture && framePixels)
        m_compositor.BlendOverlay(framePixels, position, 100);
}

void FramePipeline::Render(int64_t second)
{
    // Until a picture is prepared again, the old one is not blended.
    m_havePicture = false;

    const SettingsRecord settings = m_settings.Live();
    std::string text = FormatClockTime(CleanClockFormat(settings.Format), second);
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_clockText = text;
    }

    const RenderedClock rendered = m_renderer.RenderClockText(text, settings, m_overlay);
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
    if (rendered.hasPicture && m_overlay.Pixels() && !used.IsEmpty() && used.Width() == rendered.pixelSize.width &&
        used.Height() == rendered.pixelSize.height) {
        m_compositor.PrepareOverlay(m_overlay.Pixels(), m_overlay.AllocationSize(), used, size, kOverlayGrowPercent,
                                    kOverlayShrinkPercent);
        m_havePicture = true;
    }

    if (m_preview)
        m_preview->PostPreviewRefresh();
}

} // namespace horavel
