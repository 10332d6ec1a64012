// Loading the settings store from the profile and saving it back, driven by
// the settings table. The profile has three sections: "DIALOG" (the dialog
// position, read and written), "DEFAULT" (the defaults record, only read) and
// "COMMON" (the live record, read and written).
#pragma once

#include "core/settings_store.h"
#include "settings/ini_document.h"
#include "settings/profile_files.h"

#include <optional>
#include <string_view>

namespace horavel {

// Reads all the rows from `section` into the live record; a row whose key is
// missing or empty there takes its table default.
void ReadSettingsTable(SettingsStore& store, IniDocument& document, std::string_view section);

// Appends one key line per table row, from the live record (a row omitted
// at its default only when it holds something else).
void WriteSettingsTable(const SettingsStore& store, IniDocument& document);

// Fills the store from the profile at `location` (kept in the store for the
// save). Without a location the store keeps the location it had (none at the
// first load), and everything takes its default when no profile can be read.
void LoadSettingsFromProfile(SettingsStore& store, ProfileFiles& files,
                             const std::optional<ProfileLocation>& location);

// Composes the profile text from the store and writes it to the location of
// the last load when it differs from the text read then. Nothing is written
// before any load. When the last load could not read the profile, it is read
// again: still unreadable, it is left alone; readable, it gets its own values
// with the values changed in this session (those that differ from what the
// load put into the store) put over them, and nothing is written when no
// value changed. Temporary files left by an interrupted save are removed.
IniDocument::WriteResult SaveSettingsToProfile(SettingsStore& store, ProfileFiles& files);

// Composes into `document` the text of `profileText` (a profile this store
// could not read at load) with the values changed in this session put over
// its own; false, with nothing composed, when no value changed.
bool ComposeOverProfile(SettingsStore& store, const std::string& profileText, IniDocument& document);

// The composed text alone (what a save would write).
std::string ComposeProfileText(SettingsStore& store);

} // namespace horavel
