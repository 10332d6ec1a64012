// Loading and saving the settings of the module: the profile's location is
// gathered from the platform, the file is read and written with Win32 calls.
// Nothing is reported: every failure falls back to defaults or leaves the old
// profile as it was.
#pragma once

#include "core/settings_store.h"
#include "settings/profile_location.h"

#include <optional>
#include <string>
#include <string_view>

namespace horavel {

// At `init`: works out the profile's location for the module `moduleName`
// (file name without folder and extension), makes its last folder level,
// reads the profile and fills the store.
void LoadSettings(SettingsStore& store, const std::wstring& moduleName);

// At `deinit`: writes the store to the profile of the last load when the text
// differs from what was read.
void SaveSettings(SettingsStore& store);

// The platform's answers that the location depends on; nullopt when the
// platform cannot be told (both version queries fail). The texts are in the
// ANSI code page, or all in UTF-8 when a folder or the module's name has no
// form in it (inputs.codePage tells which).
std::optional<ProfileInputs> GatherProfileInputs(const std::wstring& moduleName);

// `wide` in code page `codePage` (0 for the ANSI one), character for
// character: nullopt when a character has no form there (a best fit or a
// default character would name another file) or the conversion fails.
std::optional<std::string> NarrowExactly(std::wstring_view wide, uint32_t codePage);

// `narrow`, text of code page `codePage`, in UTF-16; nullopt when it holds a
// byte sequence the code page does not define.
std::optional<std::wstring> WidenExactly(std::string_view narrow, uint32_t codePage);

// `path` in the form the ANSI file functions take beyond MAX_PATH ("\\?\"
// before a drive path, "\\?\UNC\" for a share); shorter paths unchanged.
std::string LongPathForm(const std::string& path);

// GatherProfileInputs, BuildProfileLocation, then the last folder level is
// created (its parent levels are the host's to make).
std::optional<ProfileLocation> BuildProfilePath(const std::wstring& moduleName);

} // namespace horavel
