// Loading and saving the settings of the module: the profile's location is
// gathered from the platform, the file is read and written with Win32 calls.
// Nothing is reported: every failure falls back to defaults or leaves the old
// profile as it was.
#pragma once

#include "core/settings_store.h"
#include "settings/profile_location.h"

#include <optional>
#include <string>

namespace horavel {

// At `init`: works out the profile's location for the module `moduleName`
// (file name without folder and extension), makes its last folder level,
// reads the profile and fills the store.
void LoadSettings(SettingsStore& store, const std::string& moduleName);

// At `deinit`: writes the store to the profile of the last load when the text
// differs from what was read.
void SaveSettings(SettingsStore& store);

// The platform's answers that the location depends on; nullopt when the
// platform cannot be told (both version queries fail).
std::optional<ProfileInputs> GatherProfileInputs(const std::string& moduleName);

// `path` in the form the ANSI file functions take beyond MAX_PATH ("\\?\"
// before a drive path, "\\?\UNC\" for a share); shorter paths unchanged.
std::string LongPathForm(const std::string& path);

// GatherProfileInputs, BuildProfileLocation, then the last folder level is
// created (its parent levels are the host's to make).
std::optional<ProfileLocation> BuildProfilePath(const std::string& moduleName);

} // namespace horavel
