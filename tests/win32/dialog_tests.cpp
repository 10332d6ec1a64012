// The settings dialog driven through Horavel.dll as a host drives it: the
// `settings` callback opens it with the test's window as parent, the test
// types, clicks and picks through window messages (and real mouse input for
// the repeat arrows, which only a thread mouse hook sees), and reads the
// effect back from the dialog's controls and from the profile that `deinit`
// writes. Needs a display (xvfb-run).
#include "test_host.h"
#include "ui/resource.h"
#include "ui/settings_dialog_api.h"

#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using horavel::PluginRecord;
using horavel::testing::PluginModule;
using horavel::testing::ProgramFolderW;
using horavel::testing::ReadWholeFile;
using horavel::testing::StartedWithInstance;
using horavel::testing::WriteWholeFile;

constexpr wchar_t kDialogCaption[] = L"Horavel плагин";
constexpr wchar_t kOpacityMessage[] = L"Значение прозрачности должно быть цифрой от 0 до 100";
constexpr wchar_t kShadowMessage[] = L"Значение смещения должно быть цифрой от 0 до 20";

// With no registry switch the profile lives beside the host, in Plugins\,
// or in Instances\d\Plugins\ with the instance switch "-inst:d" that CTest
// passes (so that other programs' profiles are never touched).
std::wstring ProfileFolder()
{
    return ProgramFolderW() + (StartedWithInstance('d') ? L"Instances\\d\\Plugins\\" : L"Plugins\\");
}
std::wstring ProfilePath() { return ProfileFolder() + L"Horavel.ini"; }

using Profile = std::map<std::string, std::map<std::string, std::string>>;

