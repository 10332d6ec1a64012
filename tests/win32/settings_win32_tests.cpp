// The profile on Windows: its location with the real registry, real folders
// and real command lines, and its life through Horavel.dll's init and deinit.
//
// The program runs some cases in copies of itself: a child started with
// "-inst:" or "/inst:" on its command line reports the location it works out,
// and the DLL cases run in a copy placed in a fresh folder, so that the host
// folder (and with it the profile) belongs to this test alone.
#include "core/plugin_record.h"
#include "settings/profile_settings.h"
#include "settings/win32_profile_files.h"
#include "test_host.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace horavel {
namespace {

// Marks the folder of the private copy that runs the DLL cases.
constexpr char kPrivateMarker[] = "private-host.marker";

constexpr char kDefaultProfile[] =
    "[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n"
    "[COMMON]\r\nStringPosX=0\r\nStringPosY=0\r\nFontName=Arial\r\nFontSize=-34\r\n"
    "FontWeight=700\r\nFontItalic=0\r\nFontUnderline=1\r\nFontStrikeOut=0\r\nFontCharSet=1\r\n"
    "FontQuality=4\r\nTextColor=12632256\r\nBackColor=8388608\r\nTextOpacity=60\r\n"
    "BackOpacity=30\r\nShadowOffset=8\r\nFormat=%H:%M:%S\r\n";

using testing::PluginModule;
using testing::ProgramFolder;
using testing::ProgramPath;
using testing::PumpFor;
using testing::ReadWholeFile;
using testing::VisibleDialogOfThisThread;
using testing::WriteWholeFile;

std::string AppData()
{
    char path[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, path, CSIDL_APPDATA, FALSE);
    return path;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Paths of this test are ASCII; the wide file functions take them beyond
// MAX_PATH (with "\\?\" before them), the ANSI ones do not.
std::wstring Wide(const std::string& path) { return std::wstring(path.begin(), path.end()); }

FILETIME LastWrite(const std::string& path)
{
    FILETIME time{};
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        time = data.ftLastWriteTime;
    return time;
}

// Runs `commandLine` and waits for it (at most `milliseconds`); the exit
// code, or -1.
int RunProgram(const std::string& commandLine, DWORD milliseconds = 120000)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, milliseconds);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// --- the host's registry switch ---------------------------------------------

class RegistrySwitch {
public:
    RegistrySwitch()
    {
        HKEY key = nullptr;
        m_keyExisted = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norvale", 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (m_keyExisted)
            RegCloseKey(key);
    }
    ~RegistrySwitch()
    {
        Remove();
        if (!m_keyExisted)
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norvale");
    }
    bool Set(DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norvale", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            return false;
        const bool ok = RegSetValueExA(key, "StoreInUsersFolder", 0, type, static_cast<const BYTE*>(data), size) ==
                        ERROR_SUCCESS;
        RegCloseKey(key);
        return ok;
    }
    bool SetDword(DWORD value) { return Set(REG_DWORD, &value, sizeof value); }
    void Remove()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norvale", 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, "StoreInUsersFolder");
            RegCloseKey(key);
        }
    }

private:
    bool m_keyExisted = false;
};

// The location a child process works out with `switches` on its command line.
std::string ChildLocation(const std::string& switches)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string report = std::string(temp) + "horavel-location-" + std::to_string(GetCurrentProcessId()) + ".txt";
    DeleteFileA(report.c_str());
    const int code = RunProgram("\"" + ProgramPath() + "\" --report-location \"" + report + "\" " + switches);
    EXPECT_EQ(code, 0) << switches;
    const std::string path = ReadWholeFile(report);
    DeleteFileA(report.c_str());
    return path;
}

std::string LocationHere()
{
    auto location = BuildProfilePath(L"Horavel");
    return location ? location->path : "<none>";
}

