#include "ui/settings_dialog.h"

#include "framework/common_dialogs.h"
#include "framework/message_box.h"
#include "framework/module_state.h"
#include "framework/text.h"
#include "ui/resource.h"

#include <windowsx.h>

#include <cstring>
#include <string>
#include <vector>

namespace horavel {

namespace {

constexpr UINT_PTR REPEAT_TIMER_ID = 1;
constexpr UINT kRepeatPeriodMs = 50;
// Font button: DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_WORD_ELLIPSIS.
constexpr UINT kFontNameFormat = 0x40025;
// The font dialog's Apply button.
constexpr WORD kFontDialogApplyId = 1026;

constexpr wchar_t kOpacityMessage[] = L"Значение прозрачности должно быть цифрой от 0 до 100";
constexpr wchar_t kShadowMessage[] = L"Значение смещения должно быть цифрой от 0 до 20";

// Where the notice of a long format goes, in dialog units: below the row of
// buttons, over the full width; the dialog grows by kNoticeGrowth for it.
constexpr RECT kNoticeUnits{4, 151, 187, 178};
constexpr int kNoticeGrowth = 29;

// The format is longer than the field takes; the field shows its start.
std::wstring LongFormatNotice()
{
    const std::wstring count = std::to_wstring(kLongestFittingFormat);
    return L"Формат слишком длинный: здесь показаны только первые " + count + L" " +
           std::wstring(RussianNounAfter(kLongestFittingFormat, L"знак", L"знака", L"знаков")) +
           L". При правке остальная часть будет отброшена.";
}
// The user edited such a format: what is left is what the field holds.
constexpr wchar_t kCutFormatNotice[] = L"Формат укорочен до показанной части. «Отмена» вернёт его целиком.";

bool IsLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

// The part of a Format that the format field shows and edits.
std::string_view FormatFieldPart(std::string_view format)
{
    return format.substr(0, FormatFieldLength(format, &IsLeadByte));
}

// The repeat arrows' thread mouse hook; installed by OnInitDialog, removed by
// OnDestroy.
HHOOK g_mouseHook = nullptr;

LRESULT CALLBACK MouseHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    // A negative code must go straight on; HC_NOREMOVE reports a message that
    // is only peeked at and will come again with HC_ACTION, so only HC_ACTION
    // counts (one press, one step).
    if (code == HC_ACTION)
        TheSettingsDialog().OnRepeatMouse(code, wParam, reinterpret_cast<const MOUSEHOOKSTRUCT*>(lParam));
    return ::CallNextHookEx(g_mouseHook, code, wParam, lParam);
}

// Copies the font members that the font dialog controls into a record.
void TakeFontFrom(const LOGFONTW& logFont, SettingsRecord& record)
{
    record.FontName = framework::WideToAnsi(logFont.lfFaceName);
    record.FontSize = logFont.lfHeight;
    record.FontWeight = logFont.lfWeight;
    record.FontItalic = logFont.lfItalic;
    record.FontUnderline = logFont.lfUnderline;
    record.FontStrikeOut = logFont.lfStrikeOut;
    record.FontCharSet = logFont.lfCharSet;
}

UINT_PTR CALLBACK FontDialogHook(HWND fontDialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message != WM_COMMAND || LOWORD(wParam) != kFontDialogApplyId)
        return 0;
    LOGFONTW chosen{};
    ::SendMessageW(fontDialog, WM_CHOOSEFONT_GETLOGFONT, 0, reinterpret_cast<LPARAM>(&chosen));
    DialogClock& clock = TheSettingsDialog().Clock();
    clock.Settings().EditLive([&](SettingsRecord& live) { TakeFontFrom(chosen, live); });
    clock.CreateClockFont();
    clock.RequestClockRedraw();
    return 1;
}