Profile ReadProfile()
{
    Profile profile;
    std::istringstream in(ReadWholeFile(ProfilePath()));
    std::string line, section;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > 1 && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
        } else if (const auto eq = line.find('='); eq != std::string::npos) {
            profile[section][line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return profile;
}

// Runs the calling thread's messages (the dialog lives on it) for a while.
// A host loop may look at each message before it takes it; the mouse hook
// then sees a mouse message twice, first as only peeked at.
bool g_peekBeforeTaking = false;
// A host loop feeds the keyboard navigation of the active modeless dialog
// (Tab, Enter, Escape) through IsDialogMessage, as the interactive host does.
bool g_hostKeyboardNavigation = false;

void Pump(int milliseconds)
{
    const DWORD end = GetTickCount() + milliseconds;
    for (;;) {
        MSG msg;
        for (;;) {
            if (g_peekBeforeTaking && !PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE))
                break;
            if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                break;
            if (g_hostKeyboardNavigation) {
                HWND active = GetActiveWindow();
                if (active && IsDialogMessageW(active, &msg))
                    continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const LONG left = static_cast<LONG>(end - GetTickCount());
        if (left <= 0)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
    }
}

std::wstring WindowText(HWND hwnd)
{
    wchar_t buffer[512] = {};
    GetWindowTextW(hwnd, buffer, 512);
    return buffer;
}

std::wstring ClassName(HWND hwnd)
{
    wchar_t buffer[64] = {};
    GetClassNameW(hwnd, buffer, 64);
    return buffer;
}

struct WindowSearch {
    const std::wstring* caption;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialogs(HWND hwnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    if (ClassName(hwnd) == L"#32770" && WindowText(hwnd) == *search->caption)
        search->found.push_back(hwnd);
    return TRUE;
}

// Top-level dialogs of a thread with that caption.
std::vector<HWND> ThreadWindows(DWORD threadId, const std::wstring& caption)
{
    WindowSearch search{&caption, {}};
    EnumThreadWindows(threadId, &CollectDialogs, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Watches the test thread's windows from a second thread: every message box
// of the plug-in (captioned with its module name) is read and dismissed, and
// the number of about boxes open at once is recorded.
class BoxWatcher {
public:
    BoxWatcher() : m_thread(GetCurrentThreadId()), m_worker([this] { Run(); }) {}
    ~BoxWatcher()
    {
        m_stop = true;
        m_worker.join();
    }
    std::vector<std::wstring> Messages()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_messages;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_messages.clear();
    }
    std::atomic<int> maxAboutBoxes{0};
    std::atomic<int> aboutBoxesSeen{0};
    std::atomic<bool> closeAboutBoxes{false};

private:
    void Run()
    {
        while (!m_stop) {
            for (HWND box : ThreadWindows(m_thread, L"Horavel")) {
                const std::wstring text = WindowText(GetDlgItem(box, 0xFFFF));
                {
                    std::lock_guard<std::mutex> lock(m_lock);
                    m_messages.push_back(text);
                }
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                // Wait for it to go, so it is not read twice.
                for (int i = 0; i < 200 && IsWindow(box); ++i)
                    Sleep(5);
            }
            std::vector<HWND> about;
            for (HWND hwnd : ThreadWindows(m_thread, L""))
                if (GetDlgItem(hwnd, IDOK) && WindowText(GetDlgItem(hwnd, IDOK)) == L"OK")
                    about.push_back(hwnd);
            if (!about.empty()) {
                aboutBoxesSeen = std::max<int>(aboutBoxesSeen, 1);
                if (static_cast<int>(about.size()) > maxAboutBoxes)
                    maxAboutBoxes = static_cast<int>(about.size());
                if (closeAboutBoxes)
                    for (HWND hwnd : about)
                        PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
            }
            Sleep(10);
        }
    }

    DWORD m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<std::wstring> m_messages;
    std::thread m_worker;
};

// One module lifetime of the plug-in: loaded, `init`, ... `deinit`, unloaded.
// The test's own top-level window stands for the host's window.
class PluginSession {
public:
    explicit PluginSession(const std::string& profileText = {})
    {
        SHCreateDirectoryExW(nullptr, ProfileFolder().c_str(), nullptr);
        DeleteFileW(ProfilePath().c_str());
        if (!profileText.empty())
            WriteWholeFile(ProfilePath(), profileText);
        m_record = m_plugin.emplace().Record();
        m_host = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 200, 150, 640,
                                 480, nullptr, nullptr, nullptr, nullptr);
        if (m_record)
            m_record->init();
    }
    ~PluginSession()
    {
        if (m_record && !m_deinitDone)
            m_record->deinit();
        DestroyWindow(m_host);
        m_plugin.reset();
        // The next session must start from a fresh module, not this one's
        // settings.
        if (GetModuleHandleW(L"Horavel.dll"))
            ADD_FAILURE() << "Horavel.dll is still loaded after the session";
    }
    bool Loaded() const { return m_record != nullptr; }

    void OpenSettings()
    {
        void* parent = m_host;
        m_record->settings(&parent);
        Pump(150);
    }
    Profile Deinit()
    {
        m_record->deinit();
        m_deinitDone = true;
        return ReadProfile();
    }
    // Starts a stream and processes one frame, so that the clock has a size.
    void ProcessOneFrame()
    {
        horavel::FrameDescriptor descriptor{768, 576, 0, 1, 0};
        m_record->start(&descriptor);
        Frame();
        Pump(50);
    }
    // A grey RGB24 frame as `process` leaves it (callable from any thread, as
    // the host's video thread calls it).
    std::vector<uint8_t> Frame() const
    {
        std::vector<uint8_t> pixels(768 * 576 * 3, 16);
        horavel::FrameRecord frame{pixels.data()};
        m_record->process(&frame);
        return pixels;
    }

    HWND Dialog() const
    {
        const std::vector<HWND> found = ThreadWindows(GetCurrentThreadId(), kDialogCaption);
        return found.size() == 1 ? found[0] : nullptr;
    }
    int DialogCount() const
    {
        return static_cast<int>(ThreadWindows(GetCurrentThreadId(), kDialogCaption).size());
    }
    HWND Host() const { return m_host; }

    void Click(int id)
    {
        HWND dialog = Dialog();
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
        Pump(100);
    }
    // Replaces the characters from..to of the field (all by default) by
    // typing characters one by one.
    void Type(int id, const std::wstring& characters, int from = 0, int to = -1)
    {
        HWND edit = GetDlgItem(Dialog(), id);
        SetFocus(edit);
        SendMessageW(edit, EM_SETSEL, from, to);
        for (wchar_t c : characters) {
            SendMessageW(edit, WM_CHAR, c, 1);
            Pump(60);
        }
    }
    std::wstring Text(int id) const { return WindowText(GetDlgItem(Dialog(), id)); }

private:
    // Made once the profile is in place, freed before the check for a
    // module left loaded.
    std::optional<PluginModule> m_plugin;
    const PluginRecord* m_record = nullptr;
    HWND m_host = nullptr;
    bool m_deinitDone = false;
};

// In a Wine prefix that has just been made, the first window of a program
// can fail to open while Wine's desktop process starts: open and close one
// before the tests.
class WindowWarmUp : public testing::Environment {
public:
    void SetUp() override
    {
        for (int attempt = 0; attempt < 20; ++attempt) {
            HWND window = CreateWindowExW(0, L"STATIC", L"warm-up", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100,
                                          100, nullptr, nullptr, nullptr, nullptr);
            Pump(100);
            if (window) {
                DestroyWindow(window);
                return;
            }
        }
    }
};
testing::Environment* const g_warmUp = testing::AddGlobalTestEnvironment(new WindowWarmUp);

// A profile whose every value differs from the defaults.
const char kEditedProfile[] =
    "[DIALOG]\r\nDlgWndPosX=40\r\nDlgWndPosY=30\r\n"
    "[COMMON]\r\nStringPosX=120\r\nStringPosY=340\r\nFontName=Courier New\r\nFontSize=-20\r\n"
    "FontWeight=400\r\nFontItalic=1\r\nFontUnderline=0\r\nFontStrikeOut=1\r\nFontCharSet=204\r\n"
    "FontQuality=0\r\nTextColor=255\r\nBackColor=65280\r\nTextOpacity=77\r\nBackOpacity=11\r\n"
    "ShadowOffset=3\r\nFormat=%d.%m %H:%M\r\n";

const char* const kSettingKeys[] = {"StringPosX", "StringPosY", "FontName", "FontSize", "FontWeight",
                                    "FontItalic", "FontUnderline", "FontStrikeOut", "FontCharSet",
                                    "FontQuality", "TextColor", "BackColor", "TextOpacity",
                                    "BackOpacity", "ShadowOffset", "Format"};

std::map<std::string, std::string> SettingsOf(const Profile& profile)
{
    std::map<std::string, std::string> values;
    for (const char* key : kSettingKeys) {
        auto section = profile.find("COMMON");
        if (section != profile.end() && section->second.count(key))
            values[key] = section->second.at(key);
    }
    return values;
}

// WM_NCACTIVATE messages sent to one window of this thread while it lives:
// FlashWindow sends one per call (it turns the caption over).
class NcActivateWatch {
public:
    explicit NcActivateWatch(HWND window)
    {
        s_window = window;
        s_times.clear();
        m_hook = SetWindowsHookExW(WH_CALLWNDPROC, &Proc, nullptr, GetCurrentThreadId());
    }
    ~NcActivateWatch()
    {
        UnhookWindowsHookEx(m_hook);
        s_window = nullptr;
    }
    bool Hooked() const { return m_hook != nullptr; }
    static const std::vector<DWORD>& Times() { return s_times; }

private:
    static LRESULT CALLBACK Proc(int code, WPARAM wParam, LPARAM lParam)
    {
        const auto* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && m->hwnd == s_window && m->message == WM_NCACTIVATE)
            s_times.push_back(GetTickCount());
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static inline HWND s_window = nullptr;
    static inline std::vector<DWORD> s_times;
    HHOOK m_hook;
};

TEST(SettingsDialog, OpensWithRussianTextsAndASecondCallOnlyRaisesIt)
{
    PluginSession plugin;
    ASSERT_TRUE(plugin.Loaded());
    plugin.OpenSettings();
    HWND dialog = plugin.Dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), plugin.Host());
    EXPECT_EQ(plugin.Text(IDC_CANCEL), L"Отмена");
    EXPECT_EQ(plugin.Text(IDC_DEFAULTS), L"По умолчанию");
    EXPECT_EQ(plugin.Text(IDC_ABOUT), L"О плагине");
    EXPECT_EQ(plugin.Text(IDC_OK), L"ОК");
    EXPECT_EQ(_wcsicmp(ClassName(GetDlgItem(dialog, IDC_FORMAT_EDIT)).c_str(), L"RichEdit"), 0);
    // The first refresh filled the fields from the live (default) settings.
    EXPECT_EQ(plugin.Text(IDC_TEXT_OPACITY_EDIT), L"60");
    EXPECT_EQ(plugin.Text(IDC_BACK_OPACITY_EDIT), L"30");
    EXPECT_EQ(plugin.Text(IDC_SHADOW_EDIT), L"8");
    EXPECT_EQ(plugin.Text(IDC_FORMAT_EDIT), L"%H:%M:%S");

    SetFocus(plugin.Host());
    const auto before = std::chrono::steady_clock::now();
    plugin.OpenSettings();
    const auto blocked = std::chrono::steady_clock::now() - before;
    EXPECT_EQ(plugin.DialogCount(), 1);
    EXPECT_EQ(plugin.Dialog(), dialog);
    // 8 flashes at 60 ms steps (plus the pump of OpenSettings).
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(blocked).count(), 480 + 150 - 20);
    HWND focus = GetFocus();
    EXPECT_TRUE(focus == dialog || IsChild(dialog, focus));

    // Count the flashes. The dialog is active now, so its focus changes no
    // activation: every WM_NCACTIVATE it gets comes from a flash.
    ASSERT_EQ(GetActiveWindow(), dialog);
    {
        NcActivateWatch watch(dialog);
        ASSERT_TRUE(watch.Hooked());
        plugin.OpenSettings();
        const std::vector<DWORD> times = NcActivateWatch::Times();
        ASSERT_EQ(times.size(), 8u);
        for (size_t i = 1; i < times.size(); ++i)
            EXPECT_GE(times[i] - times[i - 1], 50u) << "flash " << i;
    }
}

