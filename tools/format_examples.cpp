// format-examples: prints what each specifier of the plug-in's format menu
// shows for one fixed moment, formatted by the same code as the clock on a
// frame (ClockFormat) after the same locale set-up as
// the plug-in's init. scripts/make-guide turns its output into the table of
// the user guide, so the guide shows what the plug-in really draws.
//
//   format-examples.exe PATH\Horavel.dll [FORMAT...]
//
// Output, in the ANSI code page (1251 in a Russian locale), one line each:
//   item<TAB>menu item text<TAB>what its specifier shows
//   format<TAB>FORMAT<TAB>what the clock shows for it
#include "core/clock_format.h"
#include "ui/resource.h"

#include <windows.h>

#include <clocale>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <string>

namespace {

// Thursday, 5 March 2026, 14:07:09 local time: a day whose numbers all
// differ (day of the year 064, week 09), an afternoon hour for %I and %p.
std::time_t ExampleMoment()
{
    std::tm moment{};
    moment.tm_year = 2026 - 1900;
    moment.tm_mon = 2;
    moment.tm_mday = 5;
    moment.tm_hour = 14;
    moment.tm_min = 7;
    moment.tm_sec = 9;
    moment.tm_isdst = -1;
    return std::mktime(&moment);
}

std::string Ansi(const wchar_t* text)
{
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, ansi.data(), n, nullptr, nullptr);
    ansi.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
    return ansi;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: format-examples PATH\\Horavel.dll [FORMAT...]\n");
        return 2;
    }
    HMODULE dll = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HMENU menu = dll ? LoadMenuW(dll, MAKEINTRESOURCEW(IDR_FORMAT_MENU)) : nullptr;
    HMENU popup = menu ? GetSubMenu(menu, 0) : nullptr;
    if (!popup) {
        std::fprintf(stderr, "format-examples: no format menu in %s\n", argv[1]);
        return 1;
    }
    // The time zone as Windows gives it to every program: a TZ variable in
    // the environment would override it in the C runtime.
    _putenv("TZ=");
    _tzset();
    // As the plug-in's init does: only the time category follows the user.
    std::setlocale(LC_TIME, "");
    const int64_t second = ExampleMoment();

    for (int i = 0; i < GetMenuItemCount(popup); ++i) {
        wchar_t text[256] = {};
        GetMenuStringW(popup, i, text, 256, MF_BYPOSITION);
        const std::string item = Ansi(text);
        // The item inserts its first two characters, as the dialog does.
        const std::string specifier = item.substr(0, 2);
        std::printf("item\t%s\t%s\n", item.c_str(),
                    horavel::ClockFormat(specifier).Format(second).c_str());
    }
    for (int i = 2; i < argc; ++i)
        std::printf("format\t%s\t%s\n", argv[i], horavel::ClockFormat(argv[i]).Format(second).c_str());
    DestroyMenu(menu);
    FreeLibrary(dll);
    return 0;
}
