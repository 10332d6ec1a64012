#include "core/settings_table.h"

#include <cinttypes>
#include <cstdio>

namespace horavel {

namespace {

constexpr bool IsAtoiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const SettingsTableRow kSettingsTable[] = {
    {6, "StringPosX", &SettingsRecord::StringPosX, 0},
    {6, "StringPosY", &SettingsRecord::StringPosY, 0},
    {12, "FontName", &SettingsRecord::FontName, "Arial"},
    {8, "FontSize", &SettingsRecord::FontSize, -34},
    {8, "FontWeight", &SettingsRecord::FontWeight, 700},
    {0, "FontItalic", &SettingsRecord::FontItalic, 0},
    {0, "FontUnderline", &SettingsRecord::FontUnderline, 1},
    {0, "FontStrikeOut", &SettingsRecord::FontStrikeOut, 0},
    {0, "FontCharSet", &SettingsRecord::FontCharSet, 1},
    {0, "FontQuality", &SettingsRecord::FontQuality, 4},
    {5, "TextColor", &SettingsRecord::TextColor, 0x00C0C0C0},
    {5, "BackColor", &SettingsRecord::BackColor, 0x00800000},
    {6, "TextOpacity", &SettingsRecord::TextOpacity, 60},
    {6, "BackOpacity", &SettingsRecord::BackOpacity, 30},
    {6, "ShadowOffset", &SettingsRecord::ShadowOffset, 8},
    {12, "Format", &SettingsRecord::Format, "%H:%M:%S"},
    {0, "KeepShape", &SettingsRecord::KeepShape, 0, true},
};
static_assert(std::size(kSettingsTable) == 17);

} // namespace

uint64_t ParseDecimalWrapping(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && IsAtoiSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Unsigned arithmetic wraps modulo 2^64; the low 32 bits of the result are
    // then exactly the value modulo 2^32.
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10u + static_cast<uint64_t>(text[i] - '0');
    return negative ? 0u - value : value;
}

uint64_t CutToStorage(uint32_t typeCode, uint64_t cell)
{
    switch (StorageBytes(StorageOf(typeCode))) {
    case 1: return cell & 0xFFu;
    case 2: return cell & 0xFFFFu;
    case 4: return cell & 0xFFFFFFFFu;
    case 8: return cell;
    default: return 0;
    }
}

uint64_t ParseByTypeCode(uint32_t typeCode, std::string_view text)
{
    const Storage storage = StorageOf(typeCode);
    if (storage == Storage::S64 || storage == Storage::U64)
        return static_cast<uint64_t>(Atoi64(text));
    // atoi gives a 32-bit int; narrower codes keep its low bits.
    return CutToStorage(typeCode, static_cast<uint32_t>(Atoi(text)));
}

std::string FormatByTypeCode(uint32_t typeCode, uint64_t cell)
{
    char text[32] = {};
    switch (StorageOf(typeCode)) {
    case Storage::U8:
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(static_cast<uint8_t>(cell)));
        break;
    case Storage::S16:
        std::snprintf(text, sizeof text, "%d", static_cast<int>(static_cast<int16_t>(cell)));
        break;
    case Storage::U16:
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(static_cast<uint16_t>(cell)));
        break;
    case Storage::U32:
        std::snprintf(text, sizeof text, "%" PRIu32, static_cast<uint32_t>(cell));
        break;
    case Storage::S32:
        std::snprintf(text, sizeof text, "%" PRId32, static_cast<int32_t>(cell));
        break;
    case Storage::S64:
        std::snprintf(text, sizeof text, "%" PRId64, static_cast<int64_t>(cell));
        break;
    case Storage::U64:
        std::snprintf(text, sizeof text, "%" PRIu64, cell);
        break;
    default:
        break;
    }
    return text;
}

std::span<const SettingsTableRow> SettingsTable()
{
    return kSettingsTable;
}

SettingsRecord TableDefaults()
{
    SettingsRecord record;
    for (const SettingsTableRow& row : SettingsTable())
        StoreDefault(record, row);
    return record;
}

} // namespace horavel
