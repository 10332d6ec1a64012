#include "framework/menu.h"

#include "framework/module_state.h"

#include <vector>

namespace horavel::framework {

CMenu::~CMenu()
{
    DestroyMenu();
}

bool CMenu::LoadMenu(int resourceId)
{
    DestroyMenu();
    m_hMenu = ::LoadMenuW(ResourceHandle(), MAKEINTRESOURCEW(resourceId));
    m_owned = m_hMenu != nullptr;
    return m_owned;
}

void CMenu::DestroyMenu()
{
    if (m_hMenu && m_owned)
        ::DestroyMenu(m_hMenu);
    m_hMenu = nullptr;
    m_owned = false;
    if (m_subMenu)
        m_subMenu->m_hMenu = nullptr;
}

CMenu* CMenu::GetSubMenu(int position)
{
    HMENU popup = ::GetSubMenu(m_hMenu, position);
    if (!popup)
        return nullptr;
    if (!m_subMenu)
        m_subMenu = std::make_unique<CMenu>();
    m_subMenu->m_hMenu = popup;
    m_subMenu->m_owned = false;
    return m_subMenu.get();
}

std::wstring CMenu::GetMenuStringByCommand(UINT id) const
{
    const int length = ::GetMenuStringW(m_hMenu, id, nullptr, 0, MF_BYCOMMAND);
    if (length <= 0)
        return {};
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int got = ::GetMenuStringW(m_hMenu, id, buffer.data(), length + 1, MF_BYCOMMAND);
    return std::wstring(buffer.data(), got > 0 ? got : 0);
}

bool CMenu::HasCommand(UINT id) const
{
    return m_hMenu && ::GetMenuState(m_hMenu, id, MF_BYCOMMAND) != static_cast<UINT>(-1);
}

} // namespace horavel::framework
