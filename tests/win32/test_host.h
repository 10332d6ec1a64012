// What the Windows test programs share: the folder they run from, whole-file
// reading and writing, the profile of an instance folder, and the plug-in
// loaded as a host loads it.
#pragma once

#include "core/plugin_record.h"

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace horavel::testing {

// The running program's path, and its folder with a trailing backslash
// (narrow, or wide for folders the ANSI code page cannot name).
inline std::string ProgramPath()
{
    std::string path(32768, '\0');
    path.resize(GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

inline std::string ProgramFolder()
{
    const std::string path = ProgramPath();
    return path.substr(0, path.find_last_of('\\') + 1);
}

inline std::wstring ProgramFolderW()
{
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

// Whole files by a narrow or a wide path (std::string or std::wstring).
template <class Path>
std::string ReadWholeFile(const Path& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// True when every byte was written.
template <class Path>
bool WriteWholeFile(const Path& path, const std::string& bytes)
{
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    return !out.fail();
}

// Whether the program was started with "-inst:<instance>", which gives the
// DLL beside it the profile folder Instances\<instance>\Plugins\.
inline bool StartedWithInstance(char instance)
{
    return std::string(GetCommandLineA()).find(std::string("-inst:") + instance) != std::string::npos;
}

// The profile the DLL beside this program uses when the program was started
// with "-inst:<instance>" (a folder of its own per test program), with its
// folders made.
inline std::string InstanceProfilePath(char instance)
{
    std::string folder = ProgramFolder() + "Instances";
    CreateDirectoryA(folder.c_str(), nullptr);
    folder += std::string("\\") + instance;
    CreateDirectoryA(folder.c_str(), nullptr);
    folder += "\\Plugins";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\Horavel.ini";
}

// Runs this thread's messages for `milliseconds` (once at least), as the
// host's message loop would while the plug-in's dialog is open.
inline void PumpFor(DWORD milliseconds)
{
    const DWORD end = GetTickCount() + milliseconds;
    MSG msg;
    do {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

inline BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM out)
{
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    if (std::wstring(name) == L"#32770" && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(out) = window;
        return FALSE;
    }
    return TRUE;
}

// A visible dialog of this thread (the plug-in's settings), or null.
inline HWND VisibleDialogOfThisThread()
{
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindVisibleDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Horavel.dll (or another plug-in) loaded as a host loads it, by a narrow or
// a wide path, and freed when the object goes.
class PluginModule {
public:
    explicit PluginModule(const std::wstring& path = ProgramFolderW() + L"Horavel.dll")
        : PluginModule(LoadLibraryW(path.c_str()))
    {
    }
    explicit PluginModule(const std::string& path) : PluginModule(LoadLibraryA(path.c_str())) {}
    ~PluginModule()
    {
        if (m_module)
            FreeLibrary(m_module);
    }
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    // Loaded, and its record found.
    bool Loaded() const { return m_record != nullptr; }
    HMODULE Handle() const { return m_module; }
    const PluginRecord* Record() const { return m_record; }
    const PluginRecord* operator->() const { return m_record; }

private:
    explicit PluginModule(HMODULE module) : m_module(module)
    {
        if (!m_module)
            return;
        auto get = reinterpret_cast<RecordExport>(
            reinterpret_cast<void*>(GetProcAddress(m_module, kRecordExportName)));
        m_record = get ? get() : nullptr;
    }

    HMODULE m_module;
    const PluginRecord* m_record = nullptr;
};

} // namespace horavel::testing
