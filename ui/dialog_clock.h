// What the settings dialog needs of the clock, given to it by the plug-in
// when it opens: the live settings, the redraw request, the text and size of
// the last rendering, the clock font, and where to post the preview refresh.
// Everything here is safe to call from the dialog's thread while the host's
// thread processes frames.
#pragma once

#include "core/geometry.h"
#include "core/settings_store.h"

#include <windows.h>

#include <string>

namespace horavel {

// Posted to the dialog (never sent): wParam 1 from the frame path after a
// rendering, 0 from the dialog to itself to refill every control.
inline constexpr UINT kWmPreviewRefresh = WM_USER + 400;

class DialogClock {
public:
    virtual SettingsStore& Settings() = 0;
    // The next processed frame renders the clock afresh, whatever the time.
    virtual void RequestClockRedraw() = 0;
    // Text and size (thousandths of the frame) of the last rendering.
    virtual std::string ClockText() const = 0;
    virtual Size ClockSize() const = 0;
    // Rebuilds the clock font from the live font settings; a failure keeps
    // the previous font.
    virtual void CreateClockFont() = 0;
    // The window that gets kWmPreviewRefresh after every rendering, or null.
    virtual void SetPreviewWindow(HWND window) = 0;

protected:
    ~DialogClock() = default;
};

} // namespace horavel
