// Menus: an owner of a menu handle loaded from the module's resources, and a
// non-owning view of its popups.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace horavel::framework {

class CMenu {
public:
    CMenu() = default;
    explicit CMenu(HMENU menu) : m_hMenu(menu) {}
    ~CMenu();
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;


    // Loads a menu resource of the current module; the menu is then owned
    // and destroyed by DestroyMenu.
    bool LoadMenu(int resourceId);
    void DestroyMenu();

    // The popup at a position, as a non-owning view.
    CMenu* GetSubMenu(int position);

    // Text of the item with that command id; empty when there is none.
    std::wstring GetMenuStringByCommand(UINT id) const;
    bool HasCommand(UINT id) const;
    BOOL TrackPopupMenu(UINT flags, int x, int y, HWND owner) const
    {
        return ::TrackPopupMenu(m_hMenu, flags, x, y, 0, owner, nullptr);
    }

private:
    HMENU m_hMenu = nullptr;
    // The view of the first popup; menus here have one popup only.
    std::unique_ptr<CMenu> m_subMenu;
    bool m_owned = false;
};

} // namespace horavel::framework
