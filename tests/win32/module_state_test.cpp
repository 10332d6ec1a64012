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

TEST(ModuleStateGuard, KeepsTheHostsLastError)
{
    ModuleState plugin;
    SetLastError(1234);
    {
        ModuleStateGuard guard(plugin);
        EXPECT_EQ(GetLastError(), 1234u);
        EXPECT_EQ(&CurrentModuleState(), &plugin);
        EXPECT_EQ(GetLastError(), 1234u);
    }
    EXPECT_EQ(GetLastError(), 1234u);
}

} // namespace
} // namespace horavel::framework
