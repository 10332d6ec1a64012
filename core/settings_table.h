// The settings table: for each of the 17 persisted values its type code, its
// profile key, the record member it lives in and its default, plus the
// conversions between profile texts and values that the type codes define.
#pragma once

#include "core/settings_store.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace horavel {

// Type codes. The table uses 0, 5, 6, 8 and 12; reading and writing handle
// every code up to 12, and skip rows with a higher code.
//   0        unsigned 8-bit     "%u"
//   1        signed 16-bit      "%d" of the sign-extended value
//   2, 3     unsigned 16-bit    "%u"
//   4 5 7 9  unsigned 32-bit    "%u"
//   6, 8     signed 32-bit      "%d"
//   10       signed 64-bit      "%I64d"
//   11       unsigned 64-bit    "%I64u"
//   12       text, unchanged
inline constexpr uint32_t kTypeText = 12;
inline constexpr uint32_t kLastTypeCode = 12;

enum class Storage { U8, S16, U16, U32, S32, S64, U64, Text, None };

constexpr Storage StorageOf(uint32_t typeCode)
{
    switch (typeCode) {
    case 0: return Storage::U8;
    case 1: return Storage::S16;
    case 2: case 3: return Storage::U16;
    case 4: case 5: case 7: case 9: return Storage::U32;
    case 6: case 8: return Storage::S32;
    case 10: return Storage::S64;
    case 11: return Storage::U64;
    case 12: return Storage::Text;
    default: return Storage::None;
    }
}

// Bytes a numeric code occupies (0 for text and unknown codes).
constexpr unsigned StorageBytes(Storage storage)
{
    switch (storage) {
    case Storage::U8: return 1;
    case Storage::S16: case Storage::U16: return 2;
    case Storage::U32: case Storage::S32: return 4;
    case Storage::S64: case Storage::U64: return 8;
    default: return 0;
    }
}

// The run-time library's decimal readers, made exact and portable: skip
// leading white space (blank, \t \n \v \f \r), take one optional sign and the
// decimal digits up to the first other character; no digits gives 0. The
// value wraps modulo 2^32 (Atoi, Atol) or 2^64 (Atoi64) instead of saturating,
// so every number written with "%u" or "%I64u" reads back to the same bits.
uint64_t ParseDecimalWrapping(std::string_view text);
inline int32_t Atoi(std::string_view text) { return static_cast<int32_t>(ParseDecimalWrapping(text)); }
inline int32_t Atol(std::string_view text) { return Atoi(text); }
inline int64_t Atoi64(std::string_view text) { return static_cast<int64_t>(ParseDecimalWrapping(text)); }

// Text to value for a numeric code: the value cut to the code's width,
// zero-extended into 64 bits. Codes 0..9 read with Atoi, 10 and 11 with Atoi64.
uint64_t ParseByTypeCode(uint32_t typeCode, std::string_view text);

// The low bytes of `cell` that a numeric code stores, zero-extended.
uint64_t CutToStorage(uint32_t typeCode, uint64_t cell);

// Value to text for a numeric code; only the code's low bytes of `cell` count.
std::string FormatByTypeCode(uint32_t typeCode, uint64_t cell);

// The 8-byte default cell of a row: the low 1, 2, 4 or 8 bytes of `bits` for a
// numeric code (negative values sign-extended to 64 bits), the default text for
// code 12. Which member is meant follows from the row's type code.
union DefaultCell {
    uint64_t bits;
    const char* text;
    constexpr DefaultCell(uint64_t value) : bits(value) {}
    constexpr DefaultCell(int64_t value) : bits(static_cast<uint64_t>(value)) {}
    constexpr DefaultCell(int value) : bits(static_cast<uint64_t>(int64_t{value})) {}
    constexpr DefaultCell(const char* value) : text(value) {}
};
static_assert(sizeof(DefaultCell) == 8);

// Where a row's value lives in a record.
template <class Record>
using FieldLocation = std::variant<uint8_t Record::*, int16_t Record::*, uint16_t Record::*,
                                   int32_t Record::*, uint32_t Record::*, int64_t Record::*,
                                   uint64_t Record::*, std::string Record::*>;

