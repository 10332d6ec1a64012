// Message boxes of the plug-in's own, always through the wide-character API so
// that Russian texts read right whatever the system's ANSI code page is.
#pragma once

#include <windows.h>

#include <string_view>

namespace horavel::framework {

// Shows text (UTF-16) captioned with the application name, owned by the
// calling thread's active window. A style without an icon gets the
// exclamation icon, as application frameworks do. Returns the button id.
int ShowMessageBox(std::wstring_view text, UINT style);

} // namespace horavel::framework
