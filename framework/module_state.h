// Module state: which module's resources and name the framework works with,
// and the scoped guard that every entry point from the host switches it with.
#pragma once

#include <windows.h>

#include <string>

namespace horavel::framework {

// What the framework needs to know about the module it serves.
struct ModuleState {
    HINSTANCE instance = nullptr;   // the module's handle
    HINSTANCE resources = nullptr;  // where dialogs, menus and bitmaps are loaded from
    std::wstring appName;           // the module's file name without folder and extension
};

// The state of the module this code is linked into; filled by InitModuleState
// at DLL (or program) start-up.
ModuleState& StaticModuleState();
void InitModuleState(HINSTANCE instance);

// The module state in force on the calling thread (the static one when no
// guard is active).
ModuleState& CurrentModuleState();

// Switches the calling thread's module state for the guard's lifetime and
// restores the previous one however the scope is left.
class ModuleStateGuard {
public:
    explicit ModuleStateGuard(ModuleState& state);
    ~ModuleStateGuard();
    ModuleStateGuard(const ModuleStateGuard&) = delete;
    ModuleStateGuard& operator=(const ModuleStateGuard&) = delete;

private:
    ModuleState* m_previous;
};

// Shorthands in the current module state.
inline HINSTANCE ResourceHandle() { return CurrentModuleState().resources; }
inline const std::wstring& AppName() { return CurrentModuleState().appName; }

} // namespace horavel::framework
