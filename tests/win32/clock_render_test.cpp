// The GDI clock renderer on real DIB sections: the premultiplied values of
// plane 0 on solid areas (back box, glyph interiors, shadow), the picture's
// size against GDI's own measurement, and the font's fixed quality.
#include "pipeline/frame_pipeline.h"
#include "core/muldiv.h"
#include "render/clock_colors.h"
#include "render/dib_plane_win32.h"
#include "render/gdi_clock_renderer_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

namespace horavel {
namespace {

using Pixel = std::array<uint8_t, 4>;  // blue, green, red, opacity

// Plane 0's used rectangle, top row first.
struct Picture {
    Size size;
    std::vector<Pixel> pixels;
    const Pixel& At(int32_t x, int32_t y) const { return pixels[size_t(y) * size_t(size.width) + size_t(x)]; }
    int Count(const Pixel& value) const
    {
        int n = 0;
        for (const Pixel& p : pixels)
            n += p == value;
        return n;
    }
};

Picture ReadPlaneZero(ClockOverlay& overlay)
{
    overlay.SelectPlane(0);
    const Rect used = overlay.UsedRect();
    const Size a = overlay.AllocationSize();
    Picture picture{{used.Width(), used.Height()}, {}};
    for (int32_t y = 0; y < used.Height(); ++y)
        for (int32_t x = 0; x < used.Width(); ++x) {
            Pixel p;
            std::memcpy(p.data(), overlay.Pixels() + (size_t(a.height - 1 - y) * size_t(a.width) + size_t(x)) * 4, 4);
            picture.pixels.push_back(p);
        }
    return picture;
}

// GDI's own extent of the text in the clock font.
SIZE MeasureText(const SettingsRecord& settings, const std::string& text)
{
    const LOGFONTA logFont = MakeClockLogFont(settings);
    HFONT font = CreateFontIndirectA(&logFont);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(font);
    return extent;
}

class GdiRenderer : public ::testing::Test {
protected:
    GdiRenderer() : overlay(AllocateDibPlane)
    {
        overlay.AddPlane();
        overlay.AddPlane();
    }
    Picture Render(const SettingsRecord& settings, const std::string& text)
    {
        EXPECT_TRUE(renderer.CreateClockFont(settings));
        result = renderer.RenderClockText(text, settings, overlay);
        EXPECT_EQ(overlay.SelectedPlane(), 1);
        return ReadPlaneZero(overlay);
    }