bool LeftButtonIsDown()
{
    // With swapped buttons the physical left button reports as VK_RBUTTON.
    const int key = ::GetSystemMetrics(SM_SWAPBUTTON) ? VK_RBUTTON : VK_LBUTTON;
    return (::GetAsyncKeyState(key) & 0x8000) != 0;
}

} // namespace

const CSettingsDlg::Entry CSettingsDlg::kMessageMap[] = {
    framework::OnMessage(kWmPreviewRefresh, &CSettingsDlg::OnPreviewRefresh),
    framework::OnMessage(WM_CLOSE, &CSettingsDlg::OnClose),
    framework::OnControlCommand(IDC_CANCEL, BN_CLICKED, &CSettingsDlg::OnCancelButton),
    framework::OnControlCommand(IDC_OK, BN_CLICKED, &CSettingsDlg::OnOkButton),
    framework::OnControlCommand(IDC_ABOUT, BN_CLICKED, &CSettingsDlg::OnAboutButton),
    framework::OnMessage(WM_DESTROY, &CSettingsDlg::OnDestroy),
    framework::OnControlCommand(IDC_FONT_BUTTON, BN_CLICKED, &CSettingsDlg::OnFontButton),
    framework::OnMessage(WM_DRAWITEM, &CSettingsDlg::OnDrawItem),
    framework::OnMessage(WM_TIMER, &CSettingsDlg::OnTimer),
    framework::OnControlCommand(IDC_DEFAULTS, BN_CLICKED, &CSettingsDlg::OnDefaultsButton),
    framework::OnControlCommand(IDC_SHADOW_EDIT, EN_CHANGE, &CSettingsDlg::OnShadowOffsetChange),
    framework::OnControlCommand(IDC_ALIGN_TOP_LEFT, BN_CLICKED, &CSettingsDlg::OnAlignTopLeft),
    framework::OnControlCommand(IDC_ALIGN_BOTTOM_LEFT, BN_CLICKED, &CSettingsDlg::OnAlignBottomLeft),
    framework::OnControlCommand(IDC_ALIGN_TOP_RIGHT, BN_CLICKED, &CSettingsDlg::OnAlignTopRight),
    framework::OnControlCommand(IDC_ALIGN_BOTTOM_RIGHT, BN_CLICKED, &CSettingsDlg::OnAlignBottomRight),
    framework::OnControlCommand(IDC_ALIGN_CENTER, BN_CLICKED, &CSettingsDlg::OnAlignCenter),
    framework::OnControlCommand(IDC_BACK_COLOR, BN_CLICKED, &CSettingsDlg::OnBackColorButton),
    framework::OnControlCommand(IDC_TEXT_COLOR, BN_CLICKED, &CSettingsDlg::OnTextColorButton),
    framework::OnControlCommand(IDC_TEXT_OPACITY_EDIT, EN_CHANGE, &CSettingsDlg::OnTextOpacityChange),
    framework::OnControlCommand(IDC_BACK_OPACITY_EDIT, EN_CHANGE, &CSettingsDlg::OnBackOpacityChange),
    framework::OnControlCommand(IDC_FORMAT_EDIT, EN_CHANGE, &CSettingsDlg::OnFormatChange),
    framework::OnControlCommand(IDC_TEXT_OPACITY_EDIT, EN_KILLFOCUS, &CSettingsDlg::OnNumericFieldLeft),
    framework::OnControlCommand(IDC_BACK_OPACITY_EDIT, EN_KILLFOCUS, &CSettingsDlg::OnNumericFieldLeft),
    framework::OnControlCommand(IDC_SHADOW_EDIT, EN_KILLFOCUS, &CSettingsDlg::OnNumericFieldLeft),
    framework::OnControlNotify(IDC_FORMAT_EDIT, EN_MSGFILTER, &CSettingsDlg::OnFormatMsgFilter),
};

CSettingsDlg::CSettingsDlg() : framework::CDialog(IDD_SETTINGS) {}

CSettingsDlg::~CSettingsDlg() = default;

