#include "ui/settings_dialog_api.h"

#include "framework/gdi.h"
#include "ui/settings_dialog.h"

namespace horavel {

namespace {
// Constructed at module load, without a window.
CSettingsDlg g_settingsDialog;
} // namespace

CSettingsDlg& TheSettingsDialog() { return g_settingsDialog; }

void OpenOrRaiseSettingsDialog(HWND hostWindow)
{
    if (g_settingsDialog.IsWindow())
        g_settingsDialog.Raise();
    else
        g_settingsDialog.Open(hostWindow);
}

void DestroySettingsDialogIfOpen()
{
    if (g_settingsDialog.IsWindow())
        g_settingsDialog.DestroyWindow();
}

bool SettingsDialogIsOpen() { return g_settingsDialog.IsWindow(); }

} // namespace horavel

extern "C" void __cdecl Horavel_DialogDiagnostics(HoravelDialogDiagnostics* out)
{
    if (!out)
        return;
    out->liveGdiObjects = horavel::framework::LiveGdiObjects();
    out->mouseHooks = horavel::InstalledMouseHooks();
    out->dialogWindow = static_cast<uint32_t>(
        reinterpret_cast<uintptr_t>(horavel::TheSettingsDialog().GetSafeHwnd()));
}
