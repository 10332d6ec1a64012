#include "settings/ini_document.h"
#include "settings_memory_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace horavel {
namespace {

std::optional<std::string> Lookup(IniDocument& doc, std::string_view section, std::string_view key)
{
    std::string value;
    if (doc.FindValue(section, key, value))
        return value;
    EXPECT_EQ(value, "");
    return std::nullopt;
}

IniDocument DocumentOf(std::string text)
{
    IniDocument doc;
    doc.SetReadText(std::move(text));
    return doc;
}

std::vector<std::string> AllLines(IniDocument& doc)
{
    std::vector<std::string> lines;
    std::string line;
    while (doc.ReadLine(line))
        lines.push_back(line);
    EXPECT_EQ(line, "");
    return lines;
}

TEST(IniDocument, LineEndsPairUpAndAnUnfinishedLastLineIsALine)
{
    IniDocument doc = DocumentOf("a\r\nb\nc\rd\n\re\r\rf\n\ng\r\n\r\nh\n\n\ni");
    EXPECT_EQ(AllLines(doc), (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g", "", "h", "", "i"}));
    EXPECT_EQ(doc.Cursor(), doc.ReadText().size());

    IniDocument ended = DocumentOf("x\r\n");
    EXPECT_EQ(AllLines(ended), (std::vector<std::string>{"x"}));
    IniDocument empty = DocumentOf("");
    EXPECT_TRUE(AllLines(empty).empty());
    IniDocument blanks = DocumentOf("\r\n");
    EXPECT_EQ(AllLines(blanks), (std::vector<std::string>{""}));
}

TEST(IniDocument, ValuesKeepTheirBlanksAndKeysAreTrimmed)
{
    IniDocument doc = DocumentOf(
        "[COMMON]\r\n"
        "FontName= Times New Roman \r\n"
        "  \tFontSize \t= -20\r\n"
        "Format=%H=%M\r\n"
        ";Note=yes\r\n"
        "NoEquals\r\n"
        "\r\n"
        "fontweight=400\r\n");
    EXPECT_EQ(Lookup(doc, "COMMON", "FontName"), " Times New Roman ");
    EXPECT_EQ(Lookup(doc, "COMMON", "FontSize"), " -20");
    EXPECT_EQ(Lookup(doc, " COMMON ", " FontSize\t"), " -20");
    EXPECT_EQ(Lookup(doc, "COMMON", "Format"), "%H=%M");
    EXPECT_EQ(Lookup(doc, "COMMON", ";Note"), "yes");
    EXPECT_EQ(Lookup(doc, "COMMON", "FontWeight"), std::nullopt);   // case counts
    EXPECT_EQ(Lookup(doc, "COMMON", "NoEquals"), std::nullopt);
}

TEST(IniDocument, HeadersMatchExactlyAfterOuterTrimming)
{
    IniDocument doc = DocumentOf(
        " \t[COMMON]  \r\nA=1\r\n"
        "[ DIALOG ]\r\nB=2\r\n"
        "[default]\r\nC=3\r\n");
    EXPECT_EQ(Lookup(doc, "COMMON", "A"), "1");
    EXPECT_EQ(Lookup(doc, "DIALOG", "B"), std::nullopt);
    EXPECT_EQ(Lookup(doc, " DIALOG ", "B"), std::nullopt);   // the name is trimmed too
    EXPECT_EQ(Lookup(doc, "DEFAULT", "C"), std::nullopt);
    EXPECT_EQ(Lookup(doc, "default", "C"), "3");
}

TEST(IniDocument, SectionEndsAtAnyBracketLine)
{
    IniDocument doc = DocumentOf(
        "[COMMON]\r\nA=1\r\n  [COMMON\r\nB=2\r\n[OTHER]\r\nC=3\r\n");
    EXPECT_EQ(Lookup(doc, "COMMON", "A"), "1");
    EXPECT_EQ(Lookup(doc, "COMMON", "B"), std::nullopt);
    EXPECT_EQ(Lookup(doc, "COMMON", "C"), std::nullopt);
    EXPECT_EQ(Lookup(doc, "OTHER", "C"), "3");
}

TEST(IniDocument, FirstOccurrenceOfAKeyDecidesAndEmptyMeansAbsent)
{
    IniDocument doc = DocumentOf(
        "[COMMON]\r\nTextOpacity=\r\nBackOpacity=5\r\nTextOpacity=70\r\nBackOpacity=6\r\n");
    EXPECT_EQ(Lookup(doc, "COMMON", "TextOpacity"), std::nullopt);
    EXPECT_EQ(Lookup(doc, "COMMON", "BackOpacity"), "5");
}

TEST(IniDocument, UnfinishedLastLineIsSeen)
{
    IniDocument doc = DocumentOf("[COMMON]\r\nFontSize=-20\r\nFormat=%H:%M");
    EXPECT_EQ(Lookup(doc, "COMMON", "Format"), "%H:%M");
    EXPECT_EQ(Lookup(doc, "COMMON", "FontSize"), "-20");
    IniDocument headerOnly = DocumentOf("A=1\n[COMMON]");
    EXPECT_EQ(Lookup(headerOnly, "COMMON", "A"), std::nullopt);
    EXPECT_TRUE(headerOnly.FindSection("COMMON"));
}

TEST(IniDocument, LfOnlyAndCrOnlyTextsRead)
{
    IniDocument lf = DocumentOf("[DIALOG]\nDlgWndPosX=5\n[COMMON]\nFontSize=-20\n");
    EXPECT_EQ(Lookup(lf, "COMMON", "FontSize"), "-20");
    EXPECT_EQ(Lookup(lf, "DIALOG", "DlgWndPosX"), "5");
    IniDocument cr = DocumentOf("[DIALOG]\rDlgWndPosX=5\r[COMMON]\rFontSize=-20\r");
    EXPECT_EQ(Lookup(cr, "COMMON", "FontSize"), "-20");
    EXPECT_EQ(Lookup(cr, "DIALOG", "DlgWndPosX"), "5");
}

TEST(IniDocument, SectionSearchIsCircularFromTheLastSectionFound)
{
    const std::string text = "k=0\r\n[A]\r\nk=1\r\n[B]\r\nk=2\r\n[A]\r\nk=3\r\n";
    IniDocument doc = DocumentOf(text);
    EXPECT_EQ(Lookup(doc, "A", "k"), "1");
    EXPECT_EQ(doc.LastSectionPosition(), text.find("[A]"));
    EXPECT_EQ(Lookup(doc, "B", "k"), "2");
    // The next "[A]" at or after "[B]" is the duplicate further down.
    EXPECT_EQ(Lookup(doc, "A", "k"), "3");
    EXPECT_EQ(Lookup(doc, "A", "k"), "3");
    // Going round from there reaches "[B]" again through the start.
    EXPECT_EQ(Lookup(doc, "B", "k"), "2");
    // A missing section reads every line once and leaves the last position.
    const size_t last = doc.LastSectionPosition();
    EXPECT_FALSE(doc.FindSection("C"));
    EXPECT_EQ(doc.LastSectionPosition(), last);
    // Nothing before the first header belongs to a section.
    EXPECT_EQ(Lookup(doc, "", "k"), std::nullopt);
}

TEST(IniDocument, EmptyOrMissingTextHasNoSections)
{
    testing::MemoryProfileFiles files;
    IniDocument doc;
    doc.ReadProfileFile(files, "");
    EXPECT_EQ(files.reads, 0);
    EXPECT_FALSE(doc.FindSection("COMMON"));
    files.failReads = true;
    doc.SetReadText("[COMMON]\r\nA=1\r\n");
    doc.ReadProfileFile(files, "x.ini");
    EXPECT_EQ(doc.ReadText(), "");
    EXPECT_EQ(Lookup(doc, "COMMON", "A"), std::nullopt);
}

TEST(IniDocument, ComposesCrLfLinesAndGrowsIn100000ByteSteps)
{
    IniDocument doc;
    doc.AppendText("dropped: nothing started");
    EXPECT_EQ(doc.ComposedText(), "");
    doc.StartProfileText();
    EXPECT_EQ(doc.Capacity(), 100000u);
    doc.WriteSectionHeader("  COMMON\t");
    doc.WriteKeyValue(" FontName ", " Arial ");
    EXPECT_EQ(doc.ComposedText(), "[COMMON]\r\nFontName= Arial \r\n");

    const size_t header = doc.ComposedText().size();
    const std::string big(250000, 'x');
    doc.AppendText(big);
    EXPECT_EQ(doc.Capacity(), 300000u);
    doc.AppendText(std::string(300000 - doc.ComposedText().size(), 'y'));
    EXPECT_EQ(doc.Capacity(), 300000u);   // exactly full: no growth
    doc.AppendText("z");
    EXPECT_EQ(doc.Capacity(), 400000u);
    EXPECT_EQ(doc.ComposedText().size(), 300001u);
    EXPECT_TRUE(doc.ComposedText().compare(header, big.size(), big) == 0);
    EXPECT_EQ(doc.ComposedText().back(), 'z');

    doc.StartProfileText();
    EXPECT_EQ(doc.ComposedText(), "");
    EXPECT_EQ(doc.Capacity(), 100000u);
}

TEST(IniDocument, WritesOnlyAChangedText)
{
    testing::MemoryProfileFiles files;
    IniDocument doc;
    EXPECT_EQ(doc.WriteProfileFile(files, "p.ini", ""), IniDocument::WriteResult::NothingComposed);
    doc.StartProfileText();
    EXPECT_EQ(doc.WriteProfileFile(files, "p.ini", ""), IniDocument::WriteResult::NothingComposed);
    doc.WriteKeyValue("A", "1");
    EXPECT_EQ(doc.WriteProfileFile(files, "p.ini", "A=1\r\n"), IniDocument::WriteResult::Unchanged);
    EXPECT_EQ(files.replaces, 0);
    EXPECT_EQ(doc.WriteProfileFile(files, "p.ini", "A=1\n"), IniDocument::WriteResult::Written);
    EXPECT_EQ(files.files["p.ini"], "A=1\r\n");
    files.failReplace = true;
    EXPECT_EQ(doc.WriteProfileFile(files, "p.ini", "A=2\r\n"), IniDocument::WriteResult::Failed);
    EXPECT_EQ(doc.WriteProfileFile(files, "", "A=2\r\n"), IniDocument::WriteResult::Failed);
}

// Real files in a folder of their own.
class IniRealFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = std::filesystem::temp_directory_path() /
                 ("horavel-ini-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    static std::string Slurp(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path folder;
    StdioProfileFiles files;
};

TEST_F(IniRealFiles, MissingFileIsCreatedEmptyAndBytesComeBackExactly)
{
    const std::string path = (folder / "Horavel.ini").string();
    IniDocument doc;
    doc.ReadProfileFile(files, path);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);

    std::string bytes("[COMMON]\r\nFontName=\xC0rial\0x\n", 22);
    bytes += std::string(300000, 'q');
    ASSERT_TRUE(files.Replace(path, bytes));
    doc.ReadProfileFile(files, path);
    EXPECT_EQ(doc.ReadText(), bytes);
    for (const std::string& temporary : TemporaryPathsFor(path))
        EXPECT_FALSE(std::filesystem::exists(temporary)) << temporary;

    // A folder that does not exist: nothing is read and nothing created.
    doc.ReadProfileFile(files, (folder / "missing" / "Horavel.ini").string());
    EXPECT_EQ(doc.ReadText(), "");
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
}

TEST_F(IniRealFiles, StaleTemporariesNeverBlockASaveAndNoneIsLeft)
{
    namespace fs = std::filesystem;
    const std::string path = (folder / "Horavel.ini").string();
    const std::vector<std::string> temporaries = TemporaryPathsFor(path);
    ASSERT_TRUE(files.Replace(path, "old\r\n"));

    // A folder left where the first temporary name is, a file left by a
    // killed save at the second: the save goes through, the folder stays (it
    // is not ours to remove), the stale file goes.
    fs::create_directory(temporaries[0]);
    std::ofstream(temporaries[1]) << "half a profi";
    EXPECT_TRUE(files.Replace(path, "new\r\n"));
    EXPECT_EQ(Slurp(path), "new\r\n");
    EXPECT_TRUE(fs::is_directory(temporaries[0]));
    for (size_t i = 1; i < temporaries.size(); ++i)
        EXPECT_FALSE(fs::exists(temporaries[i])) << temporaries[i];

    // RemoveLeftovers alone (a save that writes nothing) clears them too.
    std::ofstream(temporaries[2]) << "x";
    files.RemoveLeftovers(path);
    EXPECT_FALSE(fs::exists(temporaries[2]));

    // Every temporary name held by a folder: the profile is rewritten in place.
    for (const std::string& temporary : temporaries)
        fs::create_directories(temporary);
    EXPECT_TRUE(files.Replace(path, "in place, longer than before\r\n"));
    EXPECT_EQ(Slurp(path), "in place, longer than before\r\n");
    EXPECT_TRUE(files.Replace(path, "short\r\n"));
    EXPECT_EQ(Slurp(path), "short\r\n");

    // The profile's name is a folder: nothing to replace, nothing left behind.
    const std::string blocked = (folder / "Blocked.ini").string();
    fs::create_directory(blocked);
    fs::create_directory(fs::path(blocked) / "keep");
    EXPECT_FALSE(files.Replace(blocked, "new\r\n"));
    EXPECT_TRUE(fs::is_directory(fs::path(blocked) / "keep"));
    for (const std::string& temporary : TemporaryPathsFor(blocked))
        EXPECT_FALSE(fs::exists(temporary));
}

#if !defined(_WIN32)
TEST_F(IniRealFiles, ASaveKeepsTheLinkAndTheModeOfTheProfile)
{
    namespace fs = std::filesystem;
    const fs::path target = folder / "elsewhere" / "real.ini";
    fs::create_directories(target.parent_path());
    std::ofstream(target) << "old\r\n";
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const std::string link = (folder / "Horavel.ini").string();
    fs::create_symlink(target, link);

    ASSERT_TRUE(files.Replace(link, "new\r\n"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), target);
    EXPECT_EQ(Slurp(target), "new\r\n");
    EXPECT_EQ(fs::status(target).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    for (const std::string& temporary : TemporaryPathsFor(target.string()))
        EXPECT_FALSE(fs::exists(temporary));
}
#endif

} // namespace
} // namespace horavel
