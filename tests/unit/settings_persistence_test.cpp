#include "settings/settings_persistence.h"
#include "core/settings_table.h"
#include "settings_memory_files.h"

#include <gtest/gtest.h>

#include <random>

namespace horavel {
namespace {

constexpr char kDefaultProfile[] =
    "[DIALOG]\r\n"
    "DlgWndPosX=-100\r\n"
    "DlgWndPosY=-100\r\n"
    "[COMMON]\r\n"
    "StringPosX=0\r\n"
    "StringPosY=0\r\n"
    "FontName=Arial\r\n"
    "FontSize=-34\r\n"
    "FontWeight=700\r\n"
    "FontItalic=0\r\n"
    "FontUnderline=1\r\n"
    "FontStrikeOut=0\r\n"
    "FontCharSet=1\r\n"
    "FontQuality=4\r\n"
    "TextColor=12632256\r\n"
    "BackColor=8388608\r\n"
    "TextOpacity=60\r\n"
    "BackOpacity=30\r\n"
    "ShadowOffset=8\r\n"
    "Format=%H:%M:%S\r\n";

ProfileLocation Location()
{
    return {"", "C:\\Host\\Plugins\\", "Horavel.ini", "C:\\Host\\Plugins\\Horavel.ini"};
}

class Persistence : public ::testing::Test {
protected:
    void SetUp() override { files.folders.insert("C:\\Host\\Plugins\\"); }

    void LoadFrom(std::optional<std::string> text)
    {
        if (text)
            files.files[Location().path] = *text;
        LoadSettingsFromProfile(store, files, Location());
    }
    std::string& File() { return files.files[Location().path]; }

