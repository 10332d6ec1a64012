#include "ui/settings_dialog_api.h"

#include "framework/gdi.h"
#include "ui/settings_dialog.h"

namespace horavel {

namespace {
// Constructed at module load, without a window.
CSettingsDlg g_settingsDialog;
} // namespace

CSettingsDlg& TheSettingsDialog() { return g_settingsDialog; }

void PublishDialogDiagnostics()
{
    HANDLE mapping = ::OpenFileMappingW(FILE_MAP_WRITE, FALSE,
                                        DiagnosticsMappingName(::GetCurrentProcessId()).c_str());
    if (!mapping)
        return;
    if (void* view = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(DialogDiagnostics))) {
        auto* block = static_cast<DialogDiagnostics*>(view);
        block->updates += 1;
        block->liveGdiObjects = framework::LiveGdiObjects();
        block->mouseHooks = InstalledMouseHooks();
        block->dialogWindow = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(g_settingsDialog.GetSafeHwnd()));
        ::UnmapViewOfFile(view);
    }
    ::CloseHandle(mapping);
}

void OpenOrRaiseSettingsDialog(HWND hostWindow)
{
    if (g_settingsDialog.IsWindow())
        g_settingsDialog.Raise();
    else
        g_settingsDialog.Open(hostWindow);
    PublishDialogDiagnostics();
}

void DestroySettingsDialogIfOpen()
{
    if (g_settingsDialog.IsWindow())
        g_settingsDialog.DestroyWindow();
    PublishDialogDiagnostics();
}

bool SettingsDialogIsOpen() { return g_settingsDialog.IsWindow(); }

} // namespace horavel

