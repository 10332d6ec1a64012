#include "render/gdi_clock_renderer_win32.h"

#include "core/muldiv.h"
#include "render/clock_colors.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <utility>

namespace horavel {

namespace {

// The used rectangle of the selected plane in one colour, written straight
// into the section's pixels: what a GDI solid fill of a 32-bit section gives
// (blue, green, red, and 0 in the fourth byte), without GDI's fill path,
// which with cold caches costs tens of microseconds a plane. Pending GDI
// drawing lands first, so the order of the drawing stays that of GDI.
void FillUsedRect(ClockOverlay& overlay, COLORREF color)
{
    ::GdiFlush();
    const Rect used = overlay.UsedRect();
    const Size a = overlay.AllocationSize();
    const Rect inside = Intersect(used, Rect{0, 0, a.width, a.height});
    if (inside.IsEmpty())
        return;
    const uint32_t pixel = (color & 0xFFu) << 16 | (color & 0xFF00u) | (color >> 16 & 0xFFu);
    for (int32_t y = inside.top; y < inside.bottom; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(overlay.Pixels() + size_t(a.height - 1 - y) * size_t(a.width) * 4) +
                        inside.left;
        std::fill(row, row + inside.Width(), pixel);
    }
}

} // namespace

LOGFONTA MakeClockLogFont(const SettingsRecord& settings)
{
    LOGFONTA font{};
    font.lfHeight = settings.FontSize;
    font.lfWeight = settings.FontWeight;
    font.lfItalic = settings.FontItalic;
    font.lfUnderline = settings.FontUnderline;
    font.lfStrikeOut = settings.FontStrikeOut;
    font.lfCharSet = settings.FontCharSet;
    font.lfOutPrecision = 0;
    font.lfClipPrecision = 0;
    font.lfQuality = ANTIALIASED_QUALITY;
    font.lfPitchAndFamily = 0;
    // The face holds 31 characters and its terminator.
    const size_t length = std::min<size_t>(settings.FontName.size(), LF_FACESIZE - 1);
    std::memcpy(font.lfFaceName, settings.FontName.data(), length);
    font.lfFaceName[length] = '\0';
    return font;
}

GdiClockTextRenderer::GdiClockTextRenderer() = default;
GdiClockTextRenderer::~GdiClockTextRenderer() = default;

bool GdiClockTextRenderer::CreateClockFont(const SettingsRecord& settings)
{
    auto font = std::make_shared<framework::CFont>();
    if (!font->CreateFontIndirect(MakeClockLogFont(settings)))
        return false;
    std::shared_ptr<const framework::CFont> previous;
    {
        std::lock_guard<std::mutex> lock(m_fontLock);
        previous = std::exchange(m_font, std::move(font));
    }
    // The previous font is deleted here, outside the lock, unless a rendering
    // still holds it; then it goes when that rendering ends.
    return true;
}

bool GdiClockTextRenderer::CurrentLogFont(LOGFONTA* out) const
{
    const std::shared_ptr<const framework::CFont> font = CurrentFont();
    return font && ::GetObjectA(*font, sizeof *out, out) == sizeof *out;
}

std::shared_ptr<const framework::CFont> GdiClockTextRenderer::CurrentFont() const
{
    std::lock_guard<std::mutex> lock(m_fontLock);
    return m_font;
}

RenderedClock GdiClockTextRenderer::RenderClockText(const std::string& text, const SettingsRecord& settings,
                                                    ClockOverlay& overlay, const PicturePartChooser& choosePart)
{
    if (!m_dc) {
        auto dc = std::make_unique<framework::CMemoryDC>();
        if (!*dc)
            return {};
        ::SetBkMode(*dc, TRANSPARENT);
        m_dc = std::move(dc);
    }
    const HDC dc = *m_dc;
    // The font in use stays alive, and selected, for this rendering; without
    // a font of our own the DC's default font draws.
    const std::shared_ptr<const framework::CFont> font = CurrentFont();
    std::optional<framework::ScopedSelect> selectedFont;
    if (font)
        selectedFont.emplace(dc, *font);

    const int length = static_cast<int>(std::min<size_t>(text.size(), INT_MAX));
    SIZE extent{};
    if (!::GetTextExtentPoint32A(dc, text.data(), length, &extent))
        extent = SIZE{0, 0};
    const int32_t shadow = MulDiv(extent.cy, settings.ShadowOffset, 100);
    const Size size{extent.cx + shadow, extent.cy + shadow};
    // The part drawn: the whole picture, or what the chooser names of it.
    const Rect whole{0, 0, size.width > 0 ? size.width : 0, size.height > 0 ? size.height : 0};
    const Rect part = choosePart ? Intersect(choosePart(size), whole) : whole;
    // The picture's pixel (x, y) lands on the planes' (x - left, y - top).
    const int32_t dx = -part.left;
    const int32_t dy = -part.top;

    for (int32_t plane : {0, 1}) {
        overlay.SelectPlane(plane);
        overlay.EnsurePlaneSize(part.Width(), part.Height(), kOverlayGrowPercent, kOverlayShrinkPercent);
    }

    bool drawn = !part.IsEmpty();

    // Colour plane: colours already multiplied by their opacities. The planes
    // may be reallocated before the next rendering: neither stays selected.
    overlay.SelectPlane(0);
    if (HBITMAP bitmap = overlay.Pixels() ? static_cast<HBITMAP>(overlay.NativeHandle()) : nullptr) {
        const framework::ScopedSelect selected(dc, bitmap);
        FillUsedRect(overlay, ScaleColorByPercent(settings.BackColor, settings.BackOpacity));
        if (shadow != 0) {
            ::SetTextColor(dc, RGB(0, 0, 0));
            ::TextOutA(dc, shadow + dx, shadow + dy, text.data(), length);
        }
        ::SetTextColor(dc, ScaleColorByPercent(settings.TextColor, settings.TextOpacity));
        ::TextOutA(dc, dx, dy, text.data(), length);
    } else {
        drawn = false;
    }

    // Opacity plane: the same shapes in grey levels that encode the opacities.
    overlay.SelectPlane(1);
    if (HBITMAP bitmap = overlay.Pixels() ? static_cast<HBITMAP>(overlay.NativeHandle()) : nullptr) {
        const framework::ScopedSelect selected(dc, bitmap);
        FillUsedRect(overlay, GreyFromPercent(settings.BackOpacity));
        ::SetTextColor(dc, GreyFromPercent(settings.TextOpacity));
        if (shadow != 0)
            ::TextOutA(dc, shadow + dx, shadow + dy, text.data(), length);
        ::TextOutA(dc, dx, dy, text.data(), length);
    } else {
        drawn = false;
    }

    // The pixels are read directly below: all drawing must have landed.
    ::GdiFlush();
    overlay.CopyAlphaFromPlane(0, 1);
    overlay.SelectPlane(1);
    return {size, drawn, part};
}

} // namespace horavel
