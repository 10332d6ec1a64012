#include "core/settings_store.h"
#include "core/settings_table.h"

#include <gtest/gtest.h>

namespace horavel {
namespace {

// Every one of the 17 values differs from its default.
SettingsRecord EditedRecord()
{
    SettingsRecord r;
    r.StringPosX = 412;
    r.StringPosY = 77;
    r.FontName = "Courier New";
    r.FontSize = -20;
    r.FontWeight = 400;
    r.FontItalic = 1;
    r.FontUnderline = 0;
    r.FontStrikeOut = 1;
    r.FontCharSet = 204;
    r.FontQuality = 0;
    r.TextColor = 0x000000FF;
    r.BackColor = 0x00FFFFFF;
    r.TextOpacity = 100;
    r.BackOpacity = 0;
    r.ShadowOffset = 20;
    r.Format = "%d.%m.%Y";
    r.KeepShape = 1;
    return r;
}

TEST(SettingsTable, DefaultsAreTheDocumentedValues)
{
    const SettingsRecord d = TableDefaults();
    EXPECT_EQ(d.StringPosX, 0);
    EXPECT_EQ(d.StringPosY, 0);
    EXPECT_EQ(d.FontName, "Arial");
    EXPECT_EQ(d.FontSize, -34);
    EXPECT_EQ(d.FontWeight, 700);
    EXPECT_EQ(d.FontItalic, 0);
    EXPECT_EQ(d.FontUnderline, 1);
    EXPECT_EQ(d.FontStrikeOut, 0);
    EXPECT_EQ(d.FontCharSet, 1);
    EXPECT_EQ(d.FontQuality, 4);
    EXPECT_EQ(d.TextColor, 0x00C0C0C0u);
    EXPECT_EQ(d.BackColor, 0x00800000u);
    EXPECT_EQ(d.TextOpacity, 60);
    EXPECT_EQ(d.BackOpacity, 30);
    EXPECT_EQ(d.ShadowOffset, 8);
    EXPECT_EQ(d.Format, "%H:%M:%S");
    EXPECT_EQ(d.KeepShape, 0);
}

TEST(SettingsTable, RowsAreInFileOrderAndEachCodeFitsItsMember)
{
    const char* keys[] = {"StringPosX", "StringPosY", "FontName", "FontSize", "FontWeight",
                          "FontItalic", "FontUnderline", "FontStrikeOut", "FontCharSet",
                          "FontQuality", "TextColor", "BackColor", "TextOpacity",
                          "BackOpacity", "ShadowOffset", "Format", "KeepShape"};
    const uint32_t codes[] = {6, 6, 12, 8, 8, 0, 0, 0, 0, 0, 5, 5, 6, 6, 6, 12, 0};
    auto table = SettingsTable();
    ASSERT_EQ(table.size(), 17u);
    for (size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(keys[i]);
        EXPECT_STREQ(table[i].key, keys[i]);
        EXPECT_EQ(table[i].typeCode, codes[i]);
        // Only the value added after profiles were written is left out of
        // them while it holds its default.
        EXPECT_EQ(table[i].omittedAtDefault, std::string(keys[i]) == "KeepShape");
        // The code's storage must be the member's width, or reads and writes
        // would cut or spill.
        SettingsRecord probe;
        const Storage storage = StorageOf(table[i].typeCode);
        std::visit(
            [&](auto member) {
                using Member = std::remove_cvref_t<decltype(probe.*member)>;
                if constexpr (std::is_integral_v<Member>) {
                    EXPECT_EQ(sizeof(Member), StorageBytes(storage));
                    EXPECT_EQ(std::is_signed_v<Member>,
                              storage == Storage::S16 || storage == Storage::S32 || storage == Storage::S64);
                } else {
                    EXPECT_EQ(storage, Storage::Text);
                }
            },
            table[i].location);
    }
}

TEST(SettingsStore, EmptyBeforeLoadThenDefaultsWithOneRecord)
{
    SettingsStore store;
    EXPECT_EQ(store.Live(), SettingsRecord{});
    EXPECT_TRUE(store.Records().empty());
    EXPECT_TRUE(store.Snapshot().empty());
    EXPECT_EQ(store.GetDialogPosition(), (DialogPosition{0, 0}));

    LoadTableDefaults(store);
    EXPECT_EQ(store.Live(), TableDefaults());
    EXPECT_EQ(store.DefaultsRecord(), TableDefaults());
    ASSERT_EQ(store.Records().size(), 1u);
    EXPECT_EQ(store.Records()[0], TableDefaults());
    EXPECT_EQ(store.GetDialogPosition(), kNoDialogPosition);
}

TEST(SettingsStore, CancelRestoresAllValuesButNotTheDialogPosition)
{
    SettingsStore store;
    LoadTableDefaults(store);
    store.TakeSnapshot();
    store.SetLive(EditedRecord());
    store.SetDialogPosition({300, 200});
    store.RestoreSnapshot();
    EXPECT_EQ(store.Live(), TableDefaults());
    EXPECT_EQ(store.Records()[0], TableDefaults());
    EXPECT_EQ(store.GetDialogPosition(), (DialogPosition{300, 200}));
}

TEST(SettingsStore, OkThenReopenSnapshotsTheEditedValues)
{
    SettingsStore store;
    LoadTableDefaults(store);
    store.TakeSnapshot();
    store.SetLive(EditedRecord());   // "OK": the snapshot is not used
    store.TakeSnapshot();            // reopened
    store.EditLive([](SettingsRecord& r) { r.TextOpacity = 5; r.FontName.push_back('X'); });
    store.RestoreSnapshot();
    EXPECT_EQ(store.Live(), EditedRecord());
    ASSERT_EQ(store.Snapshot().size(), 1u);
    EXPECT_EQ(store.Snapshot()[0], EditedRecord());
}

TEST(SettingsStore, RestoreDefaultsPutsBackTheDefaultsRecordPositionIncluded)
{
    SettingsStore store;
    LoadTableDefaults(store);
    SettingsRecord fromProfile = TableDefaults();
    fromProfile.TextOpacity = 90;
    store.SetDefaultsRecord(fromProfile);
    store.SetLive(EditedRecord());
    store.SetDialogPosition({10, 20});
    store.RestoreDefaults();
    EXPECT_EQ(store.Live(), fromProfile);
    EXPECT_EQ(store.Live().StringPosX, 0);
    EXPECT_EQ(store.GetDialogPosition(), (DialogPosition{10, 20}));
}

TEST(SettingsStore, CopiesAreIndependentOfTheirSource)
{
    SettingsStore store;
    LoadTableDefaults(store);
    store.TakeSnapshot();
    // Changing the live texts touches neither record 0 nor the snapshot.
    store.EditLive([](SettingsRecord& r) { r.FontName += "-changed"; r.Format.clear(); });
    EXPECT_EQ(store.Records()[0].FontName, "Arial");
    EXPECT_EQ(store.Snapshot()[0].Format, "%H:%M:%S");
    // Storing the live record does not reach into the snapshot either.
    store.StoreCurrentRecord();
    EXPECT_EQ(store.Records()[0].FontName, "Arial-changed");
    EXPECT_EQ(store.Snapshot()[0].FontName, "Arial");
    // A record handed out keeps its value when the live one changes.
    SettingsRecord copy = store.Live();
    store.EditLive([](SettingsRecord& r) { r.FontName = "Y"; });
    EXPECT_EQ(copy.FontName, "Arial-changed");
}

TEST(SettingsStore, ASecondLoadAppendsWhileRecordZeroStaysCurrent)
{
    SettingsStore store;
    LoadTableDefaults(store);
    store.SetLive(EditedRecord());
    store.StoreCurrentRecord();
    LoadTableDefaults(store);
    ASSERT_EQ(store.Records().size(), 2u);
    EXPECT_EQ(store.Live(), EditedRecord());
}

TEST(SettingsStore, OperationsBeforeLoadLoseNothing)
{
    SettingsStore store;
    store.RestoreSnapshot();        // no snapshot: nothing happens
    store.ApplyCurrentRecord();     // no record 0: the live record stays
    EXPECT_EQ(store.Live(), SettingsRecord{});
    store.SetLive(EditedRecord());
    store.TakeSnapshot();
    ASSERT_EQ(store.Records().size(), 1u);
    EXPECT_EQ(store.Snapshot()[0], EditedRecord());
}

} // namespace
} // namespace horavel
