// Where the profile file lives, worked out from what the platform tells:
// the platform id, the host's per-user switch, the user's application-data
// folder, the host program's path, the host's command line and this module's
// name. Pure; gathering the inputs is the Win32 shell's job.
#pragma once

#include "core/settings_store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace horavel {

inline constexpr uint32_t kPlatformWin32Nt = 2;   // VER_PLATFORM_WIN32_NT

struct ProfileInputs {
    uint32_t platformId = 0;
    uint32_t storeInUsersFolder = 0;    // the host's registry switch, 0 when missing
    std::string appDataFolder;          // the user's application-data folder, no trailing backslash
    std::string hostProgramPath;        // full file name of the host's executable
    std::string commandLine;            // the host's whole command line
    std::string moduleName;             // this module's file name without folder and extension
    uint32_t codePage = 0;              // of the texts above, as in ProfileLocation
};

// True when the profile goes below the user's application-data folder: only
// on the NT platform and with the host's switch set.
constexpr bool UsesUsersFolder(uint32_t platformId, uint32_t storeInUsersFolder)
{
    return platformId == kPlatformWin32Nt && storeInUsersFolder != 0;
}

// The one-character instance name from the host's command line: the
// character after the first "-inst:", replaced by the one after the first
// "/inst:" when that occurs, both matched in any letter case and taken from
// the lower-cased line; empty when the switch ends the line or is absent.
std::string InstanceNameFromCommandLine(std::string_view commandLine);

// The host program's folder: `path` up to and including its last backslash
// (empty when it has none).
std::string_view FolderOfProgram(std::string_view path);

// The location:
//   host folder  + ["Instances\" i "\"] + "Plugins\" + module ".ini"
//   app-data "\Norvale\" + ["Instances\" i "\"] + "Plugins\" + module ".ini"
// nullopt when the chosen folder is unknown (the per-user folder, or the host
// program's path that could not be had whole), so that nothing is read or
// written at the root of a drive or in the current folder.
std::optional<ProfileLocation> BuildProfileLocation(const ProfileInputs& inputs);

} // namespace horavel