template <class Record>
struct BasicTableRow {
    uint32_t typeCode;
    const char* key;
    FieldLocation<Record> location;
    DefaultCell defaultValue;
    // A value newer than the profiles written before it: left out of the
    // profile while it holds its default, so that those profiles keep their
    // bytes; a missing key reads as the default.
    bool omittedAtDefault = false;
};

using SettingsTableRow = BasicTableRow<SettingsRecord>;

// The 17 rows in record and file order.
std::span<const SettingsTableRow> SettingsTable();

// --- table-driven reading and writing -------------------------------------

// Stores a numeric value into a row's member, writing exactly the member's
// width. A numeric value never goes into a text member.
template <class Record>
void StoreNumber(Record& record, const FieldLocation<Record>& location, uint64_t cell)
{
    std::visit(
        [&](auto member) {
            using Member = std::remove_reference_t<decltype(record.*member)>;
            if constexpr (std::is_integral_v<Member>)
                record.*member = static_cast<Member>(cell);
        },
        location);
}

template <class Record>
void StoreText(Record& record, const FieldLocation<Record>& location, std::string_view text)
{
    if (auto member = std::get_if<std::string Record::*>(&location))
        record.**member = std::string(text);
}

// The row's member as a 64-bit cell (sign-extended for signed members);
// a text member gives 0.
template <class Record>
uint64_t LoadNumber(const Record& record, const FieldLocation<Record>& location)
{
    return std::visit(
        [&](auto member) -> uint64_t {
            using Member = std::remove_cvref_t<decltype(record.*member)>;
            if constexpr (std::is_integral_v<Member>) {
                if constexpr (std::is_signed_v<Member>)
                    return static_cast<uint64_t>(static_cast<int64_t>(record.*member));
                else
                    return static_cast<uint64_t>(record.*member);
            } else {
                return 0;
            }
        },
        location);
}

template <class Record>
void StoreDefault(Record& record, const BasicTableRow<Record>& row)
{
    const Storage storage = StorageOf(row.typeCode);
    if (storage == Storage::None)
        return;
    if (storage == Storage::Text)
        StoreText(record, row.location, row.defaultValue.text ? row.defaultValue.text : "");
    else
        StoreNumber(record, row.location, CutToStorage(row.typeCode, row.defaultValue.bits));
}

// Fills `record` row by row: `lookup(key)` gives the value text when the
// section holds the key with a non-empty value; otherwise the row's default
// is stored. Rows with a code above 12 are left as they are.
template <class Record, class Lookup>
void ReadTable(std::span<const BasicTableRow<Record>> rows, Record& record, Lookup&& lookup)
{
    for (const BasicTableRow<Record>& row : rows) {
        const Storage storage = StorageOf(row.typeCode);
        if (storage == Storage::None)
            continue;
        std::optional<std::string> text = lookup(row.key);
        if (!text) {
            StoreDefault(record, row);
        } else if (storage == Storage::Text) {
            StoreText(record, row.location, *text);
        } else {
            StoreNumber(record, row.location, ParseByTypeCode(row.typeCode, *text));
        }
    }
}

// Calls `emit(row, text)` for every row with a code up to 12, in table order.
template <class Record, class Emit>
void WriteTable(std::span<const BasicTableRow<Record>> rows, const Record& record, Emit&& emit)
{
    for (const BasicTableRow<Record>& row : rows) {
        const Storage storage = StorageOf(row.typeCode);
        if (storage == Storage::None)
            continue;
        if (storage == Storage::Text) {
            auto member = std::get_if<std::string Record::*>(&row.location);
            emit(row, member ? record.**member : std::string());
        } else {
            emit(row, FormatByTypeCode(row.typeCode, LoadNumber(record, row.location)));
        }
    }
}

// True when a row's value text is not written into a profile: the row is
// omitted at its default, and the text is the default's.
template <class Record>
bool OmittedFromProfile(const BasicTableRow<Record>& row, const std::string& text)
{
    if (!row.omittedAtDefault)
        return false;
    if (StorageOf(row.typeCode) == Storage::Text)
        return text == (row.defaultValue.text ? row.defaultValue.text : "");
    return text == FormatByTypeCode(row.typeCode, CutToStorage(row.typeCode, row.defaultValue.bits));
}

} // namespace horavel
