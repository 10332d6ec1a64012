// The settings dialog: a modeless dialog (template 5000) that edits the live
// clock settings with immediate effect, with its owner-drawn font button and
// swatches, the format specifier menu, the repeat arrows and align buttons.
#pragma once

#include "framework/controls.h"
#include "framework/gdi.h"
#include "framework/menu.h"
#include "framework/window.h"
#include "ui/about_dialog.h"
#include "ui/dialog_clock.h"
#include "ui/dialog_math.h"

#include <cstdint>
#include <string>

namespace horavel {

struct SettingsRecord;

class CSettingsDlg : public framework::CDialog {
public:
    CSettingsDlg();
    ~CSettingsDlg() override;

    // Attaches the host's window, creates the dialog with it as parent and
    // shows it, editing the settings of `clock`. False when the creation
    // failed (no window is left).
    bool Open(HWND hostWindow, DialogClock& clock);
    // The clock being edited (valid while the window exists).
    DialogClock& Clock() const { return *m_clock; }
    // Focus, then n on/off flashes of the caption at 60 ms steps.
    void Raise();
    void FlashCaption(int n);

    // The repeat arrows' share of the thread mouse hook.
    void OnRepeatMouse(int code, WPARAM message, const MOUSEHOOKSTRUCT* info);

    // The host's window, parent of the dialog while it exists; never
    // destroyed by us.
    framework::CWnd HostParentWindow;

protected:
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void DoDataExchange() override;
    void PostNcDestroy() override;
    BOOL OnInitDialog() override;
    // Enter and Escape never end this modeless dialog.
    void OnOK() override {}
    void OnCancel() override {}
    bool DispatchMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    DialogClock* m_clock = nullptr;

    using Entry = framework::MessageMapEntry<CSettingsDlg>;
    static const Entry kMessageMap[];

    LRESULT OnPreviewRefresh(WPARAM wParam, LPARAM lParam);
    LRESULT OnClose(WPARAM, LPARAM);
    void OnCancelButton();
    void OnOkButton();
    void OnAboutButton();
    LRESULT OnDestroy(WPARAM, LPARAM);
    void OnFontButton();
    LRESULT OnDrawItem(WPARAM controlId, LPARAM drawItem);
    LRESULT OnTimer(WPARAM timerId, LPARAM);
    void OnDefaultsButton();
    void OnShadowOffsetChange();
    void OnAlignTopLeft();
    void OnAlignBottomLeft();
    void OnAlignTopRight();
    void OnAlignBottomRight();
    void OnAlignCenter();
    void OnBackColorButton();
    void OnTextColorButton();
    void OnTextOpacityChange();
    void OnBackOpacityChange();
    void OnNumericFieldLeft();
    void OnFormatChange();
    void OnFormatMsgFilter(NMHDR* header, LRESULT* result);

    void ValidateNumericField(int editId, int32_t maximum, int32_t SettingsRecord::*member,
                              const wchar_t* message);
    void RefreshNumericField(framework::CSpinButtonCtrl& spin, int editId, int32_t value);
    void RefreshFormatField(const std::string& part, bool cut);
    void ShowFormatNotice(const std::wstring& text);
    void ApplyAlign(int alignId);
    void RepeatStep(int32_t step);
    void EditColor(uint32_t SettingsRecord::*member);
    void PlaceWindow();
    void PostRefresh();

    CAboutDlg m_aboutDlg;
    framework::CFont m_arrowFont;
    int32_t m_repeatButtonId = 0;
    RepeatAccumulator m_repeatAccumulator;
    framework::CMenu m_formatMenu;
    framework::CMenu* m_formatPopup = nullptr;
    framework::CStatic m_preview;
    framework::CRichEditCtrl m_formatEdit;
    framework::CButton m_fontButton;
    framework::CSpinButtonCtrl m_backOpacitySpin;
    framework::CEdit m_backOpacityEdit;
    framework::CSpinButtonCtrl m_textOpacitySpin;
    framework::CEdit m_textOpacityEdit;
    framework::CButton m_textColorButton;
    framework::CButton m_backColorButton;
    framework::CButton m_alignCenter;
    framework::CButton m_alignTopRight;
    framework::CButton m_alignBottomRight;
    framework::CButton m_alignTopLeft;
    framework::CButton m_alignBottomLeft;
    framework::CSpinButtonCtrl m_shadowSpin;
    framework::CEdit m_shadowEdit;
    framework::CButton m_moveUp;
    framework::CButton m_moveRight;
    framework::CButton m_moveLeft;
    framework::CButton m_moveDown;
    // Below the buttons while the format is longer than the format field
    // takes; no window otherwise.
    framework::CStatic m_formatNotice;
};

// The one settings dialog object of the module; its window exists only while
// the dialog is open.
CSettingsDlg& TheSettingsDialog();

} // namespace horavel
