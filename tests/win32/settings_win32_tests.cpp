// The profile on Windows: its location with the real registry, real folders
// and real command lines, and its life through Horavel.dll's init and deinit.
//
// The program runs some cases in copies of itself: a child started with
// "-inst:" or "/inst:" on its command line reports the location it works out,
// and the DLL cases run in a copy placed in a fresh folder, so that the host
// folder (and with it the profile) belongs to this test alone.
#include "core/plugin_record.h"
#include "settings/profile_settings.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <fstream>
#include <sstream>
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

std::string ProgramPath()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::string FolderOf(const std::string& path)
{
    return path.substr(0, path.find_last_of('\\') + 1);
}

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

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void Spit(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

FILETIME LastWrite(const std::string& path)
{
    FILETIME time{};
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        time = data.ftLastWriteTime;
    return time;
}

// Runs `commandLine` and waits for it; the exit code, or -1.
int RunProgram(const std::string& commandLine)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, 120000);
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
    const std::string path = Slurp(report);
    DeleteFileA(report.c_str());
    return path;
}

std::string LocationHere()
{
    auto location = BuildProfilePath("Horavel");
    return location ? location->path : "<none>";
}

TEST(ProfileLocationWin32, PathTableWithTheRealRegistryAndCommandLines)
{
    RegistrySwitch registry;
    const std::string host = FolderOf(ProgramPath());
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
    auto inputs = GatherProfileInputs("Horavel");
    ASSERT_TRUE(inputs);
    EXPECT_EQ(inputs->platformId, 2u);
    EXPECT_EQ(inputs->commandLine, GetCommandLineA());
    EXPECT_EQ(inputs->moduleName, "Horavel");
}

// --- the profile through the DLL ------------------------------------------------

// Loads the plug-in from a path and drives init and deinit like a host.
class Plugin {
public:
    explicit Plugin(const std::string& path) : m_module(LoadLibraryA(path.c_str()))
    {
        if (!m_module)
            return;
        auto get = reinterpret_cast<RecordExport>(reinterpret_cast<void*>(GetProcAddress(m_module, kRecordExportName)));
        m_record = get ? get() : nullptr;
    }
    ~Plugin()
    {
        if (m_module)
            FreeLibrary(m_module);
    }
    bool Loaded() const { return m_record != nullptr; }
    void Init() { m_record->init(); }
    void Deinit() { m_record->deinit(); }

private:
    HMODULE m_module;
    const PluginRecord* m_record = nullptr;
};

// One host lifetime: load, init, (something while it runs), deinit, unload.
template <class During>
void HostRun(const std::string& dll, During&& during)
{
    Plugin plugin(dll);
    ASSERT_TRUE(plugin.Loaded()) << dll;
    plugin.Init();
    during();
    plugin.Deinit();
}

void HostRun(const std::string& dll)
{
    HostRun(dll, [] {});
}

// Runs only in the private copy (see main): the DLL sits beside the copy.
TEST(ProfileThroughDll, LifecycleInAPrivateHostFolder)
{
    const std::string host = FolderOf(ProgramPath());
    const std::string dll = host + "Horavel.dll";
    const std::string profile = host + "Plugins\\Horavel.ini";
    if (!Exists(host + kPrivateMarker))
        GTEST_SKIP() << "runs in the private copy only";
    RegistrySwitch registry;
    registry.Remove();

    // First start: no "Plugins" folder, no profile. init makes both, the
    // profile empty; deinit writes the default text.
    HostRun(dll, [&] {
        EXPECT_TRUE(Exists(profile));
        EXPECT_EQ(Slurp(profile), "");
    });
    EXPECT_EQ(Slurp(profile), kDefaultProfile);

    // Unchanged: same bytes, same time stamp.
    const FILETIME before = LastWrite(profile);
    Sleep(300);
    HostRun(dll);
    EXPECT_EQ(Slurp(profile), kDefaultProfile);
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
    Spit(profile, edited);
    SetFileAttributesA(profile.c_str(), FILE_ATTRIBUTE_READONLY);
    HostRun(dll);
    SetFileAttributesA(profile.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Slurp(profile), edited);
    EXPECT_FALSE(Exists(profile + ".new"));

    // Held open by another program without sharing: the same.
    Spit(profile, edited);
    HANDLE lock = INVALID_HANDLE_VALUE;
    HostRun(dll, [&] {
        lock = CreateFileA(profile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(lock, INVALID_HANDLE_VALUE);
    });
    CloseHandle(lock);
    EXPECT_EQ(Slurp(profile), edited);
    EXPECT_FALSE(Exists(profile + ".new"));

    // Held open elsewhere while the plug-in loads: its settings were never
    // read, so they are not overwritten with defaults at the save.
    HANDLE early = CreateFileA(profile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(early, INVALID_HANDLE_VALUE);
    {
        Plugin plugin(dll);
        ASSERT_TRUE(plugin.Loaded());
        plugin.Init();
        CloseHandle(early);
        plugin.Deinit();
    }
    EXPECT_EQ(Slurp(profile), edited);

    // Writable again: the edited values survive, in table order.
    HostRun(dll);
    EXPECT_EQ(Slurp(profile), expected);
    EXPECT_FALSE(Exists(profile + ".new"));

    // The module under another name has a profile of that name.
    HostRun(host + "Clock2.dll");
    EXPECT_EQ(Slurp(host + "Plugins\\Clock2.ini"), kDefaultProfile);
    EXPECT_EQ(Slurp(profile), expected);
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
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string path = folder + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

TEST(ProfileThroughDll, RunsInAPrivateCopy)
{
    const std::string dll = WindowsPath(HORAVEL_DLL_PATH);
    ASSERT_TRUE(Exists(dll)) << dll;
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "horavel-host-" + std::to_string(GetCurrentProcessId());
    RemoveTree(folder);
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyInto(ProgramPath(), folder + "\\host.exe"));
    ASSERT_TRUE(CopyInto(dll, folder + "\\Horavel.dll"));
    ASSERT_TRUE(CopyInto(dll, folder + "\\Clock2.dll"));
    Spit(folder + "\\" + kPrivateMarker, "");
    const int code = RunProgram("\"" + folder + "\\host.exe\" --gtest_filter=ProfileThroughDll.Lifecycle*");
    EXPECT_EQ(code, 0);
    RemoveTree(folder);
}

} // namespace
} // namespace horavel

int main(int argc, char** argv)
{
    // Child mode: write the location worked out here to the file named.
    if (argc >= 3 && std::string(argv[1]) == "--report-location") {
        auto location = horavel::BuildProfilePath("Horavel");
        std::ofstream out(argv[2], std::ios::binary);
        out << (location ? location->path : "<none>");
        return out ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
