// Windows and dialogs: a non-owning window wrapper, the dialog base for modal
// and modeless dialogs from templates, and the data-driven message map.
#pragma once

#include <windows.h>

#include <cassert>
#include <span>
#include <string>
#include <string_view>

namespace horavel::framework {

// Wraps a window handle that it does not own: destroying the wrapper never
// destroys the window (the host's window is wrapped this way).
class CWnd {
public:
    CWnd() = default;
    explicit CWnd(HWND hwnd) : m_hWnd(hwnd) {}
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd() = default;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    void Attach(HWND hwnd)
    {
        assert(m_hWnd == nullptr);
        m_hWnd = hwnd;
    }
    HWND Detach()
    {
        HWND hwnd = m_hWnd;
        m_hWnd = nullptr;
        return hwnd;
    }

    bool IsWindow() const { return m_hWnd != nullptr && ::IsWindow(m_hWnd); }
    BOOL DestroyWindow() { return ::DestroyWindow(m_hWnd); }
    BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
    HWND SetFocus() { return ::SetFocus(m_hWnd); }
    BOOL FlashWindow(BOOL invert) { return ::FlashWindow(m_hWnd, invert); }
    RECT GetWindowRect() const
    {
        RECT rect{};
        ::GetWindowRect(m_hWnd, &rect);
        return rect;
    }
    BOOL SetWindowPos(HWND insertAfter, int x, int y, int cx, int cy, UINT flags)
    {
        return ::SetWindowPos(m_hWnd, insertAfter, x, y, cx, cy, flags);
    }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::PostMessageW(m_hWnd, message, wParam, lParam);
    }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    UINT GetDlgItemInt(int id, BOOL* translated, BOOL isSigned) const
    {
        return ::GetDlgItemInt(m_hWnd, id, translated, isSigned);
    }
    void SetWindowText(std::wstring_view text);
    std::wstring GetWindowText() const;
    BOOL RedrawWindow(UINT flags) { return ::RedrawWindow(m_hWnd, nullptr, nullptr, flags); }
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse) { return ::SetTimer(m_hWnd, id, elapse, nullptr); }
    BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
    BOOL ClientToScreen(POINT& point) const { return ::ClientToScreen(m_hWnd, &point); }

    HWND m_hWnd = nullptr;
};

// The three kinds of handler a message map entry can name.
template <class T>
struct MessageMapEntry {
    UINT message;  // WM_COMMAND, WM_NOTIFY or any other message
    UINT id;       // control id (WM_COMMAND, WM_NOTIFY)
    UINT code;     // notification code (WM_COMMAND, WM_NOTIFY)
    LRESULT (T::*onMessage)(WPARAM, LPARAM);
    void (T::*onCommand)();
    void (T::*onNotify)(NMHDR*, LRESULT*);
};

template <class T>
constexpr MessageMapEntry<T> OnMessage(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM))
{
    return {message, 0, 0, handler, nullptr, nullptr};
}
template <class T>
constexpr MessageMapEntry<T> OnControlCommand(UINT id, UINT code, void (T::*handler)())
{
    return {WM_COMMAND, id, code, nullptr, handler, nullptr};
}
template <class T>
constexpr MessageMapEntry<T> OnControlNotify(UINT id, UINT code, void (T::*handler)(NMHDR*, LRESULT*))
{
    return {WM_NOTIFY, id, code, nullptr, nullptr, handler};
}

// Finds the first entry of the map that matches and calls its handler.
// Returns false when no entry matches.
template <class T>
bool DispatchMessageMap(T* self, std::span<const MessageMapEntry<T>> map, UINT message, WPARAM wParam,
                        LPARAM lParam, LRESULT& result)
{
    for (const MessageMapEntry<T>& entry : map) {
        if (entry.message != message)
            continue;
        if (message == WM_COMMAND) {
            if (entry.id != LOWORD(wParam) || entry.code != HIWORD(wParam) || lParam == 0)
                continue;
            (self->*entry.onCommand)();
            result = 0;
            return true;
        }
        if (message == WM_NOTIFY) {
            auto* header = reinterpret_cast<NMHDR*>(lParam);
            if (!header || entry.id != header->idFrom || entry.code != header->code)
                continue;
            result = 0;
            (self->*entry.onNotify)(header, &result);
            return true;
        }
        result = (self->*entry.onMessage)(wParam, lParam);
        return true;
    }
    return false;
}

// A dialog from a template of the module's resources, modal (DoModal) or
// modeless (Create ... DestroyWindow). The C++ object outlives its window.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId) : m_templateId(templateId) {}
    ~CDialog() override;

    // Modeless: creates the window from the template, not yet shown.
    bool Create(UINT templateId, CWnd* parent);
    // Modal: runs the dialog and returns the id it ended with (-1 on failure).
    // The owner is the calling thread's active window, which is disabled
    // while the dialog runs.
    INT_PTR DoModal();
    void EndDialog(int result);
    bool IsModalRunning() const { return m_modalRunning; }

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange() {}
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // Sees every WM_COMMAND first; this one dispatches the message map, then
    // IDOK and IDCANCEL.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual void PostNcDestroy() {}
    // The derived dialog's message map (DispatchMessageMap on its table).
    virtual bool DispatchMap(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    bool m_modalRunning = false;
};

} // namespace horavel::framework
