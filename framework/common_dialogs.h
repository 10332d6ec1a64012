// Common dialogs: the font and colour pickers, run modally with the calling
// thread's active window as owner.
#pragma once

#include <windows.h>
#include <commdlg.h>

namespace horavel::framework {

class CFontDialog {
public:
    // No initial font; the caller fills m_cf (lpLogFont, Flags, hook) before
    // DoModal.
    explicit CFontDialog(DWORD flags);
    CFontDialog(const CFontDialog&) = delete;
    CFontDialog& operator=(const CFontDialog&) = delete;

    // IDOK or IDCANCEL.
    INT_PTR DoModal();

    CHOOSEFONTW m_cf{};

private:
    LOGFONTW m_lf{};
};

class CColorDialog {
public:
    CColorDialog(COLORREF initial, DWORD flags);
    CColorDialog(const CColorDialog&) = delete;
    CColorDialog& operator=(const CColorDialog&) = delete;

    INT_PTR DoModal();
    COLORREF GetColor() const { return m_cc.rgbResult; }

    CHOOSECOLORW m_cc{};
};

} // namespace horavel::framework