TEST(SettingsDialog, OpacityAndShadowFieldsValidateAsTheUserTypes)
{
    BoxWatcher watcher;
    PluginSession plugin;
    plugin.OpenSettings();
    ASSERT_NE(plugin.Dialog(), nullptr);

    // After every keystroke the dialog refreshes the field from the live
    // value, so the field shows what was taken.
    plugin.Type(IDC_TEXT_OPACITY_EDIT, L"1");
    EXPECT_EQ(plugin.Text(IDC_TEXT_OPACITY_EDIT), L"1");
    plugin.Type(IDC_TEXT_OPACITY_EDIT, L"15");
    EXPECT_EQ(plugin.Text(IDC_TEXT_OPACITY_EDIT), L"15");
    EXPECT_TRUE(watcher.Messages().empty());
    plugin.Type(IDC_TEXT_OPACITY_EDIT, L"150");
    Pump(300);
    EXPECT_EQ(watcher.Messages(), std::vector<std::wstring>{kOpacityMessage});
    EXPECT_EQ(plugin.Text(IDC_TEXT_OPACITY_EDIT), L"15");
    watcher.Clear();

    plugin.Type(IDC_BACK_OPACITY_EDIT, L"100");
    EXPECT_EQ(plugin.Text(IDC_BACK_OPACITY_EDIT), L"100");
    EXPECT_TRUE(watcher.Messages().empty());

    plugin.Type(IDC_SHADOW_EDIT, L"20");
    EXPECT_EQ(plugin.Text(IDC_SHADOW_EDIT), L"20");
    EXPECT_TRUE(watcher.Messages().empty());
    // "20" becomes "21" by typing over its last digit.
    plugin.Type(IDC_SHADOW_EDIT, L"1", 1, 2);
    Pump(300);
    EXPECT_EQ(watcher.Messages(), std::vector<std::wstring>{kShadowMessage});
    EXPECT_EQ(plugin.Text(IDC_SHADOW_EDIT), L"20");

    plugin.Click(IDC_OK);
    EXPECT_EQ(plugin.DialogCount(), 0);
    const Profile profile = plugin.Deinit();
    EXPECT_EQ(SettingsOf(profile)["TextOpacity"], "15");
    EXPECT_EQ(SettingsOf(profile)["BackOpacity"], "100");
    EXPECT_EQ(SettingsOf(profile)["ShadowOffset"], "20");
}

TEST(SettingsDialog, CancelAfterChangesAndDefaultsRestoresAllSixteenValues)
{
    BoxWatcher watcher;
    PluginSession plugin(kEditedProfile);
    plugin.OpenSettings();
    ASSERT_NE(plugin.Dialog(), nullptr);
    EXPECT_EQ(plugin.Text(IDC_TEXT_OPACITY_EDIT), L"77");
    plugin.Type(IDC_TEXT_OPACITY_EDIT, L"5");
    plugin.Click(IDC_ALIGN_BOTTOM_RIGHT);
    plugin.Click(IDC_DEFAULTS);
    Pump(100);
    EXPECT_EQ(plugin.Text(IDC_TEXT_OPACITY_EDIT), L"60");
    EXPECT_EQ(plugin.Text(IDC_FORMAT_EDIT), L"%H:%M:%S");
    plugin.Type(IDC_SHADOW_EDIT, L"2");
    plugin.Click(IDC_CANCEL);
    Pump(100);
    EXPECT_EQ(plugin.DialogCount(), 0);

    const Profile written = [] {
        Profile p;
        std::istringstream in(kEditedProfile);
        std::string line, section;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.front() == '[')
                section = line.substr(1, line.size() - 2);
            else if (auto eq = line.find('='); eq != std::string::npos)
                p[section][line.substr(0, eq)] = line.substr(eq + 1);
        }
        return p;
    }();
    const Profile profile = plugin.Deinit();
    EXPECT_EQ(SettingsOf(profile), SettingsOf(written));
    EXPECT_EQ(SettingsOf(profile).size(), 16u);
}

// "Отмена" brings back the frames of before the dialog opened: the settings
// and the clock font made from them, whatever was edited in between.
TEST(SettingsDialog, CancelBringsBackTheFrameOfBeforeTheEdits)
{
    std::string profile = kEditedProfile;
    // A clock text that does not change with the time.
    profile.replace(profile.find("Format=%d.%m %H:%M"), 18, "Format=\xD7\xE0\xF1\xFB");
    PluginSession plugin(profile);
    plugin.ProcessOneFrame();
    const std::vector<uint8_t> before = plugin.Frame();
    plugin.OpenSettings();
    plugin.Type(IDC_TEXT_OPACITY_EDIT, L"5");
    plugin.Click(IDC_DEFAULTS);  // every value, the font's included
    plugin.Type(IDC_BACK_OPACITY_EDIT, L"9");
    EXPECT_TRUE(plugin.Frame() != before) << "the edits did not reach the frame";
    plugin.Click(IDC_CANCEL);
    Pump(100);
    EXPECT_TRUE(plugin.Frame() == before) << "the frame of before did not come back";
}

TEST(SettingsDialog, OkKeepsTheEditsAndTheNextOpeningSnapshotsThem)
{
    PluginSession plugin;
    plugin.OpenSettings();
    plugin.Type(IDC_BACK_OPACITY_EDIT, L"42");
    plugin.Click(IDC_DEFAULTS);
    plugin.Type(IDC_BACK_OPACITY_EDIT, L"43");
    plugin.Click(IDC_OK);
    EXPECT_EQ(plugin.DialogCount(), 0);

    plugin.OpenSettings();
    EXPECT_EQ(plugin.Text(IDC_BACK_OPACITY_EDIT), L"43");
    plugin.Type(IDC_BACK_OPACITY_EDIT, L"7");
    // A close request puts back what was live at this opening, not the first.
    SendMessageW(plugin.Dialog(), WM_CLOSE, 0, 0);
    Pump(50);
    EXPECT_EQ(plugin.DialogCount(), 0);
    EXPECT_EQ(SettingsOf(plugin.Deinit())["BackOpacity"], "43");
}

