// Loading a plug-in DLL and calling it the way the TV application does.
#pragma once

#include "core/plugin_record.h"

#include <windows.h>

#include <string>

namespace norvale {

class LoadedPlugin {
public:
    ~LoadedPlugin();
    // Loads the DLL, checks the interface version and reads the record.
    // Error message, empty on success.
    std::string Load(const std::string& path);
    void Unload();

    const horavel::PluginRecord& Record() const { return *m_record; }
    int Version() const { return m_version; }

private:
    HMODULE m_module = nullptr;
    const horavel::PluginRecord* m_record = nullptr;
    int m_version = 0;
};

} // namespace norvale
