// The DLL's resources as the dialog and Windows read them: the settings
// template's controls in tab order, the format menu, the version block.
#include "horavel_version.h"
#include "test_host.h"
#include "ui/resource.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

// Loaded as data only: no start-up code runs, so the module the other tests
// load and unload keeps its own lifetime.
class DllResources {
public:
    DllResources();
    ~DllResources() { FreeLibrary(m_module); }
    operator HMODULE() const { return m_module; }

private:
    HMODULE m_module;
};

std::wstring DllPath() { return horavel::testing::ProgramFolderW() + L"Horavel.dll"; }

std::wstring Widen(const char* ascii)
{
    return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii));
}

DllResources::DllResources() : m_module(LoadLibraryExW(DllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}

struct ExpectedControl {
    int id;
    const wchar_t* className;
    const wchar_t* text;  // nullptr: not compared (filled at run time)
    DWORD style;          // bits that must be set
};

// Template 5000 in template (= tab) order.
const ExpectedControl kSettingsControls[] = {
    {IDC_OK, L"Button", L"ОК", BS_DEFPUSHBUTTON | WS_TABSTOP},
    {IDC_ABOUT, L"Button", L"О плагине", WS_TABSTOP},
    {IDC_MOVE_LEFT, L"Button", L"3", WS_TABSTOP},
    {IDC_MOVE_RIGHT, L"Button", L"4", WS_TABSTOP},
    {IDC_MOVE_UP, L"Button", L"5", WS_TABSTOP},
    {IDC_MOVE_DOWN, L"Button", L"6", WS_TABSTOP},
    {-1, L"Static", L"Цвет:", WS_GROUP},
    {-1, L"Static", L"Цвет:", WS_GROUP},
    {IDC_FONT_BUTTON, L"Button", L"...", BS_OWNERDRAW | WS_TABSTOP},
    {IDC_TEXT_COLOR, L"Button", L"Text", BS_OWNERDRAW},
    {IDC_BACK_COLOR, L"Button", L"Back", BS_OWNERDRAW},
    {IDC_DEFAULTS, L"Button", L"По умолчанию", WS_TABSTOP},
    {IDC_CANCEL, L"Button", L"Отмена", WS_TABSTOP},
    {-1, L"Button", L"Формат вывода", BS_GROUPBOX},
    {-1, L"Static", L"Высота тени:", WS_GROUP},
    {IDC_SHADOW_EDIT, L"Edit", nullptr, ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP},
    {IDC_SHADOW_SPIN, L"msctls_updown32", nullptr, UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS},
    {-1, L"Button", L"Фон", BS_GROUPBOX},
    {-1, L"Button", L"Позиция", BS_GROUPBOX},
    {IDC_ALIGN_TOP_LEFT, L"Button", L"h", WS_TABSTOP},
    {IDC_ALIGN_BOTTOM_LEFT, L"Button", L"h", WS_TABSTOP},
    {IDC_ALIGN_TOP_RIGHT, L"Button", L"h", WS_TABSTOP},
    {IDC_ALIGN_BOTTOM_RIGHT, L"Button", L"h", WS_TABSTOP},
    {IDC_ALIGN_CENTER, L"Button", L"h", WS_TABSTOP},
    {-1, L"Static", L"Прозрачность:", WS_GROUP},
    {-1, L"Static", L"Прозрачность:", WS_GROUP},
    {IDC_TEXT_OPACITY_EDIT, L"Edit", nullptr, ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP},
    {IDC_TEXT_OPACITY_SPIN, L"msctls_updown32", nullptr, UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS},
    {IDC_BACK_OPACITY_EDIT, L"Edit", nullptr, ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP},
    {IDC_BACK_OPACITY_SPIN, L"msctls_updown32", nullptr, UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS},
    {-1, L"Button", L"Текст", BS_GROUPBOX},
    {-1, L"Button", L"Шрифт", BS_GROUPBOX},
    {-1, L"Static", L"Имя:", WS_GROUP},
    {-1, L"Static", L"", SS_ETCHEDFRAME},
    {IDC_FORMAT_EDIT, L"RichEdit", nullptr, ES_AUTOHSCROLL | WS_TABSTOP},
    {IDC_PREVIEW, L"Static", nullptr, SS_CENTERIMAGE},
};

// Menu 5008 in menu order.
const std::pair<UINT, const wchar_t*> kFormatMenu[] = {
    {32801, L"%a - день недели сокращённо ( Пн, Вт, Ср, Чт, ... )"},
    {32793, L"%A - день недели полностью ( понедельник, вторник, ... )"},
    {32789, L"%b - месяц сокращённо ( янв, фев, мар, апр, ... )"},
    {32792, L"%B - месяц полностью ( Январь, Февраль, ... )"},
    {32794, L"%c - дата и время в соответствии с локальными установками"},
    {32795, L"%d - день месяца ( 01...31 )"},
    {32796, L"%H - часы ( 00...23 )"},
    {32797, L"%I - часы ( 01...12 )"},
    {32798, L"%j - день года ( 001...366 )"},
    {32799, L"%m - месяц ( 01...12 )"},
    {32800, L"%M - минуты ( 00...59 )"},
    {32802, L"%p - текущий локальный индикатор A.M./P.M."},
    {32803, L"%S - секунды ( 00...59 )"},
    {32804, L"%U - неделя года  с первым днём недели субботой ( 00...53 )"},
    {32814, L"%w - день недели ( 0...6 )"},
    {32805, L"%W - неделя года с первым днём недели понедельником ( 00...53 )"},
    {32815, L"%x - дата в соответствии с локальными установками"},
    {32807, L"%X - время в соответствии с локальными установками"},
    {32816, L"%y - год без столетия ( 00...99 )"},
    {32809, L"%Y - год со столетием"},
    {32817, L"%z - название или аббревиатура часового пояса"},
    {32811, L"%Z - название или аббревиатура часового пояса"},
    {32813, L"%% - символ %"},
};

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST(DialogResources, SettingsTemplateHoldsEveryControlInTabOrder)
{
    LoadLibraryW(L"riched32.dll");
    DllResources dll;
    ASSERT_NE(static_cast<HMODULE>(dll), nullptr);
    // Created from the template alone, without the dialog's code.
    HWND dialog = CreateDialogParamW(dll, MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, &QuietDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    const LONG style = GetWindowLongW(dialog, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | DS_MODALFRAME), WS_CAPTION | DS_MODALFRAME);
    EXPECT_EQ(style & (WS_POPUP | WS_SYSMENU | WS_VISIBLE), 0);
    EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    wchar_t text[256] = {};
    GetWindowTextW(dialog, text, 256);
    EXPECT_STREQ(text, L"Horavel плагин");
    // 191 x 150 dialog units.
    RECT units{0, 0, 191, 150}, client{};
    MapDialogRect(dialog, &units);
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom, units.bottom);

    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    ASSERT_EQ(children.size(), std::size(kSettingsControls));
    for (size_t i = 0; i < children.size(); ++i) {
        const ExpectedControl& expected = kSettingsControls[i];
        SCOPED_TRACE(i);
        wchar_t className[64] = {};
        GetClassNameW(children[i], className, 64);
        EXPECT_EQ(_wcsicmp(className, expected.className), 0) << className;
        EXPECT_EQ(static_cast<int>(static_cast<short>(GetDlgCtrlID(children[i]))), expected.id);
        const LONG childStyle = GetWindowLongW(children[i], GWL_STYLE);
        EXPECT_EQ(childStyle & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE);
        if (expected.style & 0x1F) {
            // The low bits hold the kind of a button or static: a value,
            // not flags.
            EXPECT_EQ(childStyle & 0x1F, static_cast<LONG>(expected.style & 0x1F));
        }
        EXPECT_EQ(childStyle & expected.style & ~0x1F, static_cast<LONG>(expected.style & ~0x1F));
        if (expected.className == std::wstring(L"Edit") || expected.className == std::wstring(L"RichEdit")) {
            // The dialog manager turns an edit's WS_BORDER into a client edge.
            EXPECT_TRUE((childStyle & WS_BORDER) || (GetWindowLongW(children[i], GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
        }
        if (expected.text) {
            GetWindowTextW(children[i], text, 256);
            EXPECT_STREQ(text, expected.text);
        }
    }
    EXPECT_TRUE(GetWindowLongW(GetDlgItem(dialog, IDC_PREVIEW), GWL_EXSTYLE) & WS_EX_STATICEDGE);
    // Enter presses "ОК", which keeps the edits; "Отмена" is a plain button.
    EXPECT_EQ(SendMessageW(dialog, DM_GETDEFID, 0, 0), MAKELRESULT(IDC_OK, DC_HASDEFID));
    EXPECT_EQ(GetWindowLongW(GetDlgItem(dialog, IDC_CANCEL), GWL_STYLE) & 0x1F, BS_PUSHBUTTON);
    DestroyWindow(dialog);
}

TEST(DialogResources, FormatMenuHasTheTwentyThreeSpecifiers)
{
    DllResources dll;
    HMENU menu = LoadMenuW(dll, MAKEINTRESOURCEW(IDR_FORMAT_MENU));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 1);
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(std::size(kFormatMenu)));
    for (int i = 0; i < GetMenuItemCount(popup); ++i) {
        wchar_t text[128] = {};
        GetMenuStringW(popup, i, text, 128, MF_BYPOSITION);
        EXPECT_EQ(GetMenuItemID(popup, i), kFormatMenu[i].first);
        EXPECT_STREQ(text, kFormatMenu[i].second);
    }
    DestroyMenu(menu);
}

TEST(DialogResources, EmblemAndVersionBlock)
{
    DllResources dll;
    HBITMAP emblem = static_cast<HBITMAP>(LoadImageW(dll, MAKEINTRESOURCEW(IDB_ABOUT_EMBLEM), IMAGE_BITMAP, 0, 0, 0));
    ASSERT_NE(emblem, nullptr);
    BITMAP info{};
    GetObjectW(emblem, sizeof(info), &info);
    EXPECT_EQ(info.bmWidth, 32);
    EXPECT_EQ(info.bmHeight, 32);
    DeleteObject(emblem);

    const DWORD size = GetFileVersionInfoSizeW(DllPath().c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(DllPath().c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    // The numbers of the project's version, the one place it is written.
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(HORAVEL_VERSION_MINOR, HORAVEL_VERSION_MAJOR));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, HORAVEL_VERSION_PATCH));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    wchar_t* description = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\041904B0\\FileDescription",
                               reinterpret_cast<void**>(&description), &length));
    EXPECT_STREQ(description, L"OSD-часы");
    wchar_t* product = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\041904B0\\ProductName",
                               reinterpret_cast<void**>(&product), &length));
    EXPECT_STREQ(product, L"Плагин Horavel");
    const std::wstring shown = Widen(HORAVEL_VERSION_SHOWN);
    for (const wchar_t* key : {L"\\StringFileInfo\\041904B0\\FileVersion",
                               L"\\StringFileInfo\\041904B0\\ProductVersion"}) {
        wchar_t* text = nullptr;
        ASSERT_TRUE(VerQueryValueW(block.data(), key, reinterpret_cast<void**>(&text), &length));
        EXPECT_EQ(std::wstring(text), shown);
    }
}

TEST(DialogResources, AboutBoxShowsTheProjectVersion)
{
    DllResources dll;
    HRSRC found = FindResourceW(dll, MAKEINTRESOURCEW(IDD_ABOUT), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(dll, found)));
    const DWORD size = SizeofResource(dll, found);
    ASSERT_NE(bytes, nullptr);
    // The template's texts are UTF-16; the version line is one of them.
    const std::wstring_view texts(reinterpret_cast<const wchar_t*>(bytes), size / sizeof(wchar_t));
    const std::wstring line = Widen(HORAVEL_ABOUT_VERSION);
    EXPECT_EQ(line, L"Ver." + Widen(HORAVEL_VERSION_SHOWN));
    EXPECT_NE(texts.find(line + L'\0'), std::wstring_view::npos) << "no " << HORAVEL_ABOUT_VERSION;
}

} // namespace
