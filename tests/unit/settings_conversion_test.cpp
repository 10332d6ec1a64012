#include "core/settings_table.h"

#include <gtest/gtest.h>

#include <random>

namespace horavel {
namespace {

TEST(SettingsConversion, DecimalReadingFollowsAtoi)
{
    EXPECT_EQ(Atoi("abc"), 0);
    EXPECT_EQ(Atoi(""), 0);
    EXPECT_EQ(Atoi("12abc"), 12);
    EXPECT_EQ(Atoi(" \t\v\f-42 7"), -42);
    EXPECT_EQ(Atoi("+7"), 7);
    EXPECT_EQ(Atoi("0x1F"), 0);
    EXPECT_EQ(Atoi("- 5"), 0);
    EXPECT_EQ(Atoi("--5"), 0);
    EXPECT_EQ(Atoi("007"), 7);
    EXPECT_EQ(Atoi(std::string_view("12\0" "34", 5)), 12);
    // Wraps modulo 2^32 rather than saturating.
    EXPECT_EQ(Atoi("4294967295"), -1);
    EXPECT_EQ(Atoi("4294967296"), 0);
    EXPECT_EQ(Atoi("-2147483648"), INT32_MIN);
    EXPECT_EQ(Atoi("2147483648"), INT32_MIN);
    EXPECT_EQ(Atoi64("18446744073709551615"), -1);
    EXPECT_EQ(Atoi64("-9223372036854775808"), INT64_MIN);
    // A very long run of digits neither hangs nor overflows into UB.
    EXPECT_EQ(Atoi(std::string(100000, '9')), static_cast<int32_t>(ParseDecimalWrapping(std::string(100000, '9'))));
}

TEST(SettingsConversion, NarrowCodesKeepTheLowBits)
{
    EXPECT_EQ(ParseByTypeCode(0, "300"), 44u);
    EXPECT_EQ(FormatByTypeCode(0, 44), "44");
    EXPECT_EQ(ParseByTypeCode(0, "-1"), 255u);
    EXPECT_EQ(ParseByTypeCode(1, "40000"), 40000u - 65536u + 65536u);   // low 16 bits: 0x9C40
    EXPECT_EQ(FormatByTypeCode(1, ParseByTypeCode(1, "40000")), "-25536");
    EXPECT_EQ(FormatByTypeCode(2, ParseByTypeCode(2, "-1")), "65535");
    EXPECT_EQ(FormatByTypeCode(3, ParseByTypeCode(3, "65537")), "1");
    EXPECT_EQ(FormatByTypeCode(5, ParseByTypeCode(5, "4294967295")), "4294967295");
    EXPECT_EQ(ParseByTypeCode(5, "4294967295"), 0xFFFFFFFFu);
    EXPECT_EQ(FormatByTypeCode(6, ParseByTypeCode(6, "4294967295")), "-1");
    EXPECT_EQ(FormatByTypeCode(8, ParseByTypeCode(8, "-34")), "-34");
    EXPECT_EQ(FormatByTypeCode(4, ParseByTypeCode(4, "-1")), "4294967295");
    // atoi is 32-bit even for values that would fit a wider reading.
    EXPECT_EQ(ParseByTypeCode(9, "4294967297"), 1u);
    EXPECT_EQ(FormatByTypeCode(10, ParseByTypeCode(10, "-9223372036854775808")), "-9223372036854775808");
    EXPECT_EQ(FormatByTypeCode(11, ParseByTypeCode(11, "18446744073709551615")), "18446744073709551615");
    EXPECT_EQ(FormatByTypeCode(10, ParseByTypeCode(10, "18446744073709551615")), "-1");
    EXPECT_EQ(FormatByTypeCode(13, 5), "");
    EXPECT_EQ(StorageOf(13), Storage::None);
    EXPECT_EQ(StorageOf(0xFFFFFFFFu), Storage::None);
}

TEST(SettingsConversion, EveryNumericCodeReadsBackWhatItWrites)
{
    std::mt19937_64 rng(20261208);
    for (uint32_t code = 0; code <= 11; ++code) {
        SCOPED_TRACE(code);
        const uint64_t edges[] = {0, 1, 0x7F, 0x80, 0xFF, 0x7FFF, 0x8000, 0xFFFF, 0x7FFFFFFF,
                                  0x80000000, 0xFFFFFFFF, 0x7FFFFFFFFFFFFFFF,
                                  0x8000000000000000, 0xFFFFFFFFFFFFFFFF};
        auto check = [&](uint64_t value) {
            const uint64_t stored = CutToStorage(code, value);
            EXPECT_EQ(ParseByTypeCode(code, FormatByTypeCode(code, stored)), stored) << value;
        };
        for (uint64_t v : edges)
            check(v);
        for (int i = 0; i < 2000; ++i)
            check(rng());
    }
}

// A record with a member for every storage, to drive the table reader and
// writer over all thirteen codes.
struct WideRecord {
    uint8_t u8 = 0;
    int16_t s16 = 0;
    uint16_t u16a = 0, u16b = 0;
    uint32_t u32a = 0, u32b = 0, u32c = 0, u32d = 0;
    int32_t s32a = 0, s32b = 0;
    int64_t s64 = 0;
    uint64_t u64 = 0;
    std::string text;
    int32_t skipped = 5;
};

const BasicTableRow<WideRecord> kWideTable[] = {
    {0, "U8", &WideRecord::u8, 7},
    {1, "S16", &WideRecord::s16, -2},
    {2, "U16a", &WideRecord::u16a, 3},
    {3, "U16b", &WideRecord::u16b, 4},
    {4, "U32a", &WideRecord::u32a, 5},
    {5, "U32b", &WideRecord::u32b, 6},
    {7, "U32c", &WideRecord::u32c, 7},
    {9, "U32d", &WideRecord::u32d, 8},
    {6, "S32a", &WideRecord::s32a, -9},
    {8, "S32b", &WideRecord::s32b, -10},
    {10, "S64", &WideRecord::s64, int64_t{-11}},
    {11, "U64", &WideRecord::u64, uint64_t{12}},
    {12, "Text", &WideRecord::text, "dflt"},
    {13, "Skipped", &WideRecord::skipped, 99},
};

TEST(SettingsConversion, TableReaderAndWriterCoverAllCodes)
{
    std::vector<std::pair<std::string, std::string>> lines;
    WideRecord given;
    given.u8 = 200;
    given.s16 = -32768;
    given.u16a = 65535;
    given.u16b = 1;
    given.u32a = 0xFFFFFFFF;
    given.u32b = 0x80000000;
    given.u32c = 123;
    given.u32d = 0;
    given.s32a = INT32_MIN;
    given.s32b = INT32_MAX;
    given.s64 = INT64_MIN;
    given.u64 = UINT64_MAX;
    given.text = " a=b ";
    WriteTable<WideRecord>(kWideTable, given, [&](const BasicTableRow<WideRecord>& row, const std::string& text) {
        lines.emplace_back(row.key, text);
    });
    ASSERT_EQ(lines.size(), 13u);   // code 13 is not written
    EXPECT_EQ(lines[0].second, "200");
    EXPECT_EQ(lines[1].second, "-32768");
    EXPECT_EQ(lines[4].second, "4294967295");
    EXPECT_EQ(lines[8].second, "-2147483648");
    EXPECT_EQ(lines[10].second, "-9223372036854775808");
    EXPECT_EQ(lines[11].second, "18446744073709551615");
    EXPECT_EQ(lines[12].second, " a=b ");

    WideRecord back;
    back.skipped = 42;
    ReadTable<WideRecord>(kWideTable, back, [&](const char* key) -> std::optional<std::string> {
        for (auto& [k, v] : lines)
            if (k == key)
                return v;
        return std::nullopt;
    });
    given.skipped = 42;   // the reader leaves a code-13 row alone
    EXPECT_EQ(std::tie(back.u8, back.s16, back.u16a, back.u16b, back.u32a, back.u32b, back.u32c, back.u32d,
                       back.s32a, back.s32b, back.s64, back.u64, back.text, back.skipped),
              std::tie(given.u8, given.s16, given.u16a, given.u16b, given.u32a, given.u32b, given.u32c,
                       given.u32d, given.s32a, given.s32b, given.s64, given.u64, given.text, given.skipped));

    // With nothing found every row takes its default, cut to its width.
    WideRecord defaults;
    ReadTable<WideRecord>(kWideTable, defaults, [](const char*) { return std::optional<std::string>(); });
    EXPECT_EQ(defaults.u8, 7);
    EXPECT_EQ(defaults.s16, -2);
    EXPECT_EQ(defaults.s32b, -10);
    EXPECT_EQ(defaults.s64, -11);
    EXPECT_EQ(defaults.u64, 12u);
    EXPECT_EQ(defaults.text, "dflt");
    EXPECT_EQ(defaults.skipped, 5);
}

} // namespace
} // namespace horavel
