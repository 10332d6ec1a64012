#include "framework/application.h"

#include "framework/module_state.h"

namespace horavel::framework {

namespace {
Application* g_application = nullptr;
}

Application::Application(const wchar_t* appName) : m_explicitName(appName ? appName : L"")
{
    g_application = this;
}

Application::~Application()
{
    if (g_application == this)
        g_application = nullptr;
}

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

Application* CurrentApplication() { return g_application; }

} // namespace horavel::framework
