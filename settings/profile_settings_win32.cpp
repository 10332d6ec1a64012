#include "settings/profile_settings.h"

#include "settings/settings_persistence.h"
#include "settings/win32_profile_files.h"

#include <windows.h>
#include <shlobj.h>

#include <climits>
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

// The host program's full file name, however long; empty when it cannot be
// had whole (a cut name would give another folder).
std::wstring HostProgramPath()
{
    std::wstring wide(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, wide.data(), static_cast<DWORD>(wide.size()));
        if (n == 0)
            return {};
        if (n < wide.size()) {
            wide.resize(n);
            return wide;
        }
        if (wide.size() >= 32768)
            return {};
        wide.resize(wide.size() * 2);
    }
}

// The last level of the profile folder, beyond MAX_PATH too.
void CreateProfileFolder(const std::string& folder, uint32_t codePage)
{
    if (const std::optional<std::wstring> wide = WidenExactly(LongPathForm(folder), codePage))
        CreateDirectoryW(wide->c_str(), nullptr);
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

std::optional<std::string> NarrowExactly(std::wstring_view wide, uint32_t codePage)
{
    if (wide.empty())
        return std::string();
    if (wide.size() > INT_MAX)
        return std::nullopt;
    // No flags and no used-default pointer: UTF-8 (and a few other code
    // pages) refuse the call with either. Whether every character had a
    // form is told by the way back instead, for every code page alike.
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::nullopt;
    std::string narrow(static_cast<size_t>(n), '\0');
    if (WideCharToMultiByte(codePage, 0, wide.data(), size, narrow.data(), n, nullptr, nullptr) != n)
        return std::nullopt;
    const std::optional<std::wstring> back = WidenExactly(narrow, codePage);
    if (!back || *back != wide)
        return std::nullopt;
    return narrow;
}

std::optional<std::wstring> WidenExactly(std::string_view narrow, uint32_t codePage)
{
    if (narrow.empty())
        return std::wstring();
    if (narrow.size() > INT_MAX)
        return std::nullopt;
    const int size = static_cast<int>(narrow.size());
    const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, narrow.data(), size, nullptr, 0);
    if (n <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, narrow.data(), size, wide.data(), n) != n)
        return std::nullopt;
    return wide;
}

std::optional<ProfileInputs> GatherProfileInputs(const std::wstring& moduleName)
{
    const std::optional<uint32_t> platform = PlatformId();
    if (!platform)
        return std::nullopt;
    ProfileInputs inputs;
    inputs.platformId = *platform;
    inputs.storeInUsersFolder = StoreInUsersFolder();
    std::wstring appData, hostPath;
    if (UsesUsersFolder(inputs.platformId, inputs.storeInUsersFolder)) {
        wchar_t buffer[MAX_PATH + 1] = {};
        if (SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_APPDATA, FALSE))
            appData = buffer;
    } else {
        hostPath = HostProgramPath();
    }
    // The names in the ANSI code page, as the host's own texts are; where
    // one has no form there (a folder named in another script, or any name
    // outside ASCII under some code pages) all of them in UTF-8, and the
    // files are then opened by their wide names.
    for (const uint32_t codePage : {uint32_t{CP_ACP}, uint32_t{CP_UTF8}}) {
        std::optional<std::string> folder = NarrowExactly(appData, codePage);
        std::optional<std::string> program = NarrowExactly(hostPath, codePage);
        std::optional<std::string> module = NarrowExactly(moduleName, codePage);
        if (!folder || !program || !module)
            continue;
        inputs.appDataFolder = std::move(*folder);
        inputs.hostProgramPath = std::move(*program);
        inputs.moduleName = std::move(*module);
        inputs.codePage = codePage;
        if (codePage == CP_ACP) {
            if (const char* line = GetCommandLineA())
                inputs.commandLine = line;
        } else if (const wchar_t* line = GetCommandLineW()) {
            inputs.commandLine = NarrowExactly(line, CP_UTF8).value_or(std::string());
        }
        return inputs;
    }
    // Not even UTF-8 holds them (a lone surrogate): no location.
    return inputs;
}

std::optional<ProfileLocation> BuildProfilePath(const std::wstring& moduleName)
{
    const std::optional<ProfileInputs> inputs = GatherProfileInputs(moduleName);
    if (!inputs)
        return std::nullopt;
    std::optional<ProfileLocation> location = BuildProfileLocation(*inputs);
    if (location)
        CreateProfileFolder(location->folder, location->codePage);   // usually exists already
    return location;
}

void LoadSettings(SettingsStore& store, const std::wstring& moduleName)
{
    try {
        const std::optional<ProfileLocation> location = BuildProfilePath(moduleName);
        Win32ProfileFiles files(location ? location->codePage : store.Profile().codePage);
        LoadSettingsFromProfile(store, files, location);
    } catch (...) {
        // Out of memory half-way: make sure the store still holds settings.
        if (store.Records().empty())
            LoadTableDefaults(store);
    }
}

void SaveSettings(SettingsStore& store)
{
    try {
        Win32ProfileFiles files(store.Profile().codePage);
        SaveSettingsToProfile(store, files);
    } catch (...) {
    }
}

} // namespace horavel