TEST(ProfileLocationWin32, PathTableWithTheRealRegistryAndCommandLines)
{
    RegistrySwitch registry;
    const std::string host = ProgramFolder();
    const std::string app = AppData();
    ASSERT_FALSE(app.empty());
    ASSERT_NE(app.back(), '\\');

    // Switch off (missing value, then 0): the host's folder.
    registry.Remove();
    EXPECT_EQ(LocationHere(), host + "Plugins\\Horavel.ini");
    EXPECT_TRUE(Exists(host + "Plugins"));   // the last level is created
    ASSERT_TRUE(registry.SetDword(0));
    EXPECT_EQ(ChildLocation("/inst:2"), host + "Instances\\2\\Plugins\\Horavel.ini");
    EXPECT_EQ(ChildLocation("-inst:3 /inst:7"), host + "Instances\\7\\Plugins\\Horavel.ini");
    EXPECT_EQ(ChildLocation("-inst:"), host + "Plugins\\Horavel.ini");

    // Switch on: the user's application-data folder.
    ASSERT_TRUE(registry.SetDword(1));
    EXPECT_EQ(LocationHere(), app + "\\Norvale\\Plugins\\Horavel.ini");
    EXPECT_EQ(ChildLocation("-INST:B"), app + "\\Norvale\\Instances\\b\\Plugins\\Horavel.ini");

    // Only the last level is made: with "Norvale" there, "Plugins" appears.
    CreateDirectoryA((app + "\\Norvale").c_str(), nullptr);
    RemoveDirectoryA((app + "\\Norvale\\Plugins").c_str());
    LocationHere();
    EXPECT_TRUE(Exists(app + "\\Norvale\\Plugins"));
    RemoveDirectoryA((app + "\\Norvale\\Plugins").c_str());
    RemoveDirectoryA((app + "\\Norvale").c_str());

    // The value's type is ignored: four raw bytes decide.
    const BYTE raw[4] = {0, 1, 0, 0};
    ASSERT_TRUE(registry.Set(REG_BINARY, raw, sizeof raw));
    EXPECT_EQ(LocationHere(), app + "\\Norvale\\Plugins\\Horavel.ini");
    // A value wider than four bytes cannot be read and counts as 0.
    const BYTE wide[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(registry.Set(REG_BINARY, wide, sizeof wide));
    EXPECT_EQ(LocationHere(), host + "Plugins\\Horavel.ini");
}

TEST(ProfileLocationWin32, InputsComeFromThisProcess)
{
    auto inputs = GatherProfileInputs(L"Horavel");
    ASSERT_TRUE(inputs);
    EXPECT_EQ(inputs->platformId, 2u);
    EXPECT_EQ(inputs->commandLine, GetCommandLineA());
    EXPECT_EQ(inputs->moduleName, "Horavel");
}

// Names go into a code page only character for character: a character the
// code page lacks gives no name at all rather than a best fit (which would
// be another folder). UTF-8 as the ANSI code page takes every name.
TEST(ProfileLocationWin32, NamesInFourCodePages)
{
    const std::wstring cyrillic = L"C:\\ТВ\\host.exe", latin = L"C:\\Bücher\\host.exe",
                       japanese = L"C:\\テレビ\\host.exe", greek = L"C:\\Ωμέγα\\host.exe";
    struct Case {
        uint32_t codePage;
        const std::wstring* name;
        std::optional<std::string> narrow;
    };
    const Case cases[] = {
        {1251, &cyrillic, "C:\\\xD2\xC2\\host.exe"},
        {1251, &latin, std::nullopt},
        {1251, &greek, std::nullopt},
        {1252, &latin, "C:\\B\xFC" "cher\\host.exe"},
        {1252, &cyrillic, std::nullopt},
        {1252, &japanese, std::nullopt},
        {932, &japanese, "C:\\\x83\x65\x83\x8C\x83\x72\\host.exe"},
        {932, &latin, std::nullopt},
        {932, &greek, std::nullopt},   // no accented Greek letters
        {65001, &cyrillic, "C:\\\xD0\xA2\xD0\x92\\host.exe"},
        {65001, &latin, "C:\\B\xC3\xBC" "cher\\host.exe"},
        {65001, &japanese, "C:\\\xE3\x83\x86\xE3\x83\xAC\xE3\x83\x93\\host.exe"},
        {65001, &greek, "C:\\\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1\\host.exe"},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> narrow = NarrowExactly(*c.name, c.codePage);
        EXPECT_EQ(narrow, c.narrow) << "code page " << c.codePage;
        if (narrow) {
            EXPECT_EQ(WidenExactly(*narrow, c.codePage), *c.name) << "code page " << c.codePage;
        }
    }
    // A lone surrogate has no UTF-8 form; bytes that are no UTF-8 no wide one.
    EXPECT_EQ(NarrowExactly(std::wstring(L"C:\\a") + wchar_t(0xD800), 65001), std::nullopt);
    EXPECT_EQ(WidenExactly("C:\\\xC3(", 65001), std::nullopt);
    EXPECT_EQ(NarrowExactly(L"", 65001), std::string());
}

// --- the profile through the DLL ------------------------------------------------

// One host lifetime: load, init, (something while it runs), deinit, unload.
template <class During>
void HostRun(const std::string& dll, During&& during)
{
    const PluginModule plugin(dll);
    ASSERT_TRUE(plugin.Loaded()) << dll;
    plugin->init();
    during();
    plugin->deinit();
}

void HostRun(const std::string& dll)
{
    HostRun(dll, [] {});
}

// --- the file system around the profile ---------------------------------------

// The Unix path Wine gives a Windows path.
std::string UnixPath(const std::string& path)
{
    using Convert = char*(__cdecl*)(const wchar_t*);
    auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert)
        return {};
    std::wstring wide(path.begin(), path.end());
    char* unix = convert(wide.c_str());
    if (!unix)
        return {};
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

// Runs a shell command of the system beneath Wine; its exit code, or -1.
// Wine neither waits for a Unix program nor reports its exit code, so the
// command leaves its code in a file that appears whole when it is done.
int RunShell(const std::string& command)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    static int serial = 0;
    const std::string result =
        std::string(temp) + "horavel-shell-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    DeleteFileA(result.c_str());
    const std::string unix = UnixPath(result);
    if (unix.empty() || RunProgram("/bin/sh -c \"" + command + "; echo $? > '" + unix + ".part' && mv '" + unix +
                                   ".part' '" + unix + "'\"") < 0)
        return -1;
    for (int i = 0; i < 1000 && !Exists(result); ++i)
        Sleep(10);
    const std::string code = ReadWholeFile(result);
    DeleteFileA(result.c_str());
    return code.empty() ? -1 : std::atoi(code.c_str());
}