bool CSettingsDlg::DispatchMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    return framework::DispatchMessageMap<CSettingsDlg>(this, kMessageMap, message, wParam, lParam, result);
}

bool CSettingsDlg::Open(HWND hostWindow, DialogClock& clock)
{
    m_clock = &clock;
    // The format field is a version-1 rich edit; its class must exist before
    // the template is created. Loading it here rather than at module load
    // keeps LoadLibrary out of the loader's lock.
    framework::LoadRichEditLibrary();
    HostParentWindow.Detach();
    HostParentWindow.Attach(hostWindow);
    if (!Create(IDD_SETTINGS, &HostParentWindow)) {
        HostParentWindow.Detach();
        return false;
    }
    ShowWindow(SW_SHOW);
    return true;
}

void CSettingsDlg::Raise()
{
    SetFocus();
    FlashCaption(4);
}

void CSettingsDlg::FlashCaption(int n)
{
    for (int i = 0; i < 2 * n; ++i) {
        FlashWindow(TRUE);
        ::Sleep(60);
    }
}

void CSettingsDlg::DoDataExchange()
{
    using framework::DDX_Control;
    DDX_Control(*this, IDC_PREVIEW, m_preview);
    DDX_Control(*this, IDC_FORMAT_EDIT, m_formatEdit);
    DDX_Control(*this, IDC_FONT_BUTTON, m_fontButton);
    DDX_Control(*this, IDC_BACK_OPACITY_SPIN, m_backOpacitySpin);
    DDX_Control(*this, IDC_BACK_OPACITY_EDIT, m_backOpacityEdit);
    DDX_Control(*this, IDC_TEXT_OPACITY_SPIN, m_textOpacitySpin);
    DDX_Control(*this, IDC_TEXT_OPACITY_EDIT, m_textOpacityEdit);
    DDX_Control(*this, IDC_TEXT_COLOR, m_textColorButton);
    DDX_Control(*this, IDC_BACK_COLOR, m_backColorButton);
    DDX_Control(*this, IDC_ALIGN_CENTER, m_alignCenter);
    DDX_Control(*this, IDC_ALIGN_TOP_RIGHT, m_alignTopRight);
    DDX_Control(*this, IDC_ALIGN_BOTTOM_RIGHT, m_alignBottomRight);
    DDX_Control(*this, IDC_ALIGN_TOP_LEFT, m_alignTopLeft);
    DDX_Control(*this, IDC_ALIGN_BOTTOM_LEFT, m_alignBottomLeft);
    DDX_Control(*this, IDC_SHADOW_SPIN, m_shadowSpin);
    DDX_Control(*this, IDC_SHADOW_EDIT, m_shadowEdit);
    DDX_Control(*this, IDC_MOVE_UP, m_moveUp);
    DDX_Control(*this, IDC_MOVE_RIGHT, m_moveRight);
    DDX_Control(*this, IDC_MOVE_LEFT, m_moveLeft);
    DDX_Control(*this, IDC_MOVE_DOWN, m_moveDown);
}

