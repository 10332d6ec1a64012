#include "framework/controls.h"

#include <string>

namespace horavel::framework {

void DDX_Control(const CWnd& dialog, int id, CWnd& control)
{
    HWND child = dialog.GetDlgItem(id);
    assert(child != nullptr);
    control.m_hWnd = child;
}

void CEdit::ReplaceSel(std::wstring_view text, BOOL canUndo)
{
    const std::wstring owned(text);
    SendMessage(EM_REPLACESEL, canUndo, reinterpret_cast<LPARAM>(owned.c_str()));
}

CHARFORMATW CRichEditCtrl::GetDefaultCharFormat() const
{
    CHARFORMATW format{};
    format.cbSize = sizeof(format);
    SendMessage(EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    return format;
}

bool LoadRichEditLibrary()
{
    // Kept loaded for the life of the process, as the class it registers
    // must outlive every window of it.
    static HMODULE library = ::LoadLibraryW(L"riched32.dll");
    return library != nullptr;
}

} // namespace horavel::framework
