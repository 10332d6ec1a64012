#include "framework/window.h"

#include "framework/module_state.h"

#include <vector>

namespace horavel::framework {

void CWnd::SetWindowText(std::wstring_view text)
{
    const std::wstring owned(text);
    ::SetWindowTextW(m_hWnd, owned.c_str());
}

std::wstring CWnd::GetWindowText() const
{
    const int length = ::GetWindowTextLengthW(m_hWnd);
    if (length <= 0)
        return {};
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int got = ::GetWindowTextW(m_hWnd, buffer.data(), length + 1);
    return std::wstring(buffer.data(), got > 0 ? got : 0);
}

CDialog::~CDialog()
{
    // A modeless dialog must be gone before its object; destroying it here is
    // the last resort at module unload.
    if (m_hWnd && ::IsWindow(m_hWnd))
        ::DestroyWindow(m_hWnd);
}

bool CDialog::Create(UINT templateId, CWnd* parent)
{
    assert(m_hWnd == nullptr);
    m_templateId = templateId;
    HWND created = ::CreateDialogParamW(ResourceHandle(), MAKEINTRESOURCEW(templateId),
                                        parent ? parent->m_hWnd : nullptr, &CDialog::DialogProc,
                                        reinterpret_cast<LPARAM>(this));
    if (!created) {
        m_hWnd = nullptr;
        return false;
    }
    return true;
}

INT_PTR CDialog::DoModal()
{
    assert(!m_modalRunning);
    m_modalRunning = true;
    const INT_PTR result = ::DialogBoxParamW(ResourceHandle(), MAKEINTRESOURCEW(m_templateId),
                                             ::GetActiveWindow(), &CDialog::DialogProc,
                                             reinterpret_cast<LPARAM>(this));
    m_modalRunning = false;
    m_hWnd = nullptr;
    return result;
}

void CDialog::EndDialog(int result)
{
    if (m_modalRunning)
        ::EndDialog(m_hWnd, result);
}

BOOL CDialog::OnInitDialog()
{
    DoDataExchange();
    return TRUE;
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (DispatchMap(WM_COMMAND, wParam, lParam, result))
        return TRUE;
    // Commands of the dialog manager: Enter and Escape, or buttons with these
    // ids.
    if (HIWORD(wParam) == BN_CLICKED || lParam == 0) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
    }
    return FALSE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->m_hWnd = hwnd;
    } else {
        self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    // Messages before WM_INITDIALOG go to the dialog manager alone.
    if (!self)
        return FALSE;
    return self->HandleMessage(message, wParam, lParam);
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        return OnCommand(wParam, lParam);
    case WM_NCDESTROY: {
        HWND hwnd = m_hWnd;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        m_hWnd = nullptr;
        PostNcDestroy();
        return FALSE;
    }
    default:
        break;
    }
    LRESULT result = 0;
    if (!DispatchMap(message, wParam, lParam, result))
        return FALSE;
    ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

} // namespace horavel::framework
