// What the plug-in's callbacks need of the settings dialog: open or raise it
// (`settings`) and destroy it (`deinit`).
#pragma once

#include "ui/dialog_clock.h"

#include <windows.h>

namespace horavel {

// Opens the dialog modeless with hostWindow as parent, editing the settings
// of `clock`, and shows it; when it is already open, gives it the focus and
// flashes its caption 8 times at 60 ms steps instead (the calling thread
// waits about half a second). A failed creation leaves no window and is not
// reported.
void OpenOrRaiseSettingsDialog(HWND hostWindow, DialogClock& clock);

// Destroys the dialog's window if it exists. Nothing is put back: the values
// being edited stay live.
void DestroySettingsDialogIfOpen();

} // namespace horavel
