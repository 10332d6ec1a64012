// The clock text drawn with GDI: the clock font, and the rendering of the
// text into the overlay's colour and opacity planes, folded into one
// premultiplied BGRA picture in plane 0.
#pragma once

#include "core/settings_store.h"
#include "render/clock_text_renderer.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace horavel {

// The LOGFONT of the clock: height, weight and the style bytes from the
// settings, quality always ANTIALIASED_QUALITY (whatever FontQuality holds),
// at most the first 31 characters of FontName as the face.
LOGFONTA MakeClockLogFont(const SettingsRecord& settings);

class GdiClockTextRenderer final : public ClockTextRenderer {
public:
    GdiClockTextRenderer();
    ~GdiClockTextRenderer() override;
    GdiClockTextRenderer(const GdiClockTextRenderer&) = delete;
    GdiClockTextRenderer& operator=(const GdiClockTextRenderer&) = delete;

    // Creates the clock font from the settings. On failure the previous font
    // stays in use and false is returned. Safe on any thread, also while a
    // rendering runs: the rendering keeps the font it started with alive.
    bool CreateClockFont(const SettingsRecord& settings);
    bool HasFont() const;
    // The LOGFONT of the font in use as GDI reports it; false without a font.
    bool CurrentLogFont(LOGFONTA* out) const;

    // Measure, size both planes, draw the colour plane (back box, shadow,
    // text), draw the opacity plane in grey levels, flush GDI and copy the
    // opacity into plane 0's fourth byte. Afterwards plane 1 is selected.
    // With a chooser the text is drawn at whole-pixel offsets into planes of
    // the chosen part's size; GDI then gives every pixel of the part as it
    // gives it in the whole picture.
    RenderedClock RenderClockText(const std::string& text, const SettingsRecord& settings,
                                  ClockOverlay& overlay, const PicturePartChooser& choosePart = {}) override;

    // Counts the fonts made: a new one draws the same text differently.
    uint64_t PictureGeneration() const override { return m_generation.load(); }

private:
    struct Font;
    std::shared_ptr<const Font> CurrentFont() const;

    mutable std::mutex m_fontLock;  // guards m_font, held for the pointer copy
    std::shared_ptr<const Font> m_font;
    std::atomic<uint64_t> m_generation{0};

    // The memory device context the clock is drawn in, made by the first
    // rendering and kept (renderings run on one thread at a time), with the
    // font selected into it and kept alive while it is selected, and the
    // font the context came with.
    HDC m_dc = nullptr;
    std::shared_ptr<const Font> m_selectedFont;
    HGDIOBJ m_originalFont = nullptr;
};

} // namespace horavel