BOOL CSettingsDlg::OnInitDialog()
{
    framework::CDialog::OnInitDialog();
    // A format longer than the field takes is shown cut, and the dialog says
    // so below its buttons; it grows for that before it is placed.
    bool formatCut = false;
    m_clock->Settings().ReadLive([&](const SettingsRecord& live) {
        formatCut = FormatFieldPart(live.Format).size() < live.Format.size();
    });
    if (formatCut)
        ShowFormatNotice(LongFormatNotice());
    PlaceWindow();
    m_clock->Settings().TakeSnapshot();

    LOGFONTW arrowLogFont{};
    arrowLogFont.lfHeight = 12;
    arrowLogFont.lfCharSet = DEFAULT_CHARSET;
    std::wcscpy(arrowLogFont.lfFaceName, L"Marlett");
    m_arrowFont.CreateFontIndirect(arrowLogFont);
    for (int id : {IDC_MOVE_UP, IDC_MOVE_RIGHT, IDC_MOVE_LEFT, IDC_MOVE_DOWN, IDC_ALIGN_CENTER,
                   IDC_ALIGN_TOP_RIGHT, IDC_ALIGN_BOTTOM_RIGHT, IDC_ALIGN_TOP_LEFT, IDC_ALIGN_BOTTOM_LEFT})
        ::SendMessageW(GetDlgItem(id), WM_SETFONT, reinterpret_cast<WPARAM>(m_arrowFont.GetSafeHandle()), 1);

    m_textOpacitySpin.SetBuddy(m_textOpacityEdit);
    m_textOpacitySpin.SetRange(0, kOpacityMaximum);
    m_textOpacityEdit.LimitText(3);
    m_backOpacitySpin.SetBuddy(m_backOpacityEdit);
    m_backOpacitySpin.SetRange(0, kOpacityMaximum);
    m_backOpacityEdit.LimitText(3);
    m_shadowSpin.SetBuddy(m_shadowEdit);
    m_shadowSpin.SetRange(0, kShadowOffsetMaximum);
    m_shadowEdit.LimitText(2);

    CHARFORMATW format = m_formatEdit.GetDefaultCharFormat();
    format.dwMask |= CFM_FACE;
    std::wcscpy(format.szFaceName, L"Arial");
    m_formatEdit.SetDefaultCharFormat(format);
    m_formatEdit.SetSelectionCharFormat(format);
    m_formatEdit.SetWordCharFormat(format);
    m_formatEdit.SetEventMask(ENM_CHANGE | ENM_MOUSEEVENTS);
    // Typing, pasting and menu picks stop at the longest format that can
    // still give a clock text.
    m_formatEdit.SendMessage(EM_EXLIMITTEXT, 0, static_cast<LPARAM>(kLongestFittingFormat));

    m_formatMenu.LoadMenu(IDR_FORMAT_MENU);
    m_formatPopup = m_formatMenu.GetSubMenu(0);

    if (!g_mouseHook)
        g_mouseHook = ::SetWindowsHookExW(WH_MOUSE, &MouseHookProc, nullptr,
                                          ::GetWindowThreadProcessId(m_hWnd, nullptr));

    m_clock->SetPreviewWindow(m_hWnd);
    PostRefresh();
    return TRUE;
}

namespace {

BOOL CALLBACK CollectWorkArea(HMONITOR monitor, HDC, LPRECT, LPARAM out)
{
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (::GetMonitorInfoW(monitor, &info))
        reinterpret_cast<std::vector<horavel::Rect>*>(out)->push_back(
            horavel::Rect{info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom});
    return TRUE;
}

} // namespace