TEST(SettingsDialog, FormatMenuPickReplacesTheSelectionAndEscapeLeavesIt)
{
    PluginSession plugin;
    plugin.OpenSettings();
    HWND dialog = plugin.Dialog();
    HWND format = GetDlgItem(dialog, IDC_FORMAT_EDIT);
    ASSERT_EQ(plugin.Text(IDC_FORMAT_EDIT), L"%H:%M:%S");

    // "%M" selected; the pick of "%H - часы ( 00...23 )" arrives as a menu
    // command.
    SendMessageW(format, EM_SETSEL, 3, 5);
    SendMessageW(dialog, WM_COMMAND, 32796, 0);
    Pump(50);
    EXPECT_EQ(plugin.Text(IDC_FORMAT_EDIT), L"%H:%H:%S");

    // Escape: the dialog manager's IDCANCEL, a command without a control.
    SendMessageW(format, EM_SETSEL, 0, 2);
    SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    SetFocus(format);
    SendMessageW(format, WM_KEYDOWN, VK_ESCAPE, 0);
    Pump(50);
    EXPECT_EQ(plugin.Text(IDC_FORMAT_EDIT), L"%H:%H:%S");
    EXPECT_EQ(plugin.DialogCount(), 1);  // Escape does not end the dialog either
    DWORD start = 0, end = 0;
    SendMessageW(format, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(end - start, 2u);

    // "%% - символ %" at the caret (end of the text).
    SendMessageW(format, EM_SETSEL, 8, 8);
    SendMessageW(dialog, WM_COMMAND, 32813, 0);
    Pump(50);
    EXPECT_EQ(plugin.Text(IDC_FORMAT_EDIT), L"%H:%H:%S%%");
    plugin.Click(IDC_OK);
    EXPECT_EQ(SettingsOf(plugin.Deinit())["Format"], "%H:%H:%S%%");
}

// Real mouse input over a control, as the thread mouse hook needs it.
void MoveCursorOver(HWND control)
{
    RECT rect{};
    GetWindowRect(control, &rect);
    SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    Pump(50);
}

void SendButton(DWORD flags)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof(input));
}

// 1 + the sum of the first n ticks of the repeat sequence, for every n.
std::vector<int> ReachableRepeatTotals(int ticks)
{
    std::vector<int> totals{1};
    double accumulator = 0.0;
    int total = 1;
    for (int i = 0; i < ticks; ++i) {
        accumulator += 0.4;
        total += static_cast<int>(accumulator);
        totals.push_back(total);
    }
    return totals;
}

// Opens the dialog in a fresh module lifetime, presses an arrow with real
// mouse input, lets go after `holdMs` (through `release`), and returns the
// position that `deinit` saved.
template <class Release>
std::pair<int, int> PressArrow(int arrowId, int holdMs, Release release)
{
    PluginSession plugin;
    plugin.OpenSettings();
    HWND dialog = plugin.Dialog();
    if (!dialog)
        return {-9999, -9999};
    SetForegroundWindow(dialog);
    Pump(100);
    MoveCursorOver(GetDlgItem(dialog, arrowId));
    SendButton(MOUSEEVENTF_LEFTDOWN);
    Pump(holdMs);
    release(plugin);
    Pump(700);
    plugin.Click(IDC_OK);
    const auto values = SettingsOf(plugin.Deinit());
    return {std::stoi(values.at("StringPosX")), std::stoi(values.at("StringPosY"))};
}

void ReleaseButton(PluginSession&) { SendButton(MOUSEEVENTF_LEFTUP); }

TEST(SettingsDialog, ArrowClickMovesTheClockByOneThousandth)
{
    EXPECT_EQ(PressArrow(IDC_MOVE_RIGHT, 40, ReleaseButton), std::make_pair(1, 0));
    EXPECT_EQ(PressArrow(IDC_MOVE_LEFT, 40, ReleaseButton), std::make_pair(-1, 0));
    // A quick double click: the second press arrives as a double click and
    // counts as a press.
    EXPECT_EQ(PressArrow(IDC_MOVE_DOWN, 30, [](PluginSession&) {
                  SendButton(MOUSEEVENTF_LEFTUP);
                  Pump(30);
                  SendButton(MOUSEEVENTF_LEFTDOWN);
                  Pump(30);
                  SendButton(MOUSEEVENTF_LEFTUP);
              }),
              std::make_pair(0, 2));
}

TEST(SettingsDialog, ArrowClickCountsOnceUnderALoopThatPeeksFirst)
{
    g_peekBeforeTaking = true;
    const std::pair<int, int> moved = PressArrow(IDC_MOVE_RIGHT, 40, ReleaseButton);
    g_peekBeforeTaking = false;
    EXPECT_EQ(moved, std::make_pair(1, 0));
}

TEST(SettingsDialog, ArrowsIgnoreTheSpaceBar)
{
    PluginSession plugin;
    plugin.OpenSettings();
    HWND right = GetDlgItem(plugin.Dialog(), IDC_MOVE_RIGHT);
    SetFocus(right);
    SendMessageW(right, WM_KEYDOWN, VK_SPACE, 0x00390001);
    SendMessageW(right, WM_KEYUP, VK_SPACE, 0xC0390001);
    Pump(200);
    plugin.Click(IDC_MOVE_RIGHT);
    plugin.Click(IDC_OK);
    const auto values = SettingsOf(plugin.Deinit());
    EXPECT_EQ(values.at("StringPosX"), "0");
}

TEST(SettingsDialog, HeldArrowAccelerates)
{
    const std::vector<int> totals = ReachableRepeatTotals(80);
    const int moved = PressArrow(IDC_MOVE_DOWN, 1000, ReleaseButton).second;
    // About 20 ticks of 50 ms: a total the step sequence reaches, and far
    // more than one thousandth per tick (12 ticks already make 26).
    bool reachable = false;
    for (size_t ticks = 12; ticks < totals.size(); ++ticks)
        reachable = reachable || totals[ticks] == moved;
    EXPECT_TRUE(reachable) << "StringPosY " << moved;
    EXPECT_LE(moved, totals[40]);
}

TEST(SettingsDialog, HeldArrowStopsWhenTheButtonUpGoesElsewhere)
{
    // The host takes the capture while "up" is held, so the button-up never
    // reaches the arrow; the repeat must end with the button all the same.
    const std::vector<int> totals = ReachableRepeatTotals(80);
    const int moved = -PressArrow(IDC_MOVE_UP, 300, [](PluginSession& plugin) {
        SetCapture(plugin.Host());
        SendButton(MOUSEEVENTF_LEFTUP);
        Pump(100);
        ReleaseCapture();
    }).second;
    // 300 ms held, a few ticks either way, never the 20 more of the 700 ms
    // waited after.
    EXPECT_GE(moved, 1);
    EXPECT_LE(moved, totals[12]) << "StringPosY " << -moved;
}

// Processes one frame so that the clock has a size, clicks an align button
// and returns the position that `deinit` saved.
std::pair<int, int> AlignAfterOneFrame(int alignId)
{
    PluginSession plugin;
    plugin.ProcessOneFrame();
    plugin.OpenSettings();
    plugin.Click(alignId);
    plugin.Click(IDC_OK);
    const auto values = SettingsOf(plugin.Deinit());
    return {std::stoi(values.at("StringPosX")), std::stoi(values.at("StringPosY"))};
}

TEST(SettingsDialog, AlignButtonsUseTheClockSize)
{
    const auto [right, bottom] = AlignAfterOneFrame(IDC_ALIGN_BOTTOM_RIGHT);
    // 1000 minus the size of a real clock, in thousandths.
    EXPECT_GT(right, 0);
    EXPECT_LT(right, 1000);
    EXPECT_GT(bottom, 0);
    EXPECT_LT(bottom, 1000);
    EXPECT_EQ(AlignAfterOneFrame(IDC_ALIGN_CENTER), std::make_pair(right / 2, bottom / 2));
    EXPECT_EQ(AlignAfterOneFrame(IDC_ALIGN_TOP_RIGHT), std::make_pair(right, 0));
    EXPECT_EQ(AlignAfterOneFrame(IDC_ALIGN_BOTTOM_LEFT), std::make_pair(0, bottom));
    EXPECT_EQ(AlignAfterOneFrame(IDC_ALIGN_TOP_LEFT), std::make_pair(0, 0));
}