bool AnyTemporaryBeside(const std::string& profile)
{
    for (const char* suffix : {".new", ".new1", ".new2", ".new3"})
        if (Exists(profile + suffix))
            return true;
    return false;
}

// The profile through the DLL in the private copy of this program (see
// RunsInAPrivateCopy), where the DLL sits beside the copy and the host folder
// is the test's own; skipped elsewhere. The registry switch is removed for
// the test's length.
class PrivateHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!Exists(host + kPrivateMarker))
            GTEST_SKIP() << "runs in the private copy only";
        m_registry.emplace().Remove();
    }

    const std::string host = ProgramFolder();
    const std::string dll = host + "Horavel.dll";
    const std::string folder = host + "Plugins";
    const std::string profile = folder + "\\Horavel.ini";

private:
    std::optional<RegistrySwitch> m_registry;
};

TEST_F(PrivateHost, LifecycleInAPrivateHostFolder)
{
    // First start: no "Plugins" folder, no profile. init makes both, the
    // profile empty; deinit writes the default text.
    HostRun(dll, [&] {
        EXPECT_TRUE(Exists(profile));
        EXPECT_EQ(ReadWholeFile(profile), "");
    });
    EXPECT_EQ(ReadWholeFile(profile), kDefaultProfile);

    // Unchanged: same bytes, same time stamp.
    const FILETIME before = LastWrite(profile);
    Sleep(300);
    HostRun(dll);
    EXPECT_EQ(ReadWholeFile(profile), kDefaultProfile);
    const FILETIME after = LastWrite(profile);
    EXPECT_EQ(CompareFileTime(&before, &after), 0);

    // A profile edited by hand (keys in another order, another opacity, no
    // final line end) is loaded into the live settings and written back in
    // table order; so a save would rewrite it.
    std::string edited = kDefaultProfile;
    edited.replace(edited.find("TextOpacity=60"), 14, "TextOpacity=70");
    edited.erase(edited.find("Format="));
    edited.insert(edited.find("StringPosX"), "FontQuality=0\r\n");
    edited += "Format=%d.%m.%Y";
    std::string expected = kDefaultProfile;
    expected.replace(expected.find("TextOpacity=60"), 14, "TextOpacity=70");
    expected.replace(expected.find("FontQuality=4"), 13, "FontQuality=0");
    expected.replace(expected.find("Format=%H:%M:%S"), 15, "Format=%d.%m.%Y");

    // Read-only: the save fails and the profile stays as it was.
    WriteWholeFile(profile, edited);
    SetFileAttributesA(profile.c_str(), FILE_ATTRIBUTE_READONLY);
    HostRun(dll);
    SetFileAttributesA(profile.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadWholeFile(profile), edited);
    EXPECT_FALSE(Exists(profile + ".new"));

    // Held open by another program without sharing: the same.
    WriteWholeFile(profile, edited);
    HANDLE lock = INVALID_HANDLE_VALUE;
    HostRun(dll, [&] {
        lock = CreateFileA(profile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(lock, INVALID_HANDLE_VALUE);
    });
    CloseHandle(lock);
    EXPECT_EQ(ReadWholeFile(profile), edited);
    EXPECT_FALSE(Exists(profile + ".new"));

    // Held open elsewhere while the plug-in loads: its settings were never
    // read, so they are not overwritten with defaults at the save.
    HANDLE early = CreateFileA(profile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(early, INVALID_HANDLE_VALUE);
    HostRun(dll, [&] { CloseHandle(early); });
    EXPECT_EQ(ReadWholeFile(profile), edited);

    // Writable again: the edited values survive, in table order.
    HostRun(dll);
    EXPECT_EQ(ReadWholeFile(profile), expected);
    EXPECT_FALSE(Exists(profile + ".new"));

    // The module under another name has a profile of that name.
    HostRun(host + "Clock2.dll");
    EXPECT_EQ(ReadWholeFile(host + "Plugins\\Clock2.ini"), kDefaultProfile);
    EXPECT_EQ(ReadWholeFile(profile), expected);
}


void RemoveTree(const std::string& folder);

// The profile as `HostRun` rewrites it from `edited` (another order, another
// opacity, no final line end): a text that every save must write.
struct EditedProfile {
    std::string edited;
    std::string expected;
};

EditedProfile MakeEditedProfile(int opacity)
{
    EditedProfile p;
    p.edited = kDefaultProfile;
    p.edited.replace(p.edited.find("TextOpacity=60"), 14, "TextOpacity=" + std::to_string(opacity));
    p.edited.insert(p.edited.find("StringPosX"), "FontQuality=0\r\n");
    p.edited.erase(p.edited.find("FontQuality=4\r\n"), 15);
    p.expected = kDefaultProfile;
    p.expected.replace(p.expected.find("TextOpacity=60"), 14, "TextOpacity=" + std::to_string(opacity));
    p.expected.replace(p.expected.find("FontQuality=4"), 13, "FontQuality=0");
    return p;
}

TEST_F(PrivateHost, LifecycleSavesKeepWhatTheFileSystemKnows)
{
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_FALSE(UnixPath(profile).empty());

    // A stale ".new" folder (with a file in it) does not block the save; it
    // is not ours to remove, and no other temporary file is left.
    EditedProfile p = MakeEditedProfile(71);
    WriteWholeFile(profile, p.edited);
    ASSERT_TRUE(CreateDirectoryA((profile + ".new").c_str(), nullptr));
    WriteWholeFile(profile + ".new\\inside.txt", "x");
    WriteWholeFile(profile + ".new2", "[COMMON]\r\nhalf a prof");   // left by a killed save
    HostRun(dll);
    EXPECT_EQ(ReadWholeFile(profile), p.expected);
    EXPECT_TRUE(Exists(profile + ".new\\inside.txt"));
    EXPECT_FALSE(Exists(profile + ".new1"));
    EXPECT_FALSE(Exists(profile + ".new2"));
    RemoveTree(profile + ".new");

    // Hidden and system: the attributes survive the swap.
    p = MakeEditedProfile(72);
    WriteWholeFile(profile, p.edited);
    ASSERT_TRUE(SetFileAttributesA(profile.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    HostRun(dll);
    EXPECT_EQ(ReadWholeFile(profile), p.expected);
    const DWORD attributes = GetFileAttributesA(profile.c_str());
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM});
    SetFileAttributesA(profile.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(AnyTemporaryBeside(profile));

    // Readable by the group, not by others (a Unix mode a new file does not
    // get): the mode stays, so does a second hard link to the profile.
    p = MakeEditedProfile(75);
    WriteWholeFile(profile, p.edited);
    const std::string twin = host + "twin.ini";
    ASSERT_EQ(RunShell("chmod 640 '" + UnixPath(profile) + "' && ln '" + UnixPath(profile) + "' '" + UnixPath(twin) + "'"), 0);
    HostRun(dll);
    EXPECT_EQ(ReadWholeFile(profile), p.expected);
    EXPECT_EQ(RunShell("[ $(stat -c %a '" + UnixPath(profile) + "') = 640 ]"), 0) << "the mode was not kept";
    EXPECT_EQ(ReadWholeFile(twin), p.expected) << "the hard link was broken";
    ASSERT_EQ(RunShell("rm -f '" + UnixPath(twin) + "'"), 0);
    // The mode alone, without a second link.
    p = MakeEditedProfile(76);
    WriteWholeFile(profile, p.edited);
    HostRun(dll);
    EXPECT_EQ(ReadWholeFile(profile), p.expected);
    EXPECT_EQ(RunShell("[ $(stat -c %a '" + UnixPath(profile) + "') = 640 ]"), 0) << "the mode was not kept";
    ASSERT_EQ(RunShell("chmod 644 '" + UnixPath(profile) + "'"), 0);
    EXPECT_FALSE(AnyTemporaryBeside(profile));

    // A symbolic link (made on the Unix side, where Wine's links live): the
    // link stays, its target gets the text, no temporary file beside either.
    const std::string elsewhere = host + "elsewhere";
    CreateDirectoryA(elsewhere.c_str(), nullptr);
    const std::string target = elsewhere + "\\real.ini";
    p = MakeEditedProfile(73);
    WriteWholeFile(target, p.edited);
    DeleteFileA(profile.c_str());
    ASSERT_EQ(RunShell("ln -s '" + UnixPath(target) + "' '" + UnixPath(profile) + "'"), 0);
    ASSERT_EQ(ReadWholeFile(profile), p.edited);
    HostRun(dll);
    EXPECT_EQ(RunShell("test -L '" + UnixPath(profile) + "'"), 0) << "the link was replaced by a file";
    EXPECT_EQ(ReadWholeFile(target), p.expected);
    EXPECT_EQ(ReadWholeFile(profile), p.expected);
    EXPECT_FALSE(AnyTemporaryBeside(profile));
    EXPECT_FALSE(AnyTemporaryBeside(target));
    ASSERT_EQ(RunShell("rm -f '" + UnixPath(profile) + "'"), 0);
    RemoveTree(elsewhere);

    // A folder that takes no new file while the profile stays writable: the
    // immutable flag on the folder refuses every new name even to root (file
    // permissions would not), so the temporary file cannot be made and the
    // profile is rewritten in place.
    p = MakeEditedProfile(74);
    WriteWholeFile(profile, p.edited);
    if (RunShell("chattr +i '" + UnixPath(folder) + "'") != 0) {
        ADD_FAILURE() << "chattr +i is refused here: the folder cannot be made to refuse new files";
    } else {
        const bool refuses = !CopyFileA(profile.c_str(), (folder + "\\probe.ini").c_str(), FALSE);
        HostRun(dll);
        RunShell("chattr -i '" + UnixPath(folder) + "'");
        EXPECT_TRUE(refuses) << "the folder still took a new file";
        EXPECT_EQ(ReadWholeFile(profile), p.expected);
        EXPECT_FALSE(AnyTemporaryBeside(profile));
    }
    DeleteFileA((folder + "\\probe.ini").c_str());
}

// The host killed at many moments of a long save: the profile holds the old
// text or the whole new one, and the next `deinit` leaves no temporary file.
TEST_F(PrivateHost, LifecycleKilledDuringTheSave)
{
    CreateDirectoryA(folder.c_str(), nullptr);

    // A format of 8 MB makes the save long enough to be hit.
    const std::string format(8 * 1024 * 1024, 'H');
    const std::string old = "[COMMON]\r\nFormat=" + format + "\r\n";
    std::string whole = kDefaultProfile;
    whole.replace(whole.find("Format=%H:%M:%S"), 15, "Format=" + format);

    int oldSeen = 0, newSeen = 0, strays = 0;
    for (int delay = 0; delay <= 300; delay += 20) {
        WriteWholeFile(profile, old);
        const std::string event = "horavel-save-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(delay);
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        std::string line = '"' + ProgramPath() + "\" --save-after-signal " + event;
        ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
        ASSERT_EQ(WaitForSingleObject(ready, 60000), WAIT_OBJECT_0);
        Sleep(delay);
        TerminateProcess(child.hProcess, 9);
        WaitForSingleObject(child.hProcess, 60000);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
        CloseHandle(ready);

        const std::string after = ReadWholeFile(profile);
        if (after == old)
            ++oldSeen;
        else if (after == whole)
            ++newSeen;
        else
            ADD_FAILURE() << "killed after " << delay << " ms: a torn profile of " << after.size() << " bytes";
        strays += AnyTemporaryBeside(profile) ? 1 : 0;

        // The next session's `deinit` clears what the killed save left.
        HostRun(dll);
        EXPECT_FALSE(AnyTemporaryBeside(profile)) << "after " << delay << " ms";
        EXPECT_EQ(ReadWholeFile(profile), whole);
    }
    std::printf("killed saves: %d left the old profile, %d the new one, %d a temporary file\n", oldSeen, newSeen,
                strays);
    EXPECT_GT(oldSeen, 0);
}

// --- a save killed at each of its file calls ----------------------------------

// The child's side: the DLL's own imports of the kernel32 calls that change
// files lead here; the call numbered g_killAt (counted from the start of
// `deinit`) ends the process before it is made, or, for a write with
// g_halfWrite, after half of its bytes are written.
namespace killed_save {

int g_killAt = 0;
bool g_halfWrite = false;
int g_calls = 0;

struct {
    decltype(&::CreateFileW) createFile;
    decltype(&::WriteFile) writeFile;
    decltype(&::SetFilePointerEx) setFilePointer;
    decltype(&::SetEndOfFile) setEndOfFile;
    decltype(&::FlushFileBuffers) flushFileBuffers;
    decltype(&::MoveFileExW) moveFile;
    decltype(&::ReplaceFileW) replaceFile;
    decltype(&::DeleteFileW) deleteFile;
    decltype(&::SetFileAttributesW) setFileAttributes;
} g_real;

// Exit code 9: killed here; 3: a half write was asked for at a call that
// writes nothing (the same moment as a kill before it).
void KillHereIfDue(bool writes)
{
    if (++g_calls == g_killAt && (writes || !g_halfWrite))
        TerminateProcess(GetCurrentProcess(), 9);
    if (g_calls == g_killAt)
        TerminateProcess(GetCurrentProcess(), 3);
}

HANDLE WINAPI CreateFileHook(LPCWSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g)
{
    KillHereIfDue(false);
    return g_real.createFile(a, b, c, d, e, f, g);
}
BOOL WINAPI WriteFileHook(HANDLE file, LPCVOID data, DWORD size, LPDWORD wrote, LPOVERLAPPED overlapped)
{
    if (g_calls + 1 == g_killAt && g_halfWrite) {
        DWORD half = 0;
        g_real.writeFile(file, data, size / 2, &half, overlapped);
    }
    KillHereIfDue(true);
    return g_real.writeFile(file, data, size, wrote, overlapped);
}
BOOL WINAPI SetFilePointerHook(HANDLE a, LARGE_INTEGER b, PLARGE_INTEGER c, DWORD d)
{
    KillHereIfDue(false);
    return g_real.setFilePointer(a, b, c, d);
}
BOOL WINAPI SetEndOfFileHook(HANDLE a)
{
    KillHereIfDue(false);
    return g_real.setEndOfFile(a);
}
BOOL WINAPI FlushFileBuffersHook(HANDLE a)
{
    KillHereIfDue(false);
    return g_real.flushFileBuffers(a);
}
BOOL WINAPI MoveFileHook(LPCWSTR a, LPCWSTR b, DWORD c)
{
    KillHereIfDue(false);
    return g_real.moveFile(a, b, c);
}
BOOL WINAPI ReplaceFileHook(LPCWSTR a, LPCWSTR b, LPCWSTR c, DWORD d, LPVOID e, LPVOID f)
{
    KillHereIfDue(false);
    return g_real.replaceFile(a, b, c, d, e, f);
}
BOOL WINAPI DeleteFileHook(LPCWSTR a)
{
    KillHereIfDue(false);
    return g_real.deleteFile(a);
}
BOOL WINAPI SetFileAttributesHook(LPCWSTR a, DWORD b)
{
    KillHereIfDue(false);
    return g_real.setFileAttributes(a, b);
}

// Points `module`'s import of kernel32's `name` at `hook`, keeping in `real`
// the function it pointed at (left null when the module does not import it).
template <class Function>
void Redirect(HMODULE module, const char* name, Function hook, Function& real)
{
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), "kernel32.dll") != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* cells = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++cells) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::string(reinterpret_cast<const char*>(byName->Name)) != name)
                continue;
            DWORD protection = 0;
            VirtualProtect(&cells->u1.Function, sizeof cells->u1.Function, PAGE_READWRITE, &protection);
            real = reinterpret_cast<Function>(cells->u1.Function);
            cells->u1.Function = reinterpret_cast<ULONG_PTR>(hook);
            VirtualProtect(&cells->u1.Function, sizeof cells->u1.Function, protection, &protection);
            return;
        }
    }
}

