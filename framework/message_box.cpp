#include "framework/message_box.h"

#include "framework/module_state.h"

#include <string>

namespace horavel::framework {

int ShowMessageBox(std::wstring_view text, UINT style)
{
    if ((style & MB_ICONMASK) == 0)
        style |= MB_ICONEXCLAMATION;
    const std::wstring owned(text);
    const std::wstring caption = AppName();
    HWND owner = GetActiveWindow();
    return MessageBoxW(owner, owned.c_str(), caption.c_str(), style);
}

} // namespace horavel::framework
