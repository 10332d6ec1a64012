// The DLL's two exports, its static plug-in record, its application object
// and its entry point.

#include "plugin/plugin_app.h"
#include "plugin/plugin_callbacks.h"
#include "framework/module_state.h"

#include <windows.h>

namespace horavel {

namespace {

// "OSD-часы" and "OSD-часы." in code page 1251.
constexpr char kPluginName[] = "OSD-\xF7\xE0\xF1\xFB";
constexpr char kPluginDescription[] = "OSD-\xF7\xE0\xF1\xFB.";

const PluginRecord kPluginRecord = {
    kPluginName, kPluginDescription, PluginInit,     PluginStart,
    PluginProcess, PluginStop,       PluginSettings, PluginDeinit,
};

static_assert(sizeof(void*) != 4 || sizeof(PluginRecord) == 32, "the record is eight 32-bit words");
static_assert(sizeof(void*) != 4 || sizeof(FrameDescriptor) == 20, "five 32-bit words");

PluginApp g_app;

} // namespace

PluginApp& ThePluginApp() { return g_app; }

std::wstring ModuleExeName()
{
    return g_app.Name();
}

} // namespace horavel

extern "C" {

__declspec(noinline) int32_t __cdecl Norvale_Plugin_Version() { return horavel::kPluginInterfaceVersion; }

__declspec(noinline) const horavel::PluginRecord* __cdecl Norvale_Plugin_PR() { return &horavel::kPluginRecord; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        horavel::framework::InitModuleState(instance);
        horavel::ThePluginApp().InitInstance();
    }
    return TRUE;
}

} // extern "C"