// Loads the DLL beside this program, `init`, then `deinit` with its file
// calls counted from there. 0 when the save ran to its end.
int Run(int killAt, bool halfWrite)
{
    const PluginModule plugin(ProgramFolder() + "Horavel.dll");
    if (!plugin.Loaded())
        return 2;
    plugin->init();
    const HMODULE module = plugin.Handle();
    g_killAt = killAt;
    g_halfWrite = halfWrite;
    Redirect(module, "CreateFileW", &CreateFileHook, g_real.createFile);
    Redirect(module, "WriteFile", &WriteFileHook, g_real.writeFile);
    Redirect(module, "SetFilePointerEx", &SetFilePointerHook, g_real.setFilePointer);
    Redirect(module, "SetEndOfFile", &SetEndOfFileHook, g_real.setEndOfFile);
    Redirect(module, "FlushFileBuffers", &FlushFileBuffersHook, g_real.flushFileBuffers);
    Redirect(module, "MoveFileExW", &MoveFileHook, g_real.moveFile);
    Redirect(module, "ReplaceFileW", &ReplaceFileHook, g_real.replaceFile);
    Redirect(module, "DeleteFileW", &DeleteFileHook, g_real.deleteFile);
    Redirect(module, "SetFileAttributesW", &SetFileAttributesHook, g_real.setFileAttributes);
    if (!g_real.writeFile || !g_real.setEndOfFile)
        return 4;
    plugin->deinit();
    return 0;
}

} // namespace killed_save