void CSettingsDlg::PlaceWindow()
{
    const DialogPosition stored = m_clock->Settings().GetDialogPosition();
    const Size screen{::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    const RECT d = GetWindowRect();
    RECT p{0, 0, screen.width, screen.height};
    if (HostParentWindow.IsWindow())
        p = HostParentWindow.GetWindowRect();
    // The caption: from the window's top edge down to its client area.
    POINT client{0, 0};
    ::ClientToScreen(m_hWnd, &client);
    std::vector<Rect> workAreas;
    ::EnumDisplayMonitors(nullptr, nullptr, CollectWorkArea, reinterpret_cast<LPARAM>(&workAreas));
    const Point at = PlaceDialog(stored, screen, Rect{d.left, d.top, d.right, d.bottom},
                                 Rect{p.left, p.top, p.right, p.bottom}, client.y - d.top, workAreas);
    SetWindowPos(nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void CSettingsDlg::PostRefresh() { PostMessage(kWmPreviewRefresh, 0, 0); }

LRESULT CSettingsDlg::OnPreviewRefresh(WPARAM wParam, LPARAM)
{
    if (wParam == 0) {
        // Copies of what the fields show, not of the whole record: a format
        // from a profile may be megabytes long.
        int32_t textOpacity = 0, backOpacity = 0, shadowOffset = 0;
        std::string formatPart;
        bool formatCut = false;
        m_clock->Settings().ReadLive([&](const SettingsRecord& live) {
            textOpacity = live.TextOpacity;
            backOpacity = live.BackOpacity;
            shadowOffset = live.ShadowOffset;
            formatPart = FormatFieldPart(live.Format);
            formatCut = formatPart.size() < live.Format.size();
        });
        RefreshNumericField(m_textOpacitySpin, IDC_TEXT_OPACITY_EDIT, textOpacity);
        RefreshNumericField(m_backOpacitySpin, IDC_BACK_OPACITY_EDIT, backOpacity);
        RefreshNumericField(m_shadowSpin, IDC_SHADOW_EDIT, shadowOffset);
        constexpr UINT redraw = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;
        m_fontButton.RedrawWindow(redraw);
        m_textColorButton.RedrawWindow(redraw);
        m_backColorButton.RedrawWindow(redraw);
        RefreshFormatField(formatPart, formatCut);
    } else if (wParam != 1) {
        return 1;
    }
    m_preview.SetWindowText(framework::AnsiToWide(m_clock->ClockText()));
    return 1;
}

void CSettingsDlg::RefreshNumericField(framework::CSpinButtonCtrl& spin, int editId, int32_t value)
{
    // The field being typed in keeps the user's text and caret while it is
    // empty (input not finished) or already holds the live value ("007" while
    // 7 is live): rewriting it would turn "00" into "0" under the caret.
    // Leaving the field refreshes it again, and then the value is written.
    HWND edit = GetDlgItem(editId);
    if (edit && ::GetFocus() == edit) {
        if (::GetWindowTextLengthW(edit) == 0)
            return;
        BOOL translated = FALSE;
        const UINT shown = GetDlgItemInt(editId, &translated, FALSE);
        if (translated && static_cast<int32_t>(shown) == value)
            return;
    }
    // The up-down control writes the number into its buddy when the text
    // differs.
    spin.SetPos(value);
}

void CSettingsDlg::RefreshFormatField(const std::string& part, bool cut)
{
    // Compared as 8-bit text, the form it is stored in: a character the code
    // page lacks reads back as '?' and must not count as a difference, and
    // setting an equal text would only move the caret to the start.
    if (framework::WideToAnsi(m_formatEdit.GetWindowText()) != part)
        m_formatEdit.SetWindowText(framework::AnsiToWide(part));
    // Once a long format has been cut by an edit (or replaced by the
    // defaults), the notice says what is left.
    if (m_formatNotice.m_hWnd && !cut)
        m_formatNotice.SetWindowText(kCutFormatNotice);
}

void CSettingsDlg::ShowFormatNotice(const std::wstring& text)
{
    if (!m_formatNotice.m_hWnd) {
        RECT units = kNoticeUnits;
        ::MapDialogRect(m_hWnd, &units);
        HWND notice = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, units.left, units.top,
                                        units.right - units.left, units.bottom - units.top, m_hWnd,
                                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_FORMAT_NOTICE)),
                                        framework::ResourceHandle(), nullptr);
        if (!notice)
            return;
        ::SendMessageW(notice, WM_SETFONT, static_cast<WPARAM>(SendMessage(WM_GETFONT)), 0);
        m_formatNotice.Attach(notice);
        RECT growth{0, 0, 0, kNoticeGrowth};
        ::MapDialogRect(m_hWnd, &growth);
        const RECT window = GetWindowRect();
        SetWindowPos(nullptr, 0, 0, window.right - window.left, window.bottom - window.top + growth.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    m_formatNotice.SetWindowText(text);
}

LRESULT CSettingsDlg::OnClose(WPARAM, LPARAM)
{
    m_clock->Settings().RestoreSnapshot();
    m_clock->CreateClockFont();
    m_clock->RequestClockRedraw();
    DestroyWindow();
    return 0;
}

void CSettingsDlg::OnCancelButton() { PostMessage(WM_CLOSE, 0, 0); }

void CSettingsDlg::OnOkButton() { DestroyWindow(); }

void CSettingsDlg::OnAboutButton()
{
    // The settings dialog is disabled while the about box runs, but posted
    // commands still reach it; one about box per object.
    if (m_aboutDlg.IsModalRunning())
        return;
    m_aboutDlg.DoModal();
}

LRESULT CSettingsDlg::OnDestroy(WPARAM, LPARAM)
{
    m_formatMenu.DestroyMenu();
    m_formatPopup = nullptr;
    // The notice is a child window and goes with the dialog.
    m_formatNotice.Detach();
    const RECT rect = GetWindowRect();
    m_clock->Settings().SetDialogPosition(DialogPosition{rect.left, rect.top});
    KillTimer(REPEAT_TIMER_ID);
    if (g_mouseHook)
        ::UnhookWindowsHookEx(g_mouseHook);
    g_mouseHook = nullptr;
    m_clock->SetPreviewWindow(nullptr);
    return 0;
}

void CSettingsDlg::PostNcDestroy()
{
    HostParentWindow.Detach();
}

void CSettingsDlg::OnFontButton()
{
    const SettingsRecord before = m_clock->Settings().Live();

    LOGFONTW logFont{};
    logFont.lfHeight = before.FontSize;
    logFont.lfWeight = before.FontWeight;
    logFont.lfItalic = before.FontItalic;
    logFont.lfUnderline = before.FontUnderline;
    logFont.lfStrikeOut = before.FontStrikeOut;
    logFont.lfCharSet = before.FontCharSet;
    logFont.lfQuality = ANTIALIASED_QUALITY;
    // A face name holds 31 characters and its terminator.
    const std::wstring face = framework::AnsiToWide(before.FontName).substr(0, LF_FACESIZE - 1);
    std::wcscpy(logFont.lfFaceName, face.c_str());

    framework::CFontDialog dialog(CF_EFFECTS | CF_SCREENFONTS);
    dialog.m_cf.lpLogFont = &logFont;
    dialog.m_cf.Flags = CF_SCREENFONTS | CF_ENABLEHOOK | CF_INITTOLOGFONTSTRUCT | CF_EFFECTS | CF_APPLY;
    dialog.m_cf.rgbColors = before.TextColor;
    dialog.m_cf.lpfnHook = &FontDialogHook;
    if (dialog.DoModal() == IDOK) {
        m_clock->Settings().EditLive([&](SettingsRecord& live) { TakeFontFrom(logFont, live); });
    } else {
        // Undoes what Apply did.
        m_clock->Settings().SetLive(before);
    }
    m_clock->CreateClockFont();
    m_clock->RequestClockRedraw();
    PostRefresh();
}

LRESULT CSettingsDlg::OnDrawItem(WPARAM, LPARAM lParam)
{
    auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
    if (!item)
        return FALSE;
    framework::CDC dc(item->hDC);
    framework::CBrush brush;
    RECT whole = item->rcItem;
    std::string fontName;
    COLORREF textColor = 0, backColor = 0;
    m_clock->Settings().ReadLive([&](const SettingsRecord& live) {
        fontName = live.FontName;
        textColor = live.TextColor;
        backColor = live.BackColor;
    });
    switch (item->CtlID) {
    case IDC_FONT_BUTTON: {
        // Clear the face first so that a shorter name leaves nothing of a
        // longer one behind.
        dc.FillRect(whole, ::GetSysColorBrush(COLOR_BTNFACE));
        RECT text = whole;
        text.left += 4;
        text.right -= 4;
        dc.SetBkMode(TRANSPARENT);
        dc.DrawText(framework::AnsiToWide(fontName), text, kFontNameFormat);
        dc.DrawEdge(whole, EDGE_BUMP, BF_RECT);
        break;
    }
    case IDC_TEXT_COLOR:
    case IDC_BACK_COLOR:
        if (item->itemState & ODS_DISABLED)
            brush.CreateHatchBrush(HS_FDIAGONAL, RGB(0x80, 0x80, 0x80));
        else
            brush.CreateSolidBrush(item->CtlID == IDC_TEXT_COLOR ? textColor : backColor);
        dc.FillRect(whole, brush);
        dc.DrawEdge(whole, EDGE_BUMP, BF_RECT);
        break;
    default:
        break;
    }
    return TRUE;
}

LRESULT CSettingsDlg::OnTimer(WPARAM timerId, LPARAM)
{
    if (timerId == REPEAT_TIMER_ID) {
        // The button-up may never reach the hook (capture taken by another
        // window, focus lost): the repeat ends as soon as the button is up.
        if (!LeftButtonIsDown()) {
            KillTimer(REPEAT_TIMER_ID);
            return 0;
        }
        RepeatStep(m_repeatAccumulator.Tick());
    }
    return 0;
}

void CSettingsDlg::OnRepeatMouse(int, WPARAM message, const MOUSEHOOKSTRUCT* info)
{
    if (!info || !m_hWnd || ::GetParent(info->hwnd) != m_hWnd)
        return;
    const int id = ::GetDlgCtrlID(info->hwnd);
    if (id < IDC_MOVE_LEFT || id > IDC_MOVE_DOWN)
        return;
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        m_repeatButtonId = id;
        RepeatStep(m_repeatAccumulator.Press());
        SetTimer(REPEAT_TIMER_ID, kRepeatPeriodMs);
        break;
    case WM_LBUTTONUP:
        KillTimer(REPEAT_TIMER_ID);
        break;
    default:
        break;
    }
}

void CSettingsDlg::RepeatStep(int32_t step)
{
    const int id = m_repeatButtonId;
    m_clock->Settings().EditLivePosition([&](int32_t& x, int32_t& y) {
        const Point moved = MoveByArrow(Point{x, y}, id, step);
        x = moved.x;
        y = moved.y;
    });
}

void CSettingsDlg::OnDefaultsButton()
{
    m_clock->Settings().RestoreDefaults();
    m_clock->CreateClockFont();
    m_clock->RequestClockRedraw();
    PostRefresh();
}

void CSettingsDlg::ValidateNumericField(int editId, int32_t maximum, int32_t SettingsRecord::*member,
                                        const wchar_t* message)
{
    // An empty field is input not yet finished, not an error: nothing is
    // taken and nothing is said until the user types a number or leaves the
    // field (which puts the live value back).
    if (::GetWindowTextLengthW(GetDlgItem(editId)) == 0)
        return;
    BOOL translated = FALSE;
    const UINT value = GetDlgItemInt(editId, &translated, FALSE);
    if (const std::optional<int32_t> accepted = ValidateFieldValue(translated != FALSE, value, maximum))
        m_clock->Settings().EditLive([&](SettingsRecord& live) { live.*member = *accepted; });
    else
        framework::ShowMessageBox(message, MB_OK);
    m_clock->RequestClockRedraw();
    PostRefresh();
}

void CSettingsDlg::OnShadowOffsetChange()
{
    ValidateNumericField(IDC_SHADOW_EDIT, kShadowOffsetMaximum, &SettingsRecord::ShadowOffset, kShadowMessage);
}

void CSettingsDlg::OnTextOpacityChange()
{
    ValidateNumericField(IDC_TEXT_OPACITY_EDIT, kOpacityMaximum, &SettingsRecord::TextOpacity, kOpacityMessage);
}

void CSettingsDlg::OnBackOpacityChange()
{
    ValidateNumericField(IDC_BACK_OPACITY_EDIT, kOpacityMaximum, &SettingsRecord::BackOpacity, kOpacityMessage);
}

void CSettingsDlg::OnNumericFieldLeft() { PostRefresh(); }

void CSettingsDlg::ApplyAlign(int alignId)
{
    const std::optional<Point> at = AlignPosition(alignId, m_clock->ClockSize());
    if (!at)
        return;
    m_clock->Settings().EditLivePosition([&](int32_t& x, int32_t& y) {
        x = at->x;
        y = at->y;
    });
}

void CSettingsDlg::OnAlignTopLeft() { ApplyAlign(IDC_ALIGN_TOP_LEFT); }
void CSettingsDlg::OnAlignBottomLeft() { ApplyAlign(IDC_ALIGN_BOTTOM_LEFT); }
void CSettingsDlg::OnAlignTopRight() { ApplyAlign(IDC_ALIGN_TOP_RIGHT); }
void CSettingsDlg::OnAlignBottomRight() { ApplyAlign(IDC_ALIGN_BOTTOM_RIGHT); }
void CSettingsDlg::OnAlignCenter() { ApplyAlign(IDC_ALIGN_CENTER); }

void CSettingsDlg::EditColor(uint32_t SettingsRecord::*member)
{
    framework::CColorDialog dialog(m_clock->Settings().Live().*member, CC_RGBINIT | CC_FULLOPEN);
    if (dialog.DoModal() == IDOK) {
        const COLORREF chosen = dialog.GetColor();
        m_clock->Settings().EditLive([&](SettingsRecord& live) { live.*member = chosen; });
    }
    m_clock->RequestClockRedraw();
    PostRefresh();
}

void CSettingsDlg::OnBackColorButton() { EditColor(&SettingsRecord::BackColor); }
void CSettingsDlg::OnTextColorButton() { EditColor(&SettingsRecord::TextColor); }

void CSettingsDlg::OnFormatChange()
{
    const std::string format = framework::WideToAnsi(m_formatEdit.GetWindowText());
    // The field showing what it already showed (the refresh writing it, for
    // one) changes nothing; in particular a format longer than the field
    // keeps its end until the user edits the part shown. An edit makes the
    // field's text the whole format. Only this thread writes the format.
    bool unchanged = false;
    m_clock->Settings().ReadLive([&](const SettingsRecord& live) {
        unchanged = format == FormatFieldPart(live.Format);
    });
    if (unchanged)
        return;
    m_clock->Settings().EditLive([&](SettingsRecord& live) { live.Format = format; });
    m_clock->RequestClockRedraw();
    if (m_formatNotice.m_hWnd)
        m_formatNotice.SetWindowText(kCutFormatNotice);
}

void CSettingsDlg::OnFormatMsgFilter(NMHDR* header, LRESULT* result)
{
    const auto* filter = reinterpret_cast<const MSGFILTER*>(header);
    if (filter->msg == WM_RBUTTONDOWN && m_formatPopup) {
        POINT at{GET_X_LPARAM(filter->lParam), GET_Y_LPARAM(filter->lParam)};
        m_formatEdit.ClientToScreen(at);
        m_formatPopup->TrackPopupMenu(TPM_RIGHTBUTTON | TPM_LEFTALIGN, at.x, at.y, m_hWnd);
    }
    // The field handles the mouse message as usual as well.
    *result = 0;
}

BOOL CSettingsDlg::OnCommand(WPARAM wParam, LPARAM lParam)
{
    // Only a real pick from the format menu inserts a specifier: a command
    // without a control that is not an item of the menu (the dialog
    // manager's IDCANCEL from Escape, for one) leaves the field alone.
    const UINT id = LOWORD(wParam);
    if (lParam == 0 && HIWORD(wParam) == 0 && m_formatPopup && m_formatPopup->HasCommand(id)) {
        const std::wstring itemText = m_formatPopup->GetMenuStringByCommand(id);
        m_formatEdit.ReplaceSel(SpecifierOfMenuItem(itemText), FALSE);
    }
    return framework::CDialog::OnCommand(wParam, lParam);
}

} // namespace horavel
