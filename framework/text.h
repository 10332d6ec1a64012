// Text conversions between the plug-in's 8-bit ANSI texts (the system code
// page, as the profile stores them), UTF-8 sources and the wide-character API.
#pragma once

#include <string>
#include <string_view>

namespace horavel::framework {

std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);

} // namespace horavel::framework