// The host killed at each file call of a save that must rewrite the profile
// in place (its Unix mode differs from a new file's; its folder takes no new
// file), and at the middle of each write: loading the profile then gives
// the old text or the new one, never a mix.
TEST_F(PrivateHost, LifecycleKilledAtEachStepOfARewriteInPlace)
{
    CreateDirectoryA(folder.c_str(), nullptr);
    // The old text is longer than the new one, and holds values the new one
    // has not: a mix of the two shows.
    EditedProfile p = MakeEditedProfile(61);
    p.edited += "[OLD]\r\n" + std::string(200, 'o') + "\r\n";

    struct Branch {
        const char* name;
        std::string setUp, tearDown;
    };
    const Branch branches[] = {
        {"Unix mode 0600", "chmod 600 '" + UnixPath(profile) + "'", "chmod 644 '" + UnixPath(profile) + "'"},
        {"folder takes no new file", "chattr +i '" + UnixPath(folder) + "'", "chattr -i '" + UnixPath(folder) + "'"},
    };
    int killPoints = 0, oldSeen = 0, newSeen = 0, torn = 0;
    for (const Branch& branch : branches) {
        WriteWholeFile(profile, p.edited);
        ASSERT_EQ(RunShell(branch.setUp), 0) << branch.name;
        bool ranWhole = false;
        for (int killAt = 1; killAt < 200 && !ranWhole; ++killAt) {
            for (const bool half : {false, true}) {
                WriteWholeFile(profile, p.edited);
                const int code = RunProgram('"' + ProgramPath() + "\" --killed-save " + std::to_string(killAt) + " " +
                                            (half ? "1" : "0"));
                if (code == 0) {
                    ranWhole = true;
                    EXPECT_EQ(ReadWholeFile(profile), p.expected) << branch.name;
                    break;
                }
                if (code != 9) {
                    EXPECT_EQ(code, 3) << branch.name;
                    continue;
                }
                ++killPoints;
                const std::optional<std::string> loaded = Win32ProfileFiles().ReadOrCreate(profile);
                if (loaded == p.edited) {
                    ++oldSeen;
                } else if (loaded == p.expected) {
                    ++newSeen;
                    EXPECT_EQ(ReadWholeFile(profile), p.expected) << "not repaired at the load, " << branch.name;
                } else {
                    ++torn;
                    ADD_FAILURE() << branch.name << ", killed at call " << killAt << (half ? " half-way" : "")
                                  << ": loaded " << (loaded ? loaded->size() : 0) << " bytes";
                }
            }
        }
        EXPECT_TRUE(ranWhole) << branch.name;
        RunShell(branch.tearDown);
    }
    std::printf("rewrites in place killed at %d points: the old profile loaded %d times, the new one %d, torn %d\n",
                killPoints, oldSeen, newSeen, torn);
    EXPECT_EQ(torn, 0);
    EXPECT_GT(oldSeen, 0);
    EXPECT_GT(newSeen, 0);
}

