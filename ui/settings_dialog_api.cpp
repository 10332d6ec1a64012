#include "ui/settings_dialog_api.h"

#include "ui/settings_dialog.h"

namespace horavel {

namespace {
// Constructed at module load, without a window.
CSettingsDlg g_settingsDialog;
} // namespace

CSettingsDlg& TheSettingsDialog() { return g_settingsDialog; }

void OpenOrRaiseSettingsDialog(HWND hostWindow, DialogClock& clock)
{
    if (g_settingsDialog.IsWindow())
        g_settingsDialog.Raise();
    else
        g_settingsDialog.Open(hostWindow, clock);
}

void DestroySettingsDialogIfOpen()
{
    if (g_settingsDialog.IsWindow())
        g_settingsDialog.DestroyWindow();
}

} // namespace horavel

