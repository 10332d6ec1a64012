#include "framework/module_state.h"

namespace horavel::framework {

namespace {

ModuleState g_staticState;
thread_local ModuleState* t_current = nullptr;

std::wstring BaseNameWithoutExtension(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos)
        name.erase(dot);
    return name;
}

} // namespace

ModuleState& StaticModuleState() { return g_staticState; }

void InitModuleState(HINSTANCE instance)
{
    g_staticState.instance = instance;
    g_staticState.resources = instance;
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
    g_staticState.appName = BaseNameWithoutExtension(std::wstring(path, n));
}

ModuleState& CurrentModuleState() { return t_current ? *t_current : g_staticState; }

ModuleStateGuard::ModuleStateGuard(ModuleState& state) : m_previous(t_current) { t_current = &state; }

ModuleStateGuard::~ModuleStateGuard() { t_current = m_previous; }

} // namespace horavel::framework
