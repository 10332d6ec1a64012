#include "host/plugin_host.h"

namespace norvale {

namespace {

template <class Function>
Function Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

LoadedPlugin::~LoadedPlugin() { Unload(); }

std::string LoadedPlugin::Load(const std::string& path)
{
    m_module = LoadLibraryA(path.c_str());
    if (!m_module)
        return "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    auto version = Export<horavel::VersionExport>(m_module, horavel::kVersionExportName);
    auto record = Export<horavel::RecordExport>(m_module, horavel::kRecordExportName);
    if (!version || !record)
        return path + " is not a plug-in: it lacks " + horavel::kVersionExportName + " or " + horavel::kRecordExportName;
    m_version = version();
    if (m_version != horavel::kPluginInterfaceVersion)
        return path + " follows interface version " + std::to_string(m_version) + ", this host speaks " +
               std::to_string(horavel::kPluginInterfaceVersion);
    m_record = record();
    if (!m_record || !m_record->init || !m_record->start || !m_record->process || !m_record->stop ||
        !m_record->settings || !m_record->deinit)
        return path + " returned an incomplete plug-in record";
    return {};
}

void LoadedPlugin::Unload()
{
    if (m_module)
        FreeLibrary(m_module);
    m_module = nullptr;
    m_record = nullptr;
}

} // namespace norvale