// The profile held open by another program while the plug-in loads, free at
// `deinit`: the value the user changed in the dialog is saved, every other
// value keeps what the profile holds.
TEST_F(PrivateHost, LifecycleUnreadAtInitGetsTheSessionsEdit)
{
    CreateDirectoryA(folder.c_str(), nullptr);

    std::string theirs = kDefaultProfile;
    theirs.replace(theirs.find("TextOpacity=60"), 14, "TextOpacity=12");
    theirs.replace(theirs.find("Format=%H:%M:%S"), 15, "Format=%d.%m.%Y");
    theirs.replace(theirs.find("FontSize=-34"), 12, "FontSize=-50");
    WriteWholeFile(profile, theirs);
    std::string expected = theirs;
    expected.replace(expected.find("BackOpacity=30"), 14, "BackOpacity=45");

    HWND parent = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 320, 240,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    HANDLE early = CreateFileA(profile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(early, INVALID_HANDLE_VALUE);
    {
        const PluginModule plugin(dll);
        ASSERT_TRUE(plugin.Loaded());
        plugin->init();
        CloseHandle(early);
        void* window = parent;
        plugin->settings(&window);
        PumpFor(300);
        HWND dialog = VisibleDialogOfThisThread();
        ASSERT_NE(dialog, nullptr);
        HWND edit = GetDlgItem(dialog, 5099);   // the back opacity field
        ASSERT_NE(edit, nullptr);
        SetFocus(edit);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        for (wchar_t c : std::wstring(L"45")) {
            SendMessageW(edit, WM_CHAR, c, 1);
            PumpFor(60);
        }
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(5002, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, 5002)));
        PumpFor(100);
        plugin->deinit();
    }
    DestroyWindow(parent);
    // The dialog recorded where it stood: only the settings are compared.
    const std::string after = ReadWholeFile(profile);
    EXPECT_EQ(after.substr(after.find("[COMMON]")), expected.substr(expected.find("[COMMON]")));
    EXPECT_FALSE(AnyTemporaryBeside(profile));
}