TEST(SettingsDialog, ClosedDialogPositionIsStoredAndReused)
{
    PluginSession plugin;
    plugin.OpenSettings();
    HWND dialog = plugin.Dialog();
    ASSERT_NE(dialog, nullptr);
    // First opening: centred over the host's window, inside the screen.
    RECT first{}, host{};
    GetWindowRect(dialog, &first);
    GetWindowRect(plugin.Host(), &host);
    EXPECT_NEAR((first.left + first.right) / 2, (host.left + host.right) / 2, 1);
    EXPECT_NEAR((first.top + first.bottom) / 2, (host.top + host.bottom) / 2, 1);

    SetWindowPos(dialog, nullptr, 123, 77, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    plugin.Click(IDC_OK);
    plugin.OpenSettings();
    RECT second{};
    GetWindowRect(plugin.Dialog(), &second);
    EXPECT_EQ(second.left, 123);
    EXPECT_EQ(second.top, 77);

    // `deinit` with the dialog open: the window goes first, then the save,
    // which therefore holds its last position.
    SetWindowPos(plugin.Dialog(), nullptr, 150, 90, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    plugin.Type(IDC_TEXT_OPACITY_EDIT, L"33");
    HWND open = plugin.Dialog();
    const Profile profile = plugin.Deinit();
    EXPECT_FALSE(IsWindow(open));
    EXPECT_EQ(profile.at("DIALOG").at("DlgWndPosX"), "150");
    EXPECT_EQ(profile.at("DIALOG").at("DlgWndPosY"), "90");
    EXPECT_EQ(SettingsOf(profile)["TextOpacity"], "33");
}

// A position stored on a monitor since unplugged (left of the primary one)
// is not used: the dialog opens centred over the host, and the profile keeps
// the stored value until the dialog closes where it now stands. A position
// whose caption still reaches the screen is used as it is.
TEST(SettingsDialog, StoredPositionOffEveryScreenOpensOnTheScreen)
{
    std::string offScreen = kEditedProfile;
    offScreen.replace(offScreen.find("DlgWndPosX=40"), 13, "DlgWndPosX=-1500");
    offScreen.replace(offScreen.find("DlgWndPosY=30"), 13, "DlgWndPosY=200");
    {
        PluginSession plugin(offScreen);
        plugin.OpenSettings();
        HWND dialog = plugin.Dialog();
        ASSERT_NE(dialog, nullptr);
        RECT rect{}, host{};
        GetWindowRect(dialog, &rect);
        GetWindowRect(plugin.Host(), &host);
        EXPECT_NEAR((rect.left + rect.right) / 2, (host.left + host.right) / 2, 1);
        EXPECT_NE(MonitorFromRect(&rect, MONITOR_DEFAULTTONULL), nullptr);
        EXPECT_EQ(ReadProfile().at("DIALOG").at("DlgWndPosX"), "-1500");
        plugin.Click(IDC_OK);
        const Profile profile = plugin.Deinit();
        EXPECT_EQ(profile.at("DIALOG").at("DlgWndPosX"), std::to_string(rect.left));
        EXPECT_EQ(profile.at("DIALOG").at("DlgWndPosY"), std::to_string(rect.top));
    }
    std::string partly = kEditedProfile;
    partly.replace(partly.find("DlgWndPosX=40"), 13, "DlgWndPosX=-100");
    PluginSession plugin(partly);
    plugin.OpenSettings();
    RECT rect{};
    GetWindowRect(plugin.Dialog(), &rect);
    EXPECT_EQ(rect.left, -100);
    EXPECT_EQ(rect.top, 30);
}

// Colours along the middle line of a control's face, inside its 2-pixel edge.
std::set<COLORREF> MiddleLineColours(HWND control)
{
    RECT rect{};
    GetClientRect(control, &rect);
    HDC dc = GetDC(control);
    std::set<COLORREF> colours;
    const int y = rect.bottom / 2;
    for (int x = 3; x < rect.right - 3; ++x)
        colours.insert(GetPixel(dc, x, y));
    ReleaseDC(control, dc);
    return colours;
}

TEST(SettingsDialog, SwatchesShowTheirColoursAndAHatchWhenDisabled)
{
    PluginSession plugin;
    plugin.OpenSettings();
    HWND dialog = plugin.Dialog();
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    Pump(200);
    HWND text = GetDlgItem(dialog, IDC_TEXT_COLOR);
    HWND back = GetDlgItem(dialog, IDC_BACK_COLOR);
    EXPECT_EQ(MiddleLineColours(text), std::set<COLORREF>{0xC0C0C0});
    EXPECT_EQ(MiddleLineColours(back), std::set<COLORREF>{0x800000});

    EnableWindow(text, FALSE);
    RedrawWindow(text, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    Pump(100);
    const std::set<COLORREF> hatched = MiddleLineColours(text);
    EXPECT_TRUE(hatched.count(0x808080)) << "no grey hatch lines";
    EXPECT_GE(hatched.size(), 2u) << "a hatch has gaps between its lines";
    EXPECT_FALSE(hatched.count(0xC0C0C0)) << "the disabled swatch still shows its colour";
}

// Waits on a second thread for a modal dialog of the test thread that holds
// a control with markerId, then runs action on it (which must end it).
struct ModalSearch {
    int marker;
    HWND found = nullptr;
};

BOOL CALLBACK FindModal(HWND hwnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<ModalSearch*>(lParam);
    if (IsWindowVisible(hwnd) && GetDlgItem(hwnd, search->marker))
        search->found = hwnd;
    return search->found == nullptr;
}

std::thread DriveModal(int markerId, std::function<void(HWND)> action)
{
    const DWORD thread = GetCurrentThreadId();
    return std::thread([=] {
        for (int i = 0; i < 500; ++i) {
            ModalSearch find{markerId};
            EnumThreadWindows(thread, &FindModal, reinterpret_cast<LPARAM>(&find));
            if (find.found) {
                Sleep(100);
                action(find.found);
                return;
            }
            Sleep(20);
        }
    });
}

void PressButton(HWND dialog, int id)
{
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// The colour dialog's red, green and blue fields.
constexpr int kColorRed = 706, kColorGreen = 707, kColorBlue = 708;

TEST(SettingsDialog, ColourDialogsSetTheirColourOnlyOnOk)
{
    PluginSession plugin;
    plugin.OpenSettings();
    auto pickColour = [](int r, int g, int b, int button) {
        return [=](HWND colours) {
            SetDlgItemInt(colours, kColorRed, r, FALSE);
            SetDlgItemInt(colours, kColorGreen, g, FALSE);
            SetDlgItemInt(colours, kColorBlue, b, FALSE);
            Sleep(50);
            PressButton(colours, button);
        };
    };
    std::thread driver = DriveModal(kColorRed, pickColour(10, 20, 30, IDOK));
    plugin.Click(IDC_TEXT_COLOR);
    driver.join();
    driver = DriveModal(kColorRed, pickColour(1, 2, 3, IDCANCEL));
    plugin.Click(IDC_BACK_COLOR);
    driver.join();
    Pump(100);
    EXPECT_EQ(plugin.DialogCount(), 1);
    plugin.Click(IDC_OK);
    const auto values = SettingsOf(plugin.Deinit());
    EXPECT_EQ(values.at("TextColor"), std::to_string(RGB(10, 20, 30)));
    EXPECT_EQ(values.at("BackColor"), "8388608");
}

// The font dialog's face list and its Apply button.
constexpr int kFontFaces = 1136, kFontApply = 1026, kFontColours = 1139;

// Picks, in the open font dialog, the first face that is not the current one.
std::wstring PickOtherFace(HWND fonts)
{
    HWND faces = GetDlgItem(fonts, kFontFaces);
    const int current = static_cast<int>(SendMessageW(faces, CB_GETCURSEL, 0, 0));
    const int count = static_cast<int>(SendMessageW(faces, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t name[LF_FACESIZE + 1] = {};
        if (i == current || SendMessageW(faces, CB_GETLBTEXTLEN, i, 0) > LF_FACESIZE)
            continue;
        SendMessageW(faces, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(name));
        if (name[0] == L'@' || name[0] == 0)
            continue;
        SendMessageW(faces, CB_SETCURSEL, i, 0);
        SendMessageW(fonts, WM_COMMAND, MAKEWPARAM(kFontFaces, CBN_SELCHANGE), reinterpret_cast<LPARAM>(faces));
        return name;
    }
    return {};
}

TEST(SettingsDialog, FontDialogApplyShowsAtOnceAndCancelPutsItBack)
{
    PluginSession plugin;
    plugin.ProcessOneFrame();
    plugin.OpenSettings();
    // A clock text that does not change with the time, so that frames differ
    // only by the font.
    plugin.Type(IDC_FORMAT_EDIT, L"Часы");
    const std::vector<uint8_t> arial = plugin.Frame();

    std::vector<uint8_t> applied;
    std::wstring face;
    std::thread driver = DriveModal(kFontApply, [&](HWND fonts) {
        face = PickOtherFace(fonts);
        Sleep(50);
        PressButton(fonts, kFontApply);
        // The host's video thread goes on meanwhile: the next frame shows
        // the applied font although the font dialog is still open.
        applied = plugin.Frame();
        PressButton(fonts, IDCANCEL);
    });
    plugin.Click(IDC_FONT_BUTTON);
    driver.join();
    ASSERT_FALSE(face.empty());
    EXPECT_NE(applied, arial) << "Apply did not reach the next frame";
    EXPECT_EQ(plugin.Frame(), arial) << "Cancel did not put the font back";

    // OK keeps the face but not a colour chosen in the font dialog.
    driver = DriveModal(kFontApply, [&](HWND fonts) {
        face = PickOtherFace(fonts);
        HWND colours = GetDlgItem(fonts, kFontColours);
        SendMessageW(colours, CB_SETCURSEL, 3, 0);
        SendMessageW(fonts, WM_COMMAND, MAKEWPARAM(kFontColours, CBN_SELCHANGE), reinterpret_cast<LPARAM>(colours));
        Sleep(50);
        PressButton(fonts, IDOK);
    });
    plugin.Click(IDC_FONT_BUTTON);
    driver.join();
    EXPECT_NE(plugin.Frame(), arial);
    plugin.Click(IDC_OK);
    const auto values = SettingsOf(plugin.Deinit());
    char narrow[LF_FACESIZE * 2] = {};
    WideCharToMultiByte(CP_ACP, 0, face.c_str(), -1, narrow, sizeof(narrow), nullptr, nullptr);
    EXPECT_EQ(values.at("FontName"), narrow);
    EXPECT_EQ(values.at("TextColor"), "12632256");
}

TEST(SettingsDialog, OneAboutBoxPerObject)
{
    BoxWatcher watcher;
    PluginSession plugin;
    plugin.OpenSettings();
    HWND dialog = plugin.Dialog();
    ASSERT_NE(dialog, nullptr);
    // The second click is posted while the first about box runs its loop.
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_ABOUT, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_ABOUT)));
    std::thread closer([&] {
        for (int i = 0; i < 100 && watcher.aboutBoxesSeen == 0; ++i)
            Sleep(20);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_ABOUT, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_ABOUT)));
        Sleep(400);
        watcher.closeAboutBoxes = true;
    });
    Pump(1500);
    closer.join();
    Pump(200);
    EXPECT_EQ(watcher.aboutBoxesSeen, 1);
    EXPECT_EQ(watcher.maxAboutBoxes, 1);
    EXPECT_EQ(plugin.DialogCount(), 1);
}

