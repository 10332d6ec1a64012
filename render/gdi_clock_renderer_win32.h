// The clock text drawn with GDI: the clock font, and the rendering of the
// text into the overlay's colour and opacity planes, folded into one
// premultiplied BGRA picture in plane 0.
#pragma once

#include "core/settings_store.h"
#include "framework/gdi.h"
#include "render/clock_text_renderer.h"

#include <windows.h>

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

private:
    std::shared_ptr<const framework::CFont> CurrentFont() const;

    mutable std::mutex m_fontLock;  // guards m_font, held for the pointer copy
    std::shared_ptr<const framework::CFont> m_font;
    // The memory device context the clock is drawn in, made by the first
    // rendering and kept (renderings run on one thread at a time).
    std::unique_ptr<framework::CMemoryDC> m_dc;
};

} // namespace horavel
