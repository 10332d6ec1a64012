// The filter-table builder as a 32-bit x87 build runs it: this file and the
// builder are compiled with x87 arithmetic (-mfpmath=387, with the product's
// -ffloat-store) and the builder's namespace renamed, so that it links beside
// the SSE2 build of the same source.
#include "composite/filter_table.h"
#include "table_bytes.h"

#include <vector>

std::vector<uint8_t> X87FilterTable(int32_t sourceSize, int32_t destinationSize, int32_t first, int32_t count)
{
    return TableBytes<horavel::FilterTable>(count, [&](horavel::FilterTable& table) {
        return horavel::BuildFilterTable(sourceSize, destinationSize, first, count, 4, table);
    });
}

// Whether a sum is rounded twice, as the x87 unit does with -ffloat-store:
// first to its 64-bit significand, then to double. 1 + (2^-53 + 2^-80) is a
// little over half an ulp above 1, so rounded once it is the next double
// above 1; rounded to 64 bits first it becomes a tie, which rounds to 1.
bool SumsRoundTwice()
{
    static volatile double one = 1.0;
    static volatile double smidgen = 0x1.0000002p-53;
    const double sum = one + smidgen;
    return sum == 1.0;
}