// The module in a folder deeper than MAX_PATH (Wine starts no program from
// such a folder, so only the module can be put there): its name is still
// worked out whole, and its profile is the host's Plugins\DeepClock.ini.
TEST_F(PrivateHost, LifecycleDeepModuleFolder)
{
    const std::string deep = host + std::string(120, 'd') + "\\" + std::string(150, 'e');
    CreateDirectoryW(Wide(LongPathForm(host + std::string(120, 'd'))).c_str(), nullptr);
    CreateDirectoryW(Wide(LongPathForm(deep)).c_str(), nullptr);
    const std::string module = deep + "\\DeepClock.dll";
    ASSERT_GT(module.size(), static_cast<size_t>(MAX_PATH));
    ASSERT_TRUE(CopyFileW(Wide(host + "Horavel.dll").c_str(), Wide(LongPathForm(module)).c_str(), FALSE));
    {
        const PluginModule plugin(Wide(LongPathForm(module)));
        ASSERT_TRUE(plugin.Loaded()) << GetLastError();
        plugin->init();
        plugin->deinit();
    }
    EXPECT_EQ(ReadWholeFile(host + "Plugins\\DeepClock.ini"), kDefaultProfile);
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    EXPECT_FALSE(Exists(std::string(windows) + "\\Plugins\\DeepClock.ini"));
    DeleteFileW(Wide(LongPathForm(module)).c_str());
    RemoveDirectoryW(Wide(LongPathForm(deep)).c_str());
    RemoveDirectoryW(Wide(LongPathForm(host + std::string(120, 'd'))).c_str());
}