    GdiClockTextRenderer renderer;
    ClockOverlay overlay;
    RenderedClock result;
};

// "88:88:88" and an underline give broad solid strokes; digits are of one
// width in every font that stands in for Arial.
const std::string kText = "88:88:88";

TEST_F(GdiRenderer, DefaultSettingsGivePremultipliedBoxTextAndShadow)
{
    const SettingsRecord settings = TableDefaults();
    const Picture picture = Render(settings, kText);
    const SIZE extent = MeasureText(settings, kText);
    const int32_t shadow = MulDiv(extent.cy, 8, 100);
    ASSERT_TRUE(result.hasPicture);
    EXPECT_GT(shadow, 0);
    EXPECT_EQ(result.pixelSize, (Size{extent.cx + shadow, extent.cy + shadow}));
    ASSERT_EQ(picture.size, result.pixelSize);

    const Pixel back{38, 0, 0, 77};
    const Pixel text{115, 115, 115, 153};
    const Pixel shade{0, 0, 0, 153};
    // Corners that neither the text nor its shadow reach.
    const int32_t w = picture.size.width, h = picture.size.height;
    EXPECT_EQ(picture.At(0, 0), back);
    EXPECT_EQ(picture.At(w - 1, 0), back);
    EXPECT_EQ(picture.At(0, h - 1), back);
    EXPECT_GT(picture.Count(back), w * h / 4);
    EXPECT_GT(picture.Count(text), 40);
    EXPECT_GT(picture.Count(shade), 20);
    // Edge pixels mix the same two values in both planes, so colour never
    // exceeds opacity (one level of rounding aside).
    for (const Pixel& p : picture.pixels)
        for (int c = 0; c < 3; ++c)
            ASSERT_LE(p[size_t(c)], p[3] + 1);
}

TEST_F(GdiRenderer, NoShadowPassAtOffsetZero)
{
    SettingsRecord settings = TableDefaults();
    settings.ShadowOffset = 0;
    const Picture picture = Render(settings, kText);
    const SIZE extent = MeasureText(settings, kText);
    EXPECT_EQ(result.pixelSize, (Size{extent.cx, extent.cy}));
    EXPECT_EQ(picture.Count({0, 0, 0, 153}), 0);
    EXPECT_GT(picture.Count({115, 115, 115, 153}), 40);
}

TEST_F(GdiRenderer, ThirtyFourPixelTextGetsAThreePixelShadow)
{
    // Which face and height measure exactly 34 pixels depends on the fonts
    // that stand in for the requested ones; find such a pair.
    SettingsRecord settings = TableDefaults();
    const auto findThirtyFour = [&] {
        for (const char* face : {"Arial", "DejaVu Sans", "Tahoma", "Times New Roman"})
            for (int32_t height = 30; height <= 38; ++height) {
                settings.FontName = face;
                settings.FontSize = height;
                if (MeasureText(settings, kText).cy == 34)
                    return true;
            }
        return false;
    };
    ASSERT_TRUE(findThirtyFour());
    const SIZE extent = MeasureText(settings, kText);
    const Picture picture = Render(settings, kText);
    EXPECT_EQ(result.pixelSize, (Size{extent.cx + 3, 37}));
    EXPECT_EQ(picture.size, (Size{extent.cx + 3, 37}));

    // And the same rule at other heights and offsets.
    for (int32_t offset : {8, 20, 13}) {
        settings.FontName = "Arial";
        settings.FontSize = -50;
        settings.ShadowOffset = offset;
        const SIZE other = MeasureText(settings, kText);
        Render(settings, kText);
        const int32_t shadow = MulDiv(other.cy, offset, 100);
        EXPECT_EQ(result.pixelSize, (Size{other.cx + shadow, other.cy + shadow})) << offset;
    }
}

TEST_F(GdiRenderer, OpaqueTextOnATransparentBox)
{
    SettingsRecord settings = TableDefaults();
    settings.TextOpacity = 100;
    settings.BackOpacity = 0;
    const Picture picture = Render(settings, kText);
    const int32_t w = picture.size.width, h = picture.size.height;
    EXPECT_EQ(picture.At(0, 0), (Pixel{0, 0, 0, 0}));
    EXPECT_EQ(picture.At(w - 1, 0), (Pixel{0, 0, 0, 0}));
    EXPECT_EQ(picture.At(0, h - 1), (Pixel{0, 0, 0, 0}));
    EXPECT_GT(picture.Count({192, 192, 192, 255}), 40);  // 0xC0C0C0, opaque
    EXPECT_GT(picture.Count({0, 0, 0, 255}), 20);        // the shadow, opaque black
}

TEST_F(GdiRenderer, FontQualitySettingChangesNothing)
{
    SettingsRecord settings = TableDefaults();
    settings.FontName = std::string("Arial") + std::string(40, ' ');
    EXPECT_EQ(MakeClockLogFont(settings).lfQuality, ANTIALIASED_QUALITY);
    EXPECT_EQ(std::strlen(MakeClockLogFont(settings).lfFaceName), 31u);
    settings.FontName = "Arial";
    settings.FontQuality = 0;
    EXPECT_EQ(MakeClockLogFont(settings).lfQuality, ANTIALIASED_QUALITY);
    const Picture plain = Render(settings, kText);
    settings.FontQuality = 3;  // NONANTIALIASED_QUALITY, were it read
    const Picture again = Render(settings, kText);
    EXPECT_EQ(plain.size, again.size);
    EXPECT_TRUE(plain.pixels == again.pixels);
}

TEST_F(GdiRenderer, EmptyTextWithoutShadowHasNoPicture)
{
    SettingsRecord settings = TableDefaults();
    settings.ShadowOffset = 0;
    Render(settings, "");
    EXPECT_EQ(result.pixelSize.width, 0);
    EXPECT_FALSE(result.hasPicture);
}

// A part drawn alone, at whole-pixel offsets into planes of its own size,
// holds the very bytes of the same pixels of the whole picture: antialiased
// glyphs, italic overhang, underline, shadow, the box's edges.
TEST_F(GdiRenderer, PartDrawnAloneHasTheBytesOfTheWholePicture)
{
    struct Case {
        int32_t fontSize, shadow, italic, underline;
    };
    uint32_t rng = 12345;
    auto pick = [&](int32_t lo, int32_t hi) {
        rng = rng * 1103515245u + 12345u;
        return lo + int32_t((rng >> 8) % uint32_t(hi - lo + 1));
    };
    for (const Case& c : {Case{-34, 8, 0, 0}, Case{-97, 30, 1, 1}, Case{-260, 0, 0, 0}, Case{-151, 400, 1, 0}}) {
        SettingsRecord settings = TableDefaults();
        settings.FontSize = c.fontSize;
        settings.ShadowOffset = c.shadow;
        settings.FontItalic = c.italic;
        settings.FontUnderline = c.underline;
        settings.TextOpacity = 83;
        settings.BackOpacity = 41;
        const Picture whole = Render(settings, "12:47:09");
        ASSERT_TRUE(result.hasPicture);
        const Size size = result.pixelSize;
        for (int round = 0; round < 6; ++round) {
            Rect chosen{pick(-20, size.width - 1), pick(-20, size.height - 1), 0, 0};
            chosen.right = pick(chosen.left + 1, size.width + 20);
            chosen.bottom = pick(chosen.top + 1, size.height + 20);
            const Rect part = Intersect(chosen, Rect{0, 0, size.width, size.height});
            SCOPED_TRACE(testing::Message() << "font " << c.fontSize << " part " << part.left << "," << part.top
                                            << "," << part.right << "," << part.bottom);
            const RenderedClock drawn =
                renderer.RenderClockText("12:47:09", settings, overlay, [&](Size) { return chosen; });
            ASSERT_EQ(drawn.pixelSize, size);
            ASSERT_EQ(drawn.part, part);
            const Picture alone = ReadPlaneZero(overlay);
            ASSERT_EQ(alone.size, (Size{part.Width(), part.Height()}));
            int differing = 0;
            for (int32_t y = 0; y < part.Height(); ++y)
                for (int32_t x = 0; x < part.Width(); ++x)
                    differing += alone.At(x, y) != whole.At(part.left + x, part.top + y);
            EXPECT_EQ(differing, 0);
        }
        // A part outside the picture draws nothing.
        const RenderedClock none =
            renderer.RenderClockText("12:47:09", settings, overlay, [&](Size s) { return Rect{s.width, 0, s.width + 5, 5}; });
        EXPECT_FALSE(none.hasPicture);
        EXPECT_TRUE(none.part.IsEmpty());
    }
}

// The clock drawn with GDI doing every step, its fills included, as the
// renderer drew it before it filled the box in memory.
Picture DrawnAllWithGdi(const SettingsRecord& settings, const std::string& text)
{
    ClockOverlay planes(AllocateDibPlane);
    planes.AddPlane();
    planes.AddPlane();
    const LOGFONTA logFont = MakeClockLogFont(settings);
    HFONT font = CreateFontIndirectA(&logFont);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    const int length = static_cast<int>(text.size());
    SIZE extent{};
    GetTextExtentPoint32A(dc, text.data(), length, &extent);
    const int32_t shadow = MulDiv(extent.cy, settings.ShadowOffset, 100);
    HGDIOBJ oldBitmap = GetCurrentObject(dc, OBJ_BITMAP);
    auto fill = [&](COLORREF color) {
        const Rect u = planes.UsedRect();
        const RECT r{u.left, u.top, u.right, u.bottom};
        const COLORREF previous = SetBkColor(dc, color);
        ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
        SetBkColor(dc, previous);
    };
    for (int32_t plane : {0, 1}) {
        planes.SelectPlane(plane);
        planes.EnsurePlaneSize(extent.cx + shadow, extent.cy + shadow, 25, 25);
        SelectObject(dc, static_cast<HBITMAP>(planes.NativeHandle()));
        if (plane == 0) {
            fill(ScaleColorByPercent(settings.BackColor, settings.BackOpacity));
            if (shadow != 0) {
                SetTextColor(dc, RGB(0, 0, 0));
                TextOutA(dc, shadow, shadow, text.data(), length);
            }
            SetTextColor(dc, ScaleColorByPercent(settings.TextColor, settings.TextOpacity));
        } else {
            fill(GreyFromPercent(settings.BackOpacity));
            SetTextColor(dc, GreyFromPercent(settings.TextOpacity));
            if (shadow != 0)
                TextOutA(dc, shadow, shadow, text.data(), length);
        }
        TextOutA(dc, 0, 0, text.data(), length);
    }
    GdiFlush();
    planes.CopyAlphaFromPlane(0, 1);
    SelectObject(dc, oldBitmap);
    SelectObject(dc, oldFont);
    DeleteDC(dc);
    DeleteObject(font);
    return ReadPlaneZero(planes);
}

// The box is filled in memory, not by GDI: the pictures are the same to the
// byte, antialiased edges over every kind of box colour included.
TEST_F(GdiRenderer, BoxFilledInMemoryGivesGdisPicture)
{
    struct Case {
        uint32_t text, back;
        int32_t textOpacity, backOpacity, shadow, fontSize, italic;
    };
    for (const Case& c : {Case{0xC0C0C0, 0x800000, 60, 30, 8, -34, 0}, Case{0x10E0F7, 0x3355AA, 100, 100, 20, -60, 1},
                          Case{0xFFFFFF, 0x000000, 45, 0, 0, -21, 0}, Case{0x0000FF, 0xFF00FF, 7, 93, 55, -97, 1}}) {
        SettingsRecord settings = TableDefaults();
        settings.TextColor = c.text;
        settings.BackColor = c.back;
        settings.TextOpacity = c.textOpacity;
        settings.BackOpacity = c.backOpacity;
        settings.ShadowOffset = c.shadow;
        settings.FontSize = c.fontSize;
        settings.FontItalic = static_cast<uint8_t>(c.italic);
        for (const std::string& text : {std::string("12:47:09"), std::string("Wq%,")}) {
            SCOPED_TRACE(testing::Message() << "font " << c.fontSize << " text " << text);
            const Picture ours = Render(settings, text);
            const Picture gdi = DrawnAllWithGdi(settings, text);
            ASSERT_EQ(ours.size, gdi.size);
            int differing = 0;
            for (size_t i = 0; i < ours.pixels.size(); ++i)
                differing += ours.pixels[i] != gdi.pixels[i];
            EXPECT_EQ(differing, 0);
        }
    }
}

TEST_F(GdiRenderer, FontReplacedWhileRendering)
{
    // The dialog's thread re-creates the font while frames render: the
    // rendering keeps the font it selected alive until it is done with it.
    SettingsRecord settings = TableDefaults();
    ASSERT_TRUE(renderer.CreateClockFont(settings));
    std::atomic<bool> stop{false};
    std::thread dialog([&] {
        SettingsRecord other = settings;
        for (int i = 0; !stop; ++i) {
            other.FontSize = -20 - i % 30;
            renderer.CreateClockFont(other);
        }
    });
    for (int i = 0; i < 300; ++i) {
        const RenderedClock rendered = renderer.RenderClockText(kText, settings, overlay);
        ASSERT_TRUE(rendered.hasPicture);
        ASSERT_GT(rendered.pixelSize.height, 0);
    }
    stop = true;
    dialog.join();
}

} // namespace
} // namespace horavel
