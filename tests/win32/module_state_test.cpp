// The scoped module-state switch that every callback runs under.
#include "framework/module_state.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>
#include <thread>

namespace horavel::framework {
namespace {

TEST(ModuleStateGuard, RestoresOnEveryWayOut)
{
    ModuleState plugin;
    plugin.appName = L"plugin";
    ModuleState& before = CurrentModuleState();

    {
        ModuleStateGuard guard(plugin);
        EXPECT_EQ(&CurrentModuleState(), &plugin);
        EXPECT_EQ(AppName(), L"plugin");
        ModuleState inner;
        {
            ModuleStateGuard nested(inner);
            EXPECT_EQ(&CurrentModuleState(), &inner);
        }
        EXPECT_EQ(&CurrentModuleState(), &plugin);
    }
    EXPECT_EQ(&CurrentModuleState(), &before);

    // An exception passing through the guarded scope.
    try {
        ModuleStateGuard guard(plugin);
        throw std::runtime_error("out");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(&CurrentModuleState(), &before);

    // The switch belongs to the calling thread only.
    ModuleStateGuard guard(plugin);
    ModuleState* seenElsewhere = nullptr;
    std::thread([&] { seenElsewhere = &CurrentModuleState(); }).join();
    EXPECT_EQ(seenElsewhere, &StaticModuleState());
}

TEST(ModuleStateGuard, SwitchLivesInTheSystemsTlsSlotAndKeepsTheLastError)
{
    // The switch writes the thread block directly; the system's own
    // accessors must see the same slot.
    const DWORD index = ModuleStateTlsIndex();
    ASSERT_NE(index, TLS_OUT_OF_INDEXES);
    ModuleState plugin;
    {
        SetLastError(1234);
        ModuleStateGuard guard(plugin);
        EXPECT_EQ(GetLastError(), 1234u);  // the host's last error is not reset
        EXPECT_EQ(TlsGetValue(index), &plugin);
        ModuleState other;
        TlsSetValue(index, &other);
        EXPECT_EQ(&CurrentModuleState(), &other);
        TlsSetValue(index, &plugin);
    }
    EXPECT_EQ(TlsGetValue(index), nullptr);
    EXPECT_EQ(&CurrentModuleState(), &StaticModuleState());
}

} // namespace
} // namespace horavel::framework