TEST(SettingsDialog, FiftyOpeningsAndClosingsLeaveNoWindow)
{
    PluginSession plugin;
    for (int i = 0; i < 50; ++i) {
        plugin.OpenSettings();
        ASSERT_EQ(plugin.DialogCount(), 1);
        // Owner-drawn buttons make and delete a brush on every paint.
        RedrawWindow(plugin.Dialog(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        if (i % 2)
            plugin.Click(IDC_OK);
        else
            plugin.Click(IDC_CANCEL);
        Pump(20);
        ASSERT_EQ(plugin.DialogCount(), 0);
    }
}

// Real key presses (SendInput) to the active dialog, with the host's loop
// feeding its keyboard navigation.
class KeyboardSession : public PluginSession {
public:
    explicit KeyboardSession(const std::string& profileText = {}) : PluginSession(profileText)
    {
        g_hostKeyboardNavigation = true;
    }
    ~KeyboardSession() { g_hostKeyboardNavigation = false; }

    // Opens the dialog and makes it the window that takes the keys.
    bool OpenForKeys()
    {
        OpenSettings();
        HWND dialog = Dialog();
        if (!dialog)
            return false;
        SetForegroundWindow(dialog);
        Pump(100);
        return GetForegroundWindow() == dialog;
    }
    // Moves the focus as the dialog manager does (an edit gets its whole
    // text selected).
    void FocusControl(int id)
    {
        SendMessageW(Dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(Dialog(), id)), TRUE);
        Pump(50);
    }
    static void Key(WORD vk)
    {
        INPUT input[2] = {};
        input[0].type = INPUT_KEYBOARD;
        input[0].ki.wVk = vk;
        input[1] = input[0];
        input[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, input, sizeof(INPUT));
        Pump(60);
    }
    // Digits and capital letters are their own virtual-key codes (a letter
    // types as lower case).
    static void Keys(const std::wstring& keys)
    {
        for (wchar_t key : keys)
            Key(static_cast<WORD>(key));
    }
    std::pair<DWORD, DWORD> Selection(int id) const
    {
        DWORD start = 0, end = 0;
        SendMessageW(GetDlgItem(Dialog(), id), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                     reinterpret_cast<LPARAM>(&end));
        return {start, end};
    }
};

// Counts font dialogs that open meanwhile on the test thread and cancels them.
class FontDialogGuard {
public:
    FontDialogGuard()
        : m_thread(GetCurrentThreadId()), m_worker([this] {
              while (!m_stop) {
                  ModalSearch find{kFontFaces};
                  EnumThreadWindows(m_thread, &FindModal, reinterpret_cast<LPARAM>(&find));
                  if (find.found) {
                      ++opened;
                      PostMessageW(find.found, WM_COMMAND, IDCANCEL, 0);
                      Sleep(300);
                  }
                  Sleep(20);
              }
          })
    {
    }
    ~FontDialogGuard()
    {
        m_stop = true;
        m_worker.join();
    }
    std::atomic<int> opened{0};

private:
    DWORD m_thread;
    std::atomic<bool> m_stop{false};
    std::thread m_worker;
};

// Enter anywhere in the dialog presses "ОК", its default button: the dialog
// closes the way "ОК" closes it, keeping what the user typed (before, the
// default was "Отмена", and Enter put every value back).
TEST(SettingsDialogKeys, EnterKeepsTheEditsAndClosesThroughOk)
{
    struct Case {
        int focus;             // the control that has the focus at Enter
        int typeInto;          // the field typed in first
        std::wstring keys;     // typed there, over its selected text
        const char* key;       // the setting it edits
        const char* expected;  // as saved
    };
    const Case cases[] = {
        {IDC_TEXT_OPACITY_EDIT, IDC_TEXT_OPACITY_EDIT, L"45", "TextOpacity", "45"},
        {IDC_BACK_OPACITY_EDIT, IDC_BACK_OPACITY_EDIT, L"7", "BackOpacity", "7"},
        {IDC_SHADOW_EDIT, IDC_SHADOW_EDIT, L"12", "ShadowOffset", "12"},
        {IDC_FORMAT_EDIT, IDC_FORMAT_EDIT, L"HM", "Format", "hm"},
        // Owner-drawn, the font button is never the default itself: Enter on
        // it presses "ОК" and opens no font dialog.
        {IDC_FONT_BUTTON, IDC_TEXT_OPACITY_EDIT, L"33", "TextOpacity", "33"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key + std::string(" with the focus on ") + std::to_string(c.focus));
        FontDialogGuard fontDialogs;
        KeyboardSession plugin;
        ASSERT_TRUE(plugin.OpenForKeys());
        plugin.FocusControl(c.typeInto);
        plugin.Keys(c.keys);
        if (c.focus != c.typeInto)
            plugin.FocusControl(c.focus);
        EXPECT_EQ(GetDlgCtrlID(GetFocus()), c.focus);
        KeyboardSession::Key(VK_RETURN);
        Pump(200);
        EXPECT_EQ(plugin.DialogCount(), 0) << "Enter did not close the dialog";
        EXPECT_EQ(fontDialogs.opened, 0);
        EXPECT_EQ(SettingsOf(plugin.Deinit())[c.key], c.expected);
    }
}

TEST(SettingsDialogKeys, EscapeLeavesTheDialogAndItsEditsAlone)
{
    KeyboardSession plugin;
    ASSERT_TRUE(plugin.OpenForKeys());
    plugin.FocusControl(IDC_BACK_OPACITY_EDIT);
    plugin.Keys(L"9");
    KeyboardSession::Key(VK_ESCAPE);
    Pump(100);
    EXPECT_EQ(plugin.DialogCount(), 1);
    EXPECT_EQ(plugin.Text(IDC_BACK_OPACITY_EDIT), L"9");
    plugin.Click(IDC_OK);
    EXPECT_EQ(SettingsOf(plugin.Deinit())["BackOpacity"], "9");
}

// The refresh after each keystroke must not rewrite the field being typed
// in: "00" rewritten as "0" with the caret at the start turned 0, 0, 7 into
// 70.
TEST(SettingsDialogKeys, ZeroZeroSevenGivesSeven)
{
    BoxWatcher watcher;
    KeyboardSession plugin;
    ASSERT_TRUE(plugin.OpenForKeys());
    plugin.FocusControl(IDC_TEXT_OPACITY_EDIT);
    plugin.Keys(L"00");
    EXPECT_EQ(plugin.Text(IDC_TEXT_OPACITY_EDIT), L"00");
    EXPECT_EQ(plugin.Selection(IDC_TEXT_OPACITY_EDIT), std::make_pair(DWORD{2}, DWORD{2}));
    plugin.Keys(L"7");
    Pump(100);
    EXPECT_EQ(plugin.Text(IDC_TEXT_OPACITY_EDIT), L"007");
    EXPECT_EQ(plugin.Selection(IDC_TEXT_OPACITY_EDIT), std::make_pair(DWORD{3}, DWORD{3}));
    // Leaving the field writes the value as the dialog writes numbers.
    KeyboardSession::Key(VK_TAB);
    Pump(100);
    EXPECT_NE(GetDlgCtrlID(GetFocus()), IDC_TEXT_OPACITY_EDIT);
    EXPECT_EQ(plugin.Text(IDC_TEXT_OPACITY_EDIT), L"7");

    plugin.FocusControl(IDC_SHADOW_EDIT);
    plugin.Keys(L"07");
    EXPECT_EQ(plugin.Text(IDC_SHADOW_EDIT), L"07");
    EXPECT_TRUE(watcher.Messages().empty());
    plugin.Click(IDC_OK);
    const auto values = SettingsOf(plugin.Deinit());
    EXPECT_EQ(values.at("TextOpacity"), "7");
    EXPECT_EQ(values.at("ShadowOffset"), "7");
}

// Deleting a field's digits to type a new value is not an error: the empty
// field says nothing and takes nothing, and leaving it empty puts back the
// value it had.
TEST(SettingsDialogKeys, EmptiedFieldIsUnfinishedInputUntilLeft)
{
    BoxWatcher watcher;
    KeyboardSession plugin;
    ASSERT_TRUE(plugin.OpenForKeys());
    plugin.FocusControl(IDC_BACK_OPACITY_EDIT);
    ASSERT_EQ(plugin.Text(IDC_BACK_OPACITY_EDIT), L"30");
    KeyboardSession::Key(VK_END);
    KeyboardSession::Key(VK_BACK);
    KeyboardSession::Key(VK_BACK);
    Pump(300);
    EXPECT_EQ(plugin.Text(IDC_BACK_OPACITY_EDIT), L"");
    plugin.Keys(L"45");
    Pump(300);
    EXPECT_EQ(plugin.Text(IDC_BACK_OPACITY_EDIT), L"45");
    EXPECT_TRUE(watcher.Messages().empty()) << "a message for a field being typed in";

    // Emptied and left with Tab: the last value taken comes back.
    plugin.FocusControl(IDC_SHADOW_EDIT);
    KeyboardSession::Key(VK_DELETE);
    Pump(300);
    EXPECT_EQ(plugin.Text(IDC_SHADOW_EDIT), L"");
    KeyboardSession::Key(VK_TAB);
    Pump(200);
    EXPECT_EQ(plugin.Text(IDC_SHADOW_EDIT), L"8");
    // Emptied and left by a click elsewhere.
    plugin.FocusControl(IDC_TEXT_OPACITY_EDIT);
    KeyboardSession::Key(VK_DELETE);
    Pump(100);
    plugin.FocusControl(IDC_FORMAT_EDIT);
    Pump(100);
    EXPECT_EQ(plugin.Text(IDC_TEXT_OPACITY_EDIT), L"60");
    EXPECT_TRUE(watcher.Messages().empty());
    // A number out of range still brings the message at once.
    plugin.FocusControl(IDC_SHADOW_EDIT);
    plugin.Keys(L"30");
    Pump(300);
    EXPECT_EQ(watcher.Messages(), std::vector<std::wstring>{kShadowMessage});
    EXPECT_EQ(plugin.Text(IDC_SHADOW_EDIT), L"3");

    plugin.Click(IDC_OK);
    const auto values = SettingsOf(plugin.Deinit());
    EXPECT_EQ(values.at("BackOpacity"), "45");
    EXPECT_EQ(values.at("ShadowOffset"), "3");
    EXPECT_EQ(values.at("TextOpacity"), "60");
}

// The position pad's captions are Marlett characters, which the prefix must
// have (otherwise they show as the letters "h 3 4 5 6").
TEST(SettingsDialog, PositionPadIsDrawnInMarlett)
{
    PluginSession plugin;
    plugin.OpenSettings();
    HWND up = GetDlgItem(plugin.Dialog(), IDC_MOVE_UP);
    auto font = reinterpret_cast<HFONT>(SendMessageW(up, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    HDC dc = GetDC(up);
    HGDIOBJ old = SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    SelectObject(dc, old);
    ReleaseDC(up, dc);
    EXPECT_STREQ(face, L"Marlett");
}

// A Format far longer than any that can give a clock text (1 MB here): the
// field shows and edits its first 383 characters, a notice under the
// buttons says so, and the setting keeps every byte until the user edits
// the part shown.
const std::string kHugeFormat = [] {
    std::string format;
    for (int i = 0; i < (1 << 19); ++i)
        format += "%H";
    return format;
}();
const std::string kHugeFormatProfile = "[COMMON]\r\nFormat=" + kHugeFormat + "\r\n";
constexpr size_t kFieldFormat = 383;

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

TEST(SettingsDialog, HugeFormatIsShownCutAndKeptUntilEdited)
{
    const std::wstring shown = Wide(kHugeFormat.substr(0, kFieldFormat));
    {
        PluginSession plugin(kHugeFormatProfile);
        const auto before = std::chrono::steady_clock::now();
        plugin.OpenSettings();
        std::printf("opening with a 1 MB format: %lld ms (150 of them the test's own wait)\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - before)
                                               .count()));
        HWND dialog = plugin.Dialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(plugin.Text(IDC_FORMAT_EDIT), shown);
        HWND notice = GetDlgItem(dialog, IDC_FORMAT_NOTICE);
        ASSERT_NE(notice, nullptr);
        EXPECT_TRUE(IsWindowVisible(notice));
        EXPECT_EQ(WindowText(notice), L"Формат слишком длинный: здесь показаны только первые 383 знака. "
                                      L"При правке остальная часть будет отброшена.");
        // The dialog grew below its buttons to show it whole.
        RECT client{}, units{0, 0, 191, 150}, noticeRect{};
        GetClientRect(dialog, &client);
        MapDialogRect(dialog, &units);
        GetWindowRect(notice, &noticeRect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&noticeRect), 2);
        EXPECT_GE(noticeRect.top, units.bottom);
        EXPECT_LE(noticeRect.bottom, client.bottom);
        plugin.Click(IDC_OK);
        EXPECT_EQ(SettingsOf(plugin.Deinit())["Format"], kHugeFormat);
    }
    {
        // An edit of the part shown makes it the whole format; "Отмена" puts
        // the long one back.
        KeyboardSession plugin(kHugeFormatProfile);
        ASSERT_TRUE(plugin.OpenForKeys());
        plugin.FocusControl(IDC_FORMAT_EDIT);
        KeyboardSession::Key(VK_END);
        KeyboardSession::Key(VK_BACK);
        EXPECT_EQ(plugin.Text(IDC_FORMAT_EDIT), shown.substr(0, kFieldFormat - 1));
        Pump(100);
        EXPECT_EQ(WindowText(GetDlgItem(plugin.Dialog(), IDC_FORMAT_NOTICE)),
                  L"Формат укорочен до показанной части. «Отмена» вернёт его целиком.");
        plugin.Click(IDC_CANCEL);
        Pump(100);
        EXPECT_EQ(SettingsOf(plugin.Deinit())["Format"], kHugeFormat);
    }
    {
        // The field takes no more than it shows: of two letters typed at its
        // end after one deletion only the first goes in; "ОК" keeps that.
        KeyboardSession plugin(kHugeFormatProfile);
        ASSERT_TRUE(plugin.OpenForKeys());
        plugin.FocusControl(IDC_FORMAT_EDIT);
        KeyboardSession::Key(VK_END);
        KeyboardSession::Key(VK_BACK);
        plugin.Keys(L"MS");
        const std::string edited = kHugeFormat.substr(0, kFieldFormat - 1) + "m";
        EXPECT_EQ(plugin.Text(IDC_FORMAT_EDIT), Wide(edited));
        plugin.Click(IDC_OK);
        EXPECT_EQ(SettingsOf(plugin.Deinit())["Format"], edited);
    }
}

// The interactive host, in a folder of its own with a copy of the plug-in:
// it opens the dialog with its window as parent, plays 40 frames and closes,
// and its `deinit` destroys the open dialog before the save.
TEST(InteractiveHost, ClosingTheHostDestroysTheDialogAndSaves)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"horavel-host-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    for (const wchar_t* name : {L"norvale-host.exe", L"Horavel.dll"})
        ASSERT_TRUE(CopyFileW((ProgramFolderW() + name).c_str(), (folder + name).c_str(), FALSE)) << name;

    std::wstring command = L"\"" + folder + L"norvale-host.exe\" Horavel.dll --interactive --settings --frames 40 "
                           L"--width 320 --height 240";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                               &process));
    const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    if (waited != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_EQ(waited, WAIT_OBJECT_0);
    EXPECT_EQ(code, 0u);

    const std::string text = ReadWholeFile(folder + L"Plugins\\Horavel.ini");
    EXPECT_NE(text.find("[COMMON]"), std::string::npos) << "no profile saved";
    // The dialog was open, and went before the save: its position is there.
    EXPECT_NE(text.find("DlgWndPosX="), std::string::npos);
    EXPECT_EQ(text.find("DlgWndPosX=-100"), std::string::npos) << text;

    DeleteFileW((folder + L"Plugins\\Horavel.ini").c_str());
    RemoveDirectoryW((folder + L"Plugins").c_str());
    DeleteFileW((folder + L"norvale-host.exe").c_str());
    DeleteFileW((folder + L"Horavel.dll").c_str());
    RemoveDirectoryW(folder.c_str());
}

} // namespace
