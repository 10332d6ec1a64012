// The clock picture pixel by pixel against GDI's own drawing of the text:
// with coloured text and box at partial opacities and a shadow of 20 %, a
// mask of the text drawn here says for every pixel whether the text covers
// it, its shadow (the mask moved by sh right and down) covers it, or neither;
// each such pixel must hold the premultiplied value of its kind, and plane 1
// the opacity in grey. Also the clock font's LOGFONT as GDI reports it.
#include "core/settings_store.h"
#include "render/clock_overlay.h"
#include "render/dib_plane_win32.h"
#include "render/gdi_clock_renderer_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace horavel {
namespace {

using Pixel = std::array<uint8_t, 4>;  // bytes 0..3 of a 32-bit pixel

// A plane's used rectangle, top row first.
std::vector<Pixel> ReadPlane(ClockOverlay& overlay, int32_t plane)
{
    overlay.SelectPlane(plane);
    const Rect used = overlay.UsedRect();
    const Size a = overlay.AllocationSize();
    std::vector<Pixel> pixels;
    for (int32_t y = 0; y < used.Height(); ++y)
        for (int32_t x = 0; x < used.Width(); ++x) {
            Pixel p;
            std::memcpy(p.data(), overlay.Pixels() + (size_t(a.height - 1 - y) * size_t(a.width) + size_t(x)) * 4, 4);
            pixels.push_back(p);
        }
    return pixels;
}

// The font the settings describe, built here field by field.
LOGFONTA FontOf(const SettingsRecord& s)
{
    LOGFONTA f{};
    f.lfHeight = s.FontSize;
    f.lfWeight = s.FontWeight;
    f.lfItalic = s.FontItalic;
    f.lfUnderline = s.FontUnderline;
    f.lfStrikeOut = s.FontStrikeOut;
    f.lfCharSet = s.FontCharSet;
    f.lfQuality = ANTIALIASED_QUALITY;
    std::strncpy(f.lfFaceName, s.FontName.c_str(), LF_FACESIZE - 1);
    return f;
}

// Coverage of the text drawn white on black at (0, 0): 0 where the glyphs
// leave a pixel alone, 255 where they cover it fully.
struct TextMask {
    int32_t width = 0, height = 0;
    SIZE extent{};
    std::vector<uint8_t> coverage;
    int At(int32_t x, int32_t y) const
    {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return 0;
        return coverage[size_t(y) * size_t(width) + size_t(x)];
    }
};

TextMask MeasureMask(const SettingsRecord& settings, const std::string& text)
{
    const LOGFONTA logFont = FontOf(settings);
    HFONT font = CreateFontIndirectA(&logFont);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ oldFont = SelectObject(dc, font);
    TextMask mask;
    GetTextExtentPoint32A(dc, text.data(), int(text.size()), &mask.extent);
    mask.width = mask.extent.cx + 32;
    mask.height = mask.extent.cy + 32;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = mask.width;
    info.bmiHeader.biHeight = -mask.height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    std::memset(bits, 0, size_t(4) * mask.width * mask.height);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, 0, 0, text.data(), int(text.size()));
    GdiFlush();
    const uint8_t* p = static_cast<const uint8_t*>(bits);
    for (int32_t i = 0; i < mask.width * mask.height; ++i, p += 4) {
        // Solid only when every channel is; untouched only when none is.
        const bool full = p[0] == 255 && p[1] == 255 && p[2] == 255;
        const bool none = p[0] == 0 && p[1] == 0 && p[2] == 0;
        mask.coverage.push_back(full ? 255 : (none ? 0 : 128));
    }
    SelectObject(dc, oldBitmap);
    SelectObject(dc, oldFont);
    DeleteObject(bitmap);
    DeleteDC(dc);
    DeleteObject(font);
    return mask;
}

// A colour scaled by a percentage, premultiplied, with the opacity as byte 3
// (kernel32's MulDiv: the rounding the picture must have).
Pixel Premultiplied(uint32_t colorref, int32_t percent)
{
    auto scale = [&](int shift) { return uint8_t(::MulDiv(int((colorref >> shift) & 0xFF), percent, 100)); };
    return {scale(16), scale(8), scale(0), uint8_t(::MulDiv(percent, 255, 100))};
}

std::string Show(const Pixel& p)
{
    char text[32];
    std::snprintf(text, sizeof text, "(%d,%d,%d,%d)", p[0], p[1], p[2], p[3]);
    return text;
}

