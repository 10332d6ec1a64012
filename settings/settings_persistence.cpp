#include "settings/settings_persistence.h"

#include "core/settings_table.h"

#include <string>
#include <utility>
#include <vector>

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

// Key and value texts of all the rows of `record`, in table order.
std::vector<std::pair<std::string, std::string>> TableTexts(const SettingsRecord& record)
{
    std::vector<std::pair<std::string, std::string>> texts;
    WriteTable<SettingsRecord>(SettingsTable(), record, [&](const SettingsTableRow& row, const std::string& text) {
        texts.emplace_back(row.key, text);
    });
    return texts;
}

} // namespace

bool ComposeOverProfile(SettingsStore& store, const std::string& profileText, IniDocument& document)
{
    // The profile's own values, read as a load reads them.
    IniDocument read;
    read.SetReadText(profileText);
    SettingsStore profile;
    ReadSettingsTable(profile, read, kCommonSection);
    const DialogPosition profilePosition{ReadPosition(read, "DlgWndPosX"), ReadPosition(read, "DlgWndPosY")};

    const DialogPosition loadedPosition = store.LoadedDialogPosition();
    const DialogPosition position = store.GetDialogPosition();
    const auto live = TableTexts(store.Live());
    const auto loaded = TableTexts(store.LoadedRecord());
    const auto theirs = TableTexts(profile.Live());
    bool changed = position.x != loadedPosition.x || position.y != loadedPosition.y;
    for (size_t i = 0; i < live.size(); ++i)
        changed = changed || live[i].second != loaded[i].second;
    if (!changed)
        return false;

    document.StartProfileText();
    document.WriteSectionHeader(kDialogSection);
    document.WriteKeyValue("DlgWndPosX",
                           std::to_string(position.x != loadedPosition.x ? position.x : profilePosition.x));
    document.WriteKeyValue("DlgWndPosY",
                           std::to_string(position.y != loadedPosition.y ? position.y : profilePosition.y));
    document.WriteSectionHeader(kCommonSection);
    for (size_t i = 0; i < live.size(); ++i) {
        const std::string& text = live[i].second != loaded[i].second ? live[i].second : theirs[i].second;
        if (!OmittedFromProfile(SettingsTable()[i], text))
            document.WriteKeyValue(live[i].first, text);
    }
    return true;
}

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
    WriteTable<SettingsRecord>(SettingsTable(), live, [&](const SettingsTableRow& row, const std::string& text) {
        if (!OmittedFromProfile(row, text))
            document.WriteKeyValue(row.key, text);
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
    store.SetLoadedValues(store.Live(), store.GetDialogPosition());

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
    // Nothing was ever loaded: the live record holds no settings, and taking
    // it as record 0 would hand empty values to a later load.
    if (store.Records().empty())
        return IniDocument::WriteResult::NothingComposed;
    const std::string& path = store.Profile().path;
    files.RemoveLeftovers(path);

    IniDocument document;
    Compose(store, document);
    std::string previous;
    if (store.ProfileText()) {
        previous = *store.ProfileText();
    } else {
        // The profile could not be read at load (held open elsewhere, no
        // rights), so it may hold settings this module never saw. Read now,
        // it keeps them, and only what the session changed goes over them;
        // still unreadable, it is left alone.
        std::optional<std::string> now = path.empty() ? std::nullopt : files.ReadOrCreate(path);
        if (!now)
            return IniDocument::WriteResult::Failed;
        if (!ComposeOverProfile(store, *now, document))
            return IniDocument::WriteResult::Unchanged;
        previous = std::move(*now);
        const IniDocument::WriteResult result = document.WriteProfileFile(files, path, previous);
        if (result == IniDocument::WriteResult::Written || result == IniDocument::WriteResult::Unchanged) {
            // The store now holds what the file holds, as after a load of it.
            IniDocument merged;
            merged.SetReadText(document.ComposedText());
            store.SetDialogPosition({ReadPosition(merged, "DlgWndPosX"), ReadPosition(merged, "DlgWndPosY")});
            ReadSettingsTable(store, merged, kCommonSection);
            store.StoreCurrentRecord();
            store.SetLoadedValues(store.Live(), store.GetDialogPosition());
            store.ProfileText() = result == IniDocument::WriteResult::Written ? document.ComposedText() : previous;
        }
        return result;
    }
    const IniDocument::WriteResult result = document.WriteProfileFile(files, path, previous);
    // The file now holds the new text: a later save compares against it.
    if (result == IniDocument::WriteResult::Written)
        store.ProfileText() = document.ComposedText();
    return result;
}

} // namespace horavel
