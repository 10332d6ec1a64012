// What the plug-in's callbacks need of the settings dialog: open or raise it
// (`settings`), destroy it (`deinit`), and whether its window exists.
#pragma once

#include <windows.h>

#include <cstdint>

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

// Counters for tests that drive the DLL: they cannot see inside it, and
// Wine's GetGuiResources always answers 0.
struct HoravelDialogDiagnostics {
    int32_t liveGdiObjects;  // GDI handles held by the framework's owners
    int32_t mouseHooks;      // repeat-arrow mouse hooks installed now
    uint32_t dialogWindow;   // the settings dialog's window, 0 while closed
};

extern "C" __declspec(dllexport) void __cdecl Horavel_DialogDiagnostics(HoravelDialogDiagnostics* out);
