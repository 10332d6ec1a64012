// What the plug-in's callbacks need of the settings dialog: open or raise it
// (`settings`), destroy it (`deinit`), and whether its window exists.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace horavel {

// Opens the dialog modeless with hostWindow as parent and shows it; when it
// is already open, gives it the focus and flashes its caption 8 times at
// 60 ms steps instead (the calling thread waits about half a second). A
// failed creation leaves no window and is not reported.
void OpenOrRaiseSettingsDialog(HWND hostWindow);

// Destroys the dialog's window if it exists. Nothing is put back: the values
// being edited stay live.
void DestroySettingsDialogIfOpen();

bool SettingsDialogIsOpen();

} // namespace horavel

// Counters for tests that drive the DLL from outside: they cannot see inside
// it, and Wine's GetGuiResources always answers 0. When a process has created
// a file mapping named by DiagnosticsMappingName() before the dialog opens or
// closes, the DLL writes these counters into it after every opening and
// closing; otherwise nothing is written.
namespace horavel {

struct DialogDiagnostics {
    int32_t updates;         // number of times the block was written
    int32_t liveGdiObjects;  // GDI handles held by the framework's owners
    int32_t mouseHooks;      // repeat-arrow mouse hooks installed now
    uint32_t dialogWindow;   // the settings dialog's window, 0 while closed
};

inline std::wstring DiagnosticsMappingName(DWORD processId)
{
    return L"Local\\HoravelDialogDiagnostics." + std::to_wstring(processId);
}
} // namespace horavel
