// The bytes of a filter table's entries first .. first + count - 1, built
// by whichever build of the table builder `Build` calls (empty when it
// refuses).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

template <class Table, class Build>
std::vector<uint8_t> TableBytes(int32_t count, Build&& build)
{
    Table table;
    if (!build(table))
        return {};
    const uint8_t* entry = table.entries.block.data();
    const uint8_t* end = entry;
    for (int32_t i = 0; i < count; ++i) {
        int32_t taps;
        std::memcpy(&taps, end + 4, 4);
        end += 8 + 8 * taps;
    }
    return std::vector<uint8_t>(entry, end);
}