// --- the private copy -------------------------------------------------------------

std::string WindowsPath(std::string path)
{
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;   // a Unix path as Wine maps it
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

bool CopyInto(const std::string& from, const std::string& to)
{
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
}

void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA(LongPathForm(folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string path = folder + "\\" + name;
            SetFileAttributesA(LongPathForm(path).c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(LongPathForm(path).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(LongPathForm(folder).c_str());
}

TEST(ProfileThroughDll, RunsInAPrivateCopy)
{
    const std::string dll = WindowsPath(HORAVEL_DLL_PATH);
    ASSERT_TRUE(Exists(dll)) << dll;
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "horavel-host-" + std::to_string(GetCurrentProcessId());
    // A run cut short may have left a folder of this name (process ids come
    // round again), with Unix links and flags in it that Win32 cannot remove.
    if (Exists(folder))
        RunShell("chattr -R -i '" + UnixPath(folder) + "' 2>/dev/null; rm -rf '" + UnixPath(folder) + "'");
    RemoveTree(folder);
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyInto(ProgramPath(), folder + "\\host.exe"));
    ASSERT_TRUE(CopyInto(dll, folder + "\\Horavel.dll"));
    ASSERT_TRUE(CopyInto(dll, folder + "\\Clock2.dll"));
    WriteWholeFile(folder + "\\" + kPrivateMarker, "");
    const int code = RunProgram("\"" + folder + "\\host.exe\" --gtest_filter=PrivateHost.*", 600000);
    EXPECT_EQ(code, 0);

    // The deep levels are beyond what the ANSI functions reach.
    RunShell("rm -rf '" + UnixPath(folder) + "'");
    RemoveTree(folder);
}

// A host in a folder named in Greek, which the ANSI code page cannot write:
// the profile beside it is still read and saved.
TEST(ProfileThroughDll, HostFolderOutsideTheAnsiCodePage)
{
    RegistrySwitch registry;
    registry.Remove();
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"horavel-Ωμέγα-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_FALSE(NarrowExactly(folder, CP_ACP)) << "the ANSI code page holds Greek letters here";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    CreateDirectoryW((folder + L"\\Plugins").c_str(), nullptr);
    const std::wstring host = folder + L"\\host.exe", dll = folder + L"\\Horavel.dll";
    const std::wstring profile = folder + L"\\Plugins\\Horavel.ini";
    ASSERT_TRUE(CopyFileW(Wide(ProgramPath()).c_str(), host.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(Wide(WindowsPath(HORAVEL_DLL_PATH)).c_str(), dll.c_str(), FALSE));
    const EditedProfile p = MakeEditedProfile(77);
    ASSERT_TRUE(WriteWholeFile(profile, p.edited));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    std::wstring line = L"\"" + host + L"\" --init-deinit";
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
    WaitForSingleObject(child.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    EXPECT_EQ(code, 0u);
    // Read (opacity 77 kept) and written back in table order.
    EXPECT_EQ(ReadWholeFile(profile), p.expected);

    for (const wchar_t* name : {L"\\Plugins\\Horavel.ini", L"\\host.exe", L"\\Horavel.dll"})
        DeleteFileW((folder + name).c_str());
    RemoveDirectoryW((folder + L"\\Plugins").c_str());
    RemoveDirectoryW(folder.c_str());
}

} // namespace
} // namespace horavel

int main(int argc, char** argv)
{
    // Child mode: `deinit` killed at the file call numbered argv[2] (argv[3]
    // 1: half-way through that call's write).
    if (argc >= 4 && std::string(argv[1]) == "--killed-save")
        return horavel::killed_save::Run(std::atoi(argv[2]), std::atoi(argv[3]) != 0);
    // Child mode: `init` and `deinit` of the DLL beside this program, whatever
    // its folder is named.
    if (argc >= 2 && std::string(argv[1]) == "--init-deinit") {
        const horavel::testing::PluginModule plugin;
        if (!plugin.Loaded())
            return 2;
        plugin->init();
        plugin->deinit();
        return 0;
    }
    // Child mode: write the location worked out here to the file named.
    if (argc >= 3 && std::string(argv[1]) == "--report-location") {
        auto location = horavel::BuildProfilePath(L"Horavel");
        return horavel::testing::WriteWholeFile(std::string(argv[2]), location ? location->path : "<none>") ? 0 : 1;
    }
    // Child mode: load the DLL beside this program, init, signal the event
    // named, deinit (the parent kills this process somewhere in it).
    if (argc >= 3 && std::string(argv[1]) == "--save-after-signal") {
        const horavel::testing::PluginModule plugin(horavel::testing::ProgramFolder() + "Horavel.dll");
        if (!plugin.Loaded())
            return 2;
        plugin->init();
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
        SetEvent(ready);
        plugin->deinit();
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
