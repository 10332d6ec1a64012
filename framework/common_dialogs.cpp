#include "framework/common_dialogs.h"

namespace horavel::framework {

namespace {
// The custom colours of the colour dialog, kept for the life of the module
// as the user expects them to be there next time.
COLORREF g_customColors[16] = {
    0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
    0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
};
} // namespace

CFontDialog::CFontDialog(DWORD flags)
{
    m_cf.lStructSize = sizeof(m_cf);
    m_cf.lpLogFont = &m_lf;
    m_cf.Flags = flags;
}

INT_PTR CFontDialog::DoModal()
{
    m_cf.hwndOwner = ::GetActiveWindow();
    return ::ChooseFontW(&m_cf) ? IDOK : IDCANCEL;
}

CColorDialog::CColorDialog(COLORREF initial, DWORD flags)
{
    m_cc.lStructSize = sizeof(m_cc);
    m_cc.rgbResult = initial;
    m_cc.Flags = flags;
    m_cc.lpCustColors = g_customColors;
}

INT_PTR CColorDialog::DoModal()
{
    m_cc.hwndOwner = ::GetActiveWindow();
    return ::ChooseColorW(&m_cc) ? IDOK : IDCANCEL;
}

} // namespace horavel::framework
