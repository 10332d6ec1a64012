// What the settings dialog (and the plug-in callbacks) may use of the clock:
// the live settings, the redraw request, the clock text and size of the last
// rendering, and the clock font. Everything here is safe to call from the
// dialog's thread while the host's thread processes frames.
#pragma once

#include "core/geometry.h"
#include "core/settings_store.h"

#include <string>

namespace horavel {

// The one settings store of the module.
SettingsStore& Settings();

// The next processed frame renders the clock afresh, whatever the time.
void RequestClockRedraw();

// Text and size (thousandths of the frame) of the last rendering.
std::string ClockText();
Size ClockSize();

// Rebuilds the clock font from the live font settings; a failure keeps the
// previous font.
void CreateClockFont();

// The window that gets WM_PREVIEW_REFRESH (wParam 1) after every rendering:
// the settings dialog registers its window when it opens and 0 when it goes.
// The frame path only ever posts to it.
void SetPreviewWindow(void* hwnd);

// WM_USER + 400.
inline constexpr unsigned kWmPreviewRefresh = 0x0400 + 400;

} // namespace horavel
