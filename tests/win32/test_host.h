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

// The running program's folder, with a trailing backslash.
inline std::string ProgramFolder()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

inline std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
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

// Horavel.dll (or another plug-in) loaded as a host loads it, and freed when
// the object goes.
class PluginModule {
public:
    explicit PluginModule(const std::string& path = ProgramFolder() + "Horavel.dll")
        : m_module(LoadLibraryA(path.c_str()))
    {
        if (!m_module)
            return;
        auto get = reinterpret_cast<RecordExport>(
            reinterpret_cast<void*>(GetProcAddress(m_module, kRecordExportName)));
        m_record = get ? get() : nullptr;
    }
    ~PluginModule()
    {
        if (m_module)
            FreeLibrary(m_module);
    }
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    bool Loaded() const { return m_record != nullptr; }
    HMODULE Handle() const { return m_module; }
    const PluginRecord* operator->() const { return m_record; }

private:
    HMODULE m_module;
    const PluginRecord* m_record = nullptr;
};

} // namespace horavel::testing
