#include "settings/profile_settings.h"

#include "settings/settings_persistence.h"
#include "settings/win32_profile_files.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>

namespace horavel {

namespace {

// The platform id, from the extended version record first and the basic one
// when that is refused; nullopt when both are.
std::optional<uint32_t> PlatformId()
{
    OSVERSIONINFOEXA extended;
    std::memset(&extended, 0, sizeof extended);
    extended.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);   // 156
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended)))
        return extended.dwPlatformId;
    OSVERSIONINFOA basic;
    std::memset(&basic, 0, sizeof basic);
    basic.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);        // 148
    if (GetVersionExA(&basic))
        return basic.dwPlatformId;
    return std::nullopt;
}

// The host's "StoreInUsersFolder" switch as 4 raw bytes, whatever its type;
// 0 when the key or value is missing or unreadable.
uint32_t StoreInUsersFolder()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norvale", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, "StoreInUsersFolder", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
        ERROR_SUCCESS)
        value = 0;
    RegCloseKey(key);
    return value;
}

// The host program's full file name in the ANSI code page, however long;
// empty when it cannot be had whole (a cut name would give another folder)
// or has no ANSI form.
std::string HostProgramPath()
{
    std::wstring wide(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, wide.data(), static_cast<DWORD>(wide.size()));
        if (n == 0)
            return {};
        if (n < wide.size()) {
            wide.resize(n);
            break;
        }
        if (wide.size() >= 32768)
            return {};
        wide.resize(wide.size() * 2);
    }
    BOOL lossy = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, &lossy);
    if (length <= 0 || lossy)
        return {};
    std::string ansi(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(), length, nullptr,
                        nullptr);
    return ansi;
}

// The last level of the profile folder, beyond MAX_PATH too.
void CreateProfileFolder(const std::string& folder)
{
    const std::string longForm = LongPathForm(folder);
    const int n = MultiByteToWideChar(CP_ACP, 0, longForm.data(), static_cast<int>(longForm.size()), nullptr, 0);
    if (n <= 0)
        return;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, longForm.data(), static_cast<int>(longForm.size()), wide.data(), n);
    CreateDirectoryW(wide.c_str(), nullptr);
}

} // namespace

std::string LongPathForm(const std::string& path)
{
    if (path.size() < MAX_PATH - 12 || path.rfind("\\\\?\\", 0) == 0)
        return path;
    if (path.size() > 2 && path[1] == ':' && path[2] == '\\')
        return "\\\\?\\" + path;
    if (path.rfind("\\\\", 0) == 0)
        return "\\\\?\\UNC\\" + path.substr(2);
    return path;
}

std::optional<ProfileInputs> GatherProfileInputs(const std::string& moduleName)
{
    const std::optional<uint32_t> platform = PlatformId();
    if (!platform)
        return std::nullopt;
    ProfileInputs inputs;
    inputs.platformId = *platform;
    inputs.storeInUsersFolder = StoreInUsersFolder();
    char buffer[MAX_PATH + 1] = {};
    if (UsesUsersFolder(inputs.platformId, inputs.storeInUsersFolder)) {
        if (SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_APPDATA, FALSE))
            inputs.appDataFolder = buffer;
    } else {
        inputs.hostProgramPath = HostProgramPath();
    }
    if (const char* line = GetCommandLineA())
        inputs.commandLine = line;
    inputs.moduleName = moduleName;
    return inputs;
}

std::optional<ProfileLocation> BuildProfilePath(const std::string& moduleName)
{
    const std::optional<ProfileInputs> inputs = GatherProfileInputs(moduleName);
    if (!inputs)
        return std::nullopt;
    std::optional<ProfileLocation> location = BuildProfileLocation(*inputs);
    if (location)
        CreateProfileFolder(location->folder);   // usually exists already
    return location;
}

void LoadSettings(SettingsStore& store, const std::string& moduleName)
{
    try {
        Win32ProfileFiles files;
        LoadSettingsFromProfile(store, files, BuildProfilePath(moduleName));
    } catch (...) {
        // Out of memory half-way: make sure the store still holds settings.
        if (store.Records().empty())
            LoadTableDefaults(store);
    }
}

void SaveSettings(SettingsStore& store)
{
    try {
        Win32ProfileFiles files;
        SaveSettingsToProfile(store, files);
    } catch (...) {
    }
}

} // namespace horavel
