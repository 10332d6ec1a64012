// Controls: thin wrappers over the child windows of a dialog (buttons, edits,
// statics, up-down controls, the version-1 rich edit), bound to their
// controls by id, never owning them.
#pragma once

#include "framework/window.h"

#include <commctrl.h>
#include <richedit.h>

namespace horavel::framework {

// Binds a control member to the dialog's control with that id (the dialog
// keeps owning the window).
void DDX_Control(const CWnd& dialog, int id, CWnd& control);

class CButton : public CWnd {};
class CStatic : public CWnd {};

class CEdit : public CWnd {
public:
    void LimitText(int characters) { SendMessage(EM_LIMITTEXT, characters, 0); }
    void ReplaceSel(std::wstring_view text, BOOL canUndo);
};

class CSpinButtonCtrl : public CWnd {
public:
    void SetBuddy(HWND buddy) { SendMessage(UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy), 0); }
    void SetRange(int lower, int upper) { SendMessage(UDM_SETRANGE, 0, MAKELPARAM(upper, lower)); }
    // The up-down control takes the low 16 bits of the position.
    void SetPos(int position) { SendMessage(UDM_SETPOS, 0, MAKELPARAM(position & 0xFFFF, 0)); }
};

// The version-1 rich edit control (class "RICHEDIT"); LoadRichEditLibrary
// must have run before a template that holds one is created.
class CRichEditCtrl : public CEdit {
public:
    CHARFORMATW GetDefaultCharFormat() const;
    void SetDefaultCharFormat(CHARFORMATW format) { SendMessage(EM_SETCHARFORMAT, SCF_DEFAULT, Arg(format)); }
    void SetSelectionCharFormat(CHARFORMATW format) { SendMessage(EM_SETCHARFORMAT, SCF_SELECTION, Arg(format)); }
    void SetWordCharFormat(CHARFORMATW format) { SendMessage(EM_SETCHARFORMAT, SCF_SELECTION | SCF_WORD, Arg(format)); }
    DWORD SetEventMask(DWORD mask) { return static_cast<DWORD>(SendMessage(EM_SETEVENTMASK, 0, mask)); }

private:
    static LPARAM Arg(CHARFORMATW& format) { return reinterpret_cast<LPARAM>(&format); }
};

// Loads riched32.dll once, which registers the version-1 rich edit class.
bool LoadRichEditLibrary();

} // namespace horavel::framework