TEST(ClockPicture, TextShadowAndBoxPixelsAgainstTheTextsMask)
{
    SettingsRecord settings = TableDefaults();
    settings.FontName = "Arial";
    settings.FontSize = -48;
    settings.FontWeight = 700;
    settings.TextColor = 0x2090E0;  // red 224, green 144, blue 32
    settings.TextOpacity = 70;
    settings.BackColor = 0x604020;  // red 32, green 64, blue 96
    settings.BackOpacity = 45;
    settings.ShadowOffset = 20;
    const std::string text = "88:88:88";

    GdiClockTextRenderer renderer;
    ClockOverlay overlay(AllocateDibPlane);
    overlay.AddPlane();
    overlay.AddPlane();
    ASSERT_TRUE(renderer.CreateClockFont(settings));
    const RenderedClock rendered = renderer.RenderClockText(text, settings, overlay);
    ASSERT_TRUE(rendered.hasPicture);

    const TextMask mask = MeasureMask(settings, text);
    const int32_t sh = ::MulDiv(mask.extent.cy, 20, 100);
    ASSERT_GT(sh, 5);
    const int32_t w = mask.extent.cx + sh, h = mask.extent.cy + sh;
    ASSERT_EQ(rendered.pixelSize, (Size{w, h}));
    const std::vector<Pixel> colour = ReadPlane(overlay, 0);
    const std::vector<Pixel> grey = ReadPlane(overlay, 1);
    ASSERT_EQ(colour.size(), size_t(w) * size_t(h));

    // Back box: colour x BackOpacity %; text: colour x TextOpacity %; shadow:
    // black with the text's opacity.
    const Pixel back = Premultiplied(settings.BackColor, settings.BackOpacity);
    const Pixel textValue = Premultiplied(settings.TextColor, settings.TextOpacity);
    const Pixel shadow = Premultiplied(0, settings.TextOpacity);
    EXPECT_EQ(back, (Pixel{43, 29, 14, 115}));
    EXPECT_EQ(textValue, (Pixel{22, 101, 157, 179}));

    int counts[3] = {0, 0, 0};
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const Pixel& c = colour[size_t(y) * size_t(w) + size_t(x)];
            const Pixel& g = grey[size_t(y) * size_t(w) + size_t(x)];
            ASSERT_TRUE(g[0] == c[3] && g[1] == c[3] && g[2] == c[3])
                << "plane 1 at (" << x << "," << y << ") is " << Show(g) << ", plane 0 " << Show(c);
            const int t = mask.At(x, y), s = mask.At(x - sh, y - sh);
            const char* kind = nullptr;
            Pixel expect{};
            if (t == 255) {
                kind = "text";
                expect = textValue;
                ++counts[0];
            } else if (t == 0 && s == 255) {
                kind = "shadow";
                expect = shadow;
                ++counts[1];
            } else if (t == 0 && s == 0) {
                kind = "back";
                expect = back;
                ++counts[2];
            }
            if (kind) {
                ASSERT_EQ(c, expect) << kind << " pixel (" << x << "," << y << ") is " << Show(c)
                                     << ", expected " << Show(expect);
            }
        }
    // The classes are all well populated, so none of the checks is vacuous.
    EXPECT_GT(counts[0], 300);
    EXPECT_GT(counts[1], 300);
    EXPECT_GT(counts[2], w * h / 3);
}

TEST(ClockPicture, ClockFontAsGdiReportsIt)
{
    SettingsRecord settings = TableDefaults();
    settings.FontName = "Bitstream Imaginary Sans Condensed ExtraBold";  // 44 characters
    settings.FontSize = -37;
    settings.FontWeight = 600;
    settings.FontItalic = 1;
    settings.FontUnderline = 1;
    settings.FontStrikeOut = 1;
    settings.FontCharSet = RUSSIAN_CHARSET;
    settings.FontQuality = NONANTIALIASED_QUALITY;
    GdiClockTextRenderer renderer;
    ASSERT_TRUE(renderer.CreateClockFont(settings));
    LOGFONTA f{};
    ASSERT_TRUE(renderer.CurrentLogFont(&f));
    EXPECT_EQ(f.lfHeight, -37);
    EXPECT_EQ(f.lfWidth, 0);
    EXPECT_EQ(f.lfEscapement, 0);
    EXPECT_EQ(f.lfOrientation, 0);
    EXPECT_EQ(f.lfWeight, 600);
    EXPECT_EQ(f.lfItalic, 1);
    EXPECT_EQ(f.lfUnderline, 1);
    EXPECT_EQ(f.lfStrikeOut, 1);
    EXPECT_EQ(f.lfCharSet, RUSSIAN_CHARSET);
    EXPECT_EQ(f.lfOutPrecision, 0);
    EXPECT_EQ(f.lfClipPrecision, 0);
    EXPECT_EQ(f.lfQuality, ANTIALIASED_QUALITY);
    EXPECT_EQ(f.lfPitchAndFamily, 0);
    EXPECT_STREQ(f.lfFaceName, "Bitstream Imaginary Sans Conden");  // the first 31

    // Other values of the same fields, and a face that fits.
    settings.FontName = "Arial";
    settings.FontSize = 20;
    settings.FontWeight = 300;
    settings.FontItalic = settings.FontUnderline = settings.FontStrikeOut = 0;
    settings.FontCharSet = ANSI_CHARSET;
    settings.FontQuality = CLEARTYPE_QUALITY;
    ASSERT_TRUE(renderer.CreateClockFont(settings));
    ASSERT_TRUE(renderer.CurrentLogFont(&f));
    EXPECT_EQ(f.lfHeight, 20);
    EXPECT_EQ(f.lfWeight, 300);
    EXPECT_EQ(f.lfItalic + f.lfUnderline + f.lfStrikeOut, 0);
    EXPECT_EQ(f.lfCharSet, ANSI_CHARSET);
    EXPECT_EQ(f.lfQuality, ANTIALIASED_QUALITY);
    EXPECT_STREQ(f.lfFaceName, "Arial");
}

} // namespace
} // namespace horavel
