#include "settings/settings_persistence.h"

#include "core/settings_table.h"

#include <string>

namespace horavel {

namespace {

constexpr char kDialogSection[] = "DIALOG";
constexpr char kDefaultSection[] = "DEFAULT";
constexpr char kCommonSection[] = "COMMON";

int32_t ReadPosition(IniDocument& document, const char* key)
{
    std::string text;
    if (!document.FindValue(kDialogSection, key, text))
        return kNoDialogPosition.x;
    return Atol(text);
}

void Compose(SettingsStore& store, IniDocument& document)
{
    document.StartProfileText();
    store.StoreCurrentRecord();
    const DialogPosition position = store.GetDialogPosition();
    document.WriteSectionHeader(kDialogSection);
    document.WriteKeyValue("DlgWndPosX", std::to_string(position.x));
    document.WriteKeyValue("DlgWndPosY", std::to_string(position.y));
    document.WriteSectionHeader(kCommonSection);
    store.ApplyCurrentRecord();
    WriteSettingsTable(store, document);
}

} // namespace

void ReadSettingsTable(SettingsStore& store, IniDocument& document, std::string_view section)
{
    // Filled outside the lock (the lookups scan the whole text), stored in one step.
    SettingsRecord record = store.Live();
    std::string value;
    ReadTable<SettingsRecord>(SettingsTable(), record, [&](const char* key) -> std::optional<std::string> {
        if (document.FindValue(section, key, value))
            return value;
        return std::nullopt;
    });
    store.SetLive(record);
}

void WriteSettingsTable(const SettingsStore& store, IniDocument& document)
{
    const SettingsRecord live = store.Live();
    WriteTable<SettingsRecord>(SettingsTable(), live, [&](const char* key, const std::string& text) {
        document.WriteKeyValue(key, text);
    });
}

void LoadSettingsFromProfile(SettingsStore& store, ProfileFiles& files,
                             const std::optional<ProfileLocation>& location)
{
    if (location)
        store.Profile() = *location;
    IniDocument document;
    document.ReadProfileFile(files, store.Profile().path);

    store.SetDialogPosition({ReadPosition(document, "DlgWndPosX"), ReadPosition(document, "DlgWndPosY")});
    ReadSettingsTable(store, document, kDefaultSection);
    store.SetDefaultsRecord(store.Live());
    ReadSettingsTable(store, document, kCommonSection);
    store.AppendRecord(store.Live());
    store.ApplyCurrentRecord();

    if (document.ReadSucceeded())
        store.ProfileText() = document.TakeReadText();
    else
        store.ProfileText().reset();
}

std::string ComposeProfileText(SettingsStore& store)
{
    IniDocument document;
    Compose(store, document);
    return document.ComposedText();
}

IniDocument::WriteResult SaveSettingsToProfile(SettingsStore& store, ProfileFiles& files)
{
    IniDocument document;
    Compose(store, document);
    // A profile that could not be read (held open elsewhere, no rights) may
    // hold settings this module never saw: it is not overwritten.
    if (!store.ProfileText())
        return IniDocument::WriteResult::Failed;
    const IniDocument::WriteResult result =
        document.WriteProfileFile(files, store.Profile().path, *store.ProfileText());
    // The file now holds the new text: a later save compares against it.
    if (result == IniDocument::WriteResult::Written)
        store.ProfileText() = document.ComposedText();
    return result;
}

} // namespace horavel
