#include "settings/profile_location.h"

#include <gtest/gtest.h>

namespace horavel {
namespace {

ProfileInputs Inputs(uint32_t platform, uint32_t perUser, std::string commandLine)
{
    ProfileInputs in;
    in.platformId = platform;
    in.storeInUsersFolder = perUser;
    in.appDataFolder = "C:\\Users\\Ann\\AppData\\Roaming";
    in.hostProgramPath = "C:\\Program Files\\Norvale\\Norvale.exe";
    in.commandLine = std::move(commandLine);
    in.moduleName = "Horavel";
    return in;
}

std::string PathOf(const ProfileInputs& in)
{
    auto location = BuildProfileLocation(in);
    return location ? location->path : "<none>";
}

TEST(ProfileLocation, TheFourRowsOfThePathTable)
{
    const std::string host = "C:\\Program Files\\Norvale\\";
    const std::string app = "C:\\Users\\Ann\\AppData\\Roaming\\Norvale\\";
    const std::string exe = "\"C:\\Program Files\\Norvale\\Norvale.exe\"";
    EXPECT_EQ(PathOf(Inputs(2, 0, exe)), host + "Plugins\\Horavel.ini");
    EXPECT_EQ(PathOf(Inputs(1, 1, exe)), host + "Plugins\\Horavel.ini");   // not NT
    EXPECT_EQ(PathOf(Inputs(2, 0, exe + " /inst:2")), host + "Instances\\2\\Plugins\\Horavel.ini");
    EXPECT_EQ(PathOf(Inputs(2, 1, exe)), app + "Plugins\\Horavel.ini");
    EXPECT_EQ(PathOf(Inputs(2, 0xFFFFFFFF, exe + " -INST:B")), app + "Instances\\b\\Plugins\\Horavel.ini");

    const auto location = BuildProfileLocation(Inputs(2, 1, exe + " /inst:7"));
    ASSERT_TRUE(location);
    EXPECT_EQ(location->instanceName, "7");
    EXPECT_EQ(location->folder, app + "Instances\\7\\Plugins\\");
    EXPECT_EQ(location->fileName, "Horavel.ini");
}

TEST(ProfileLocation, InstanceSwitch)
{
    EXPECT_EQ(InstanceNameFromCommandLine("host.exe"), "");
    EXPECT_EQ(InstanceNameFromCommandLine("host.exe -inst:3 /inst:7"), "7");
    EXPECT_EQ(InstanceNameFromCommandLine("host.exe /inst:7 -inst:3"), "7");
    EXPECT_EQ(InstanceNameFromCommandLine("host.exe -inst:12"), "1");
    EXPECT_EQ(InstanceNameFromCommandLine("host.exe -inst:"), "");
    EXPECT_EQ(InstanceNameFromCommandLine("host.exe -inst:3 /inst:"), "");   // "/inst:" replaces
    EXPECT_EQ(InstanceNameFromCommandLine("host.exe /INST:Q"), "q");
    EXPECT_EQ(InstanceNameFromCommandLine("host.exe -Inst:\"x"), "\"");
    EXPECT_EQ(InstanceNameFromCommandLine("host.exe -inst: x"), " ");
    EXPECT_EQ(InstanceNameFromCommandLine("host.exe -inst:a -inst:b"), "a");   // first occurrence
    EXPECT_EQ(InstanceNameFromCommandLine("C:\\my-inst:z\\host.exe"), "z");    // the program path counts
    EXPECT_EQ(InstanceNameFromCommandLine("host.exe -inst:\xC9"), "\xC9");     // not lowered outside ASCII
}

TEST(ProfileLocation, FoldersAndModuleName)
{
    ProfileInputs in = Inputs(2, 0, "h.exe");
    in.moduleName = "Clock2";
    EXPECT_EQ(PathOf(in), "C:\\Program Files\\Norvale\\Plugins\\Clock2.ini");
    // A host folder deeper than MAX_PATH is used as it stands.
    const std::string deep = "C:\\" + std::string(250, 'd') + "\\Norvale\\";
    in.hostProgramPath = deep + "Norvale.exe";
    EXPECT_EQ(PathOf(in), deep + "Plugins\\Clock2.ini");
    // No folder at all (the host's path could not be had): no location, never
    // a relative one that lands in the current folder.
    in.hostProgramPath = "Norvale.exe";
    EXPECT_EQ(PathOf(in), "<none>");
    in.hostProgramPath.clear();
    EXPECT_EQ(PathOf(in), "<none>");
    EXPECT_EQ(FolderOfProgram("C:\\a\\b.exe"), "C:\\a\\");
    // Per-user storage with no known application-data folder: no location.
    in = Inputs(2, 1, "h.exe");
    in.appDataFolder.clear();
    EXPECT_EQ(PathOf(in), "<none>");
}

} // namespace
} // namespace horavel
