#include "framework/application.h"

#include "framework/module_state.h"

namespace horavel::framework {

Application::Application(const wchar_t* appName) : m_explicitName(appName ? appName : L"") {}

bool Application::InitInstance()
{
    if (!m_explicitName.empty())
        StaticModuleState().appName = m_explicitName;
    return true;
}

const std::wstring& Application::Name() const
{
    return m_explicitName.empty() ? StaticModuleState().appName : m_explicitName;
}

} // namespace horavel::framework