    testing::MemoryProfileFiles files;
    SettingsStore store;
};

TEST_F(Persistence, NoProfileCreatesAnEmptyFileThenSavesTheDefaultText)
{
    LoadFrom(std::nullopt);
    ASSERT_TRUE(files.files.count(Location().path));
    EXPECT_EQ(File(), "");
    EXPECT_EQ(store.Live(), TableDefaults());
    EXPECT_EQ(store.DefaultsRecord(), TableDefaults());
    ASSERT_EQ(store.Records().size(), 1u);
    EXPECT_EQ(store.GetDialogPosition(), kNoDialogPosition);
    EXPECT_EQ(store.Profile(), Location());

    EXPECT_EQ(SaveSettingsToProfile(store, files), IniDocument::WriteResult::Written);
    EXPECT_EQ(File(), kDefaultProfile);
}

TEST_F(Persistence, AnUnchangedProfileIsNotRewritten)
{
    LoadFrom(std::string(kDefaultProfile));
    EXPECT_EQ(SaveSettingsToProfile(store, files), IniDocument::WriteResult::Unchanged);
    EXPECT_EQ(files.replaces, 0);
    // After a change it is, and a second save compares with what was written.
    store.EditLive([](SettingsRecord& r) { r.TextOpacity = 61; });
    EXPECT_EQ(SaveSettingsToProfile(store, files), IniDocument::WriteResult::Written);
    EXPECT_NE(File().find("TextOpacity=61\r\n"), std::string::npos);
    EXPECT_EQ(SaveSettingsToProfile(store, files), IniDocument::WriteResult::Unchanged);
}

// KeepShape came after profiles were written: at its default it stays out of
// the profile, so those profiles keep their bytes; set, it is written last.
TEST_F(Persistence, KeepShapeIsWrittenOnlyWhenSet)
{
    LoadFrom(std::string(kDefaultProfile));
    EXPECT_EQ(store.Live().KeepShape, 0);
    store.EditLive([](SettingsRecord& r) { r.KeepShape = 1; });
    EXPECT_EQ(SaveSettingsToProfile(store, files), IniDocument::WriteResult::Written);
    EXPECT_EQ(File(), std::string(kDefaultProfile) + "KeepShape=1\r\n");

    SettingsStore again;
    LoadSettingsFromProfile(again, files, Location());
    EXPECT_EQ(again.Live().KeepShape, 1);
    again.EditLive([](SettingsRecord& r) { r.KeepShape = 0; });
    EXPECT_EQ(SaveSettingsToProfile(again, files), IniDocument::WriteResult::Written);
    EXPECT_EQ(File(), kDefaultProfile);
}

TEST_F(Persistence, DefaultSectionFeedsOnlyTheDefaultsRecordAndIsDropped)
{
    LoadFrom(std::string("[DEFAULT]\r\nTextOpacity=90\r\nFontName=Tahoma\r\n"));
    EXPECT_EQ(store.Live().TextOpacity, 60);
    EXPECT_EQ(store.Live().FontName, "Arial");
    EXPECT_EQ(store.DefaultsRecord().TextOpacity, 90);
    EXPECT_EQ(store.DefaultsRecord().FontName, "Tahoma");
    store.RestoreDefaults();
    EXPECT_EQ(store.Live().TextOpacity, 90);
    store.RestoreDefaults();
    SaveSettingsToProfile(store, files);
    EXPECT_EQ(File().find("[DEFAULT]"), std::string::npos);
    EXPECT_NE(File().find("TextOpacity=90\r\n"), std::string::npos);
}

TEST_F(Persistence, CommonKeysMissingTakeTableDefaultsNotDefaultSection)
{
    std::string text = kDefaultProfile;
    text.erase(text.find("BackColor=8388608\r\n"), 19);
    text += "[DEFAULT]\r\nBackColor=255\r\n";
    LoadFrom(text);
    EXPECT_EQ(store.Live().BackColor, 0x00800000u);
    EXPECT_EQ(store.DefaultsRecord().BackColor, 255u);
    EXPECT_EQ(ComposeProfileText(store), kDefaultProfile);
}

TEST_F(Persistence, ValuesAreTakenAsTheyStandWithAtoiSemantics)
{
    LoadFrom(std::string(
        "[COMMON]\n"
        "TextColor=4294967295\n"
        "FontUnderline=300\n"
        "FontQuality=0\n"
        "TextOpacity=250\n"
        "StringPosX=-5\n"
        "StringPosY=12abc\n"
        "FontWeight=0x190\n"
        "FontSize=   -20\n"
        "BackOpacity=abc\n"
        "Format=\n"
        "FontName= Times New Roman \n"
        "[DIALOG]\n"
        "DlgWndPosX=  320px\n"
        "DlgWndPosY=\n"));
    const SettingsRecord live = store.Live();
    EXPECT_EQ(live.TextColor, 0xFFFFFFFFu);
    EXPECT_EQ(live.FontUnderline, 44);
    EXPECT_EQ(live.FontQuality, 0);
    EXPECT_EQ(live.TextOpacity, 250);
    EXPECT_EQ(live.StringPosX, -5);
    EXPECT_EQ(live.StringPosY, 12);
    EXPECT_EQ(live.FontWeight, 0);
    EXPECT_EQ(live.FontSize, -20);
    EXPECT_EQ(live.BackOpacity, 0);
    EXPECT_EQ(live.Format, "%H:%M:%S");
    EXPECT_EQ(live.FontName, " Times New Roman ");
    EXPECT_EQ(store.GetDialogPosition(), (DialogPosition{320, -100}));

    const std::string saved = ComposeProfileText(store);
    EXPECT_NE(saved.find("\r\nTextColor=4294967295\r\n"), std::string::npos);
    EXPECT_NE(saved.find("\r\nFontQuality=0\r\n"), std::string::npos);
    EXPECT_NE(saved.find("\r\nFontName= Times New Roman \r\n"), std::string::npos);
    EXPECT_NE(saved.find("DlgWndPosX=320\r\nDlgWndPosY=-100\r\n"), std::string::npos);
}

TEST_F(Persistence, KeysInAnotherOrderAreRewrittenInTableOrder)
{
    std::string text = kDefaultProfile;
    const std::string format = "Format=%H:%M:%S\r\n";
    text.erase(text.find(format), format.size());
    text.insert(text.find("StringPosX"), format);
    LoadFrom(text);
    EXPECT_EQ(store.Live(), TableDefaults());
    EXPECT_EQ(SaveSettingsToProfile(store, files), IniDocument::WriteResult::Written);
    EXPECT_EQ(File(), kDefaultProfile);
}

TEST_F(Persistence, AHandEditedLastLineWithoutLineEndKeepsItsValue)
{
    std::string text = kDefaultProfile;
    text.replace(text.find("Format=%H:%M:%S\r\n"), std::string::npos, "Format=%d.%m.%Y");
    LoadFrom(text);
    EXPECT_EQ(store.Live().Format, "%d.%m.%Y");
    SaveSettingsToProfile(store, files);
    EXPECT_NE(File().find("Format=%d.%m.%Y\r\n"), std::string::npos);
}

TEST_F(Persistence, EditsAndDialogPositionSurviveARoundTrip)
{
    LoadFrom(std::nullopt);
    store.EditLive([](SettingsRecord& r) {
        r.FontName = "Courier New";
        r.FontItalic = 1;
        r.TextColor = 0x00FF8040;
        r.StringPosX = 900;
        r.Format = "%A %d %B";
        r.KeepShape = 1;
    });
    store.SetDialogPosition({-32000, 15});
    SaveSettingsToProfile(store, files);

    SettingsStore again;
    LoadSettingsFromProfile(again, files, Location());
    EXPECT_EQ(again.Live(), store.Live());
    EXPECT_EQ(again.GetDialogPosition(), (DialogPosition{-32000, 15}));
    EXPECT_EQ(again.DefaultsRecord(), TableDefaults());
}

TEST_F(Persistence, NoLocationMeansDefaultsAndNothingWritten)
{
    LoadSettingsFromProfile(store, files, std::nullopt);
    EXPECT_EQ(files.reads, 0);
    EXPECT_EQ(store.Live(), TableDefaults());
    EXPECT_EQ(SaveSettingsToProfile(store, files), IniDocument::WriteResult::Failed);
    EXPECT_EQ(files.replaces, 0);
    EXPECT_TRUE(files.files.empty());

    // A missing folder: nothing read, the save fails, no file appears.
    files.folders.clear();
    LoadSettingsFromProfile(store, files, Location());
    EXPECT_EQ(store.Records().size(), 2u);
    EXPECT_EQ(SaveSettingsToProfile(store, files), IniDocument::WriteResult::Failed);
    EXPECT_TRUE(files.files.empty());
}

TEST_F(Persistence, AFailedSaveKeepsTheOldProfile)
{
    const std::string old = std::string(kDefaultProfile) + "[EXTRA]\r\nKeep=1\r\n";
    LoadFrom(old);
    store.EditLive([](SettingsRecord& r) { r.BackOpacity = 99; });
    files.failReplace = true;
    EXPECT_EQ(SaveSettingsToProfile(store, files), IniDocument::WriteResult::Failed);
    EXPECT_EQ(File(), old);
    // The text read is still what the file holds, so a retry writes.
    files.failReplace = false;
    EXPECT_EQ(SaveSettingsToProfile(store, files), IniDocument::WriteResult::Written);
}

TEST_F(Persistence, AProfileThatCouldNotBeReadGetsOnlyTheSessionsChanges)
{
    // Held open by another program at load: the settings it holds were never
    // seen, so the save must not replace them with defaults.
    const std::string old = "[DIALOG]\r\nDlgWndPosX=40\r\n[COMMON]\r\nTextOpacity=12\r\nFormat=%H\r\n"
                            "FontName=Courier\r\n";
    files.files[Location().path] = old;
    files.failReads = true;
    LoadFrom(std::nullopt);
    EXPECT_EQ(store.Live(), TableDefaults());

    // Still held at the save: left alone.
    EXPECT_EQ(SaveSettingsToProfile(store, files), IniDocument::WriteResult::Failed);
    // Free, but nothing changed in the session: still left alone.
    files.failReads = false;
    EXPECT_EQ(SaveSettingsToProfile(store, files), IniDocument::WriteResult::Unchanged);
    EXPECT_EQ(files.replaces, 0);
    EXPECT_EQ(File(), old);

    // Two values edited (one of them to what the profile holds anyway) and
    // the dialog moved: those go over the profile's values, every other key
    // keeps the profile's value or, where it has none, the table default.
    store.EditLive([](SettingsRecord& r) {
        r.BackOpacity = 77;
        r.FontName = "Courier";
    });
    store.SetDialogPosition({-100, 300});
    ASSERT_EQ(SaveSettingsToProfile(store, files), IniDocument::WriteResult::Written);
    std::string expected = kDefaultProfile;
    expected.replace(expected.find("DlgWndPosX=-100"), 15, "DlgWndPosX=40");
    expected.replace(expected.find("DlgWndPosY=-100"), 15, "DlgWndPosY=300");
    expected.replace(expected.find("TextOpacity=60"), 14, "TextOpacity=12");
    expected.replace(expected.find("BackOpacity=30"), 14, "BackOpacity=77");
    expected.replace(expected.find("FontName=Arial"), 14, "FontName=Courier");
    expected.replace(expected.find("Format=%H:%M:%S"), 15, "Format=%H");
    EXPECT_EQ(File(), expected);

    // The store now holds what the file holds: another save writes nothing.
    EXPECT_EQ(store.Live().TextOpacity, 12);
    EXPECT_EQ(SaveSettingsToProfile(store, files), IniDocument::WriteResult::Unchanged);
    EXPECT_EQ(files.replaces, 1);
}

TEST_F(Persistence, ASaveBeforeAnyLoadWritesNothingAndSpoilsNoLaterLoad)
{
    File() = "[COMMON]\r\nFontSize=-50\r\nFormat=%H:%M\r\n";
    EXPECT_EQ(SaveSettingsToProfile(store, files), IniDocument::WriteResult::NothingComposed);
    EXPECT_TRUE(store.Records().empty());
    LoadSettingsFromProfile(store, files, Location());
    EXPECT_EQ(store.Live().FontSize, -50);
    EXPECT_EQ(store.Live().Format, "%H:%M");
    EXPECT_EQ(store.Live().FontName, "Arial");
    EXPECT_EQ(files.replaces, 0);
}

TEST_F(Persistence, AnyBytesAreReadWithoutDerailingTheRest)
{
    // 10 MB of random bytes (NULs and stray line ends included), a 2 MB line
    // without a line end, a header without "]", then a valid section.
    std::mt19937 rng(7);
    std::string text(10 * 1024 * 1024, '\0');
    for (char& c : text)
        c = static_cast<char>(rng());
    text += "\r\n[COMMON\r\nTextOpacity=5\r\n";
    text += std::string(2 * 1024 * 1024, 'A');
    const char section[] = "\n[COMMON]\r\nTextOpacity=77\r\nFontName=\xC0\0b\r\n";
    text.append(section, sizeof section - 1);
    text += "[DIALOG]\nDlgWndPosX=12";
    LoadFrom(text);
    EXPECT_EQ(store.Live().TextOpacity, 77);
    EXPECT_EQ(store.Live().FontName, std::string("\xC0\0b", 3));
    EXPECT_EQ(store.GetDialogPosition().x, 12);
    // The next save replaces it all with the two sections.
    SaveSettingsToProfile(store, files);
    std::string expected = kDefaultProfile;
    expected.replace(expected.find("TextOpacity=60"), 14, "TextOpacity=77");
    expected.replace(expected.find("FontName=Arial"), 14, std::string("FontName=\xC0\0b", 12));
    expected.replace(expected.find("DlgWndPosX=-100"), 15, "DlgWndPosX=12");
    EXPECT_TRUE(File() == expected);
}

} // namespace
} // namespace horavel
