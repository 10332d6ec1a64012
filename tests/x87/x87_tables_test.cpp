// The 32-bit DLL builds its filter tables with x87 arithmetic, the 64-bit
// one and the native build with SSE2: every table the product can make, for
// frames up to 8192 pixels and clocks up to the reference size, holds the
// same bytes in both. By default, of each table, six entries (the first,
// the last and four between) and every entry whose window starts exactly at
// a whole source sample, the only ones where a rounding of the window start
// can move a tap; HORAVEL_X87_ENTRIES=all compares every entry of every
// table, which takes hours for frames up to 8192 pixels (minutes with
// HORAVEL_X87_LARGEST_FRAME=1920).
#include "composite/filter_table.h"
#include "pipeline/frame_pipeline.h"
#include "core/muldiv.h"
#include "table_bytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

std::vector<uint8_t> X87FilterTable(int32_t sourceSize, int32_t destinationSize, int32_t first, int32_t count);
bool SumsRoundTwice();

namespace horavel {
namespace {

std::vector<uint8_t> Sse2FilterTable(int32_t sourceSize, int32_t destinationSize, int32_t first, int32_t count)
{
    return TableBytes<FilterTable>(count, [&](FilterTable& table) {
        return BuildFilterTable(sourceSize, destinationSize, first, count, 4, table);
    });
}

// Calls visit(i) for every i in 0 .. count - 1 with a * i = b (mod m).
template <typename Visit>
void SolveCongruence(int64_t a, int64_t b, int64_t m, int32_t count, Visit visit)
{
    // Extended Euclid: g = gcd(a, m) = a * x + m * y.
    int64_t g = a, x = 1, r1 = m, x1 = 0;
    while (r1 != 0) {
        const int64_t q = g / r1;
        std::swap(g, r1);
        r1 -= q * g;
        std::swap(x, x1);
        x1 -= q * x;
    }
    b = ((b % m) + m) % m;
    if (b % g != 0)
        return;
    const int64_t period = m / g;
    const int64_t first = ((x % period + period) % period) * (b / g) % period;
    for (int64_t i = first; i < count; i += period)
        visit(static_cast<int32_t>(i));
}

// The outputs of a scale whose window start (i + 1/2) * s / d - radius is a
// whole number: radius is 3 when scaling up, 3 * s / d when scaling down.
template <typename Visit>
void WholeWindowStarts(int32_t s, int32_t d, Visit visit)
{
    if (d >= s)
        SolveCongruence(2 * int64_t{s}, 6 * int64_t{d} - s, 2 * int64_t{d}, d, visit);  // (2i + 1) s = 6d
    else
        SolveCongruence(2 * int64_t{s}, 5 * int64_t{s}, 2 * int64_t{d}, d, visit);  // (2i - 5) s = 0
}

TEST(X87FilterTables, EqualTheSse2Build)
{
    const char* largestText = std::getenv("HORAVEL_X87_LARGEST_FRAME");
    const int32_t largestFrame = largestText && std::atoi(largestText) > 0 ? std::atoi(largestText) : 8192;
    const char* entriesText = std::getenv("HORAVEL_X87_ENTRIES");
    const bool all = entriesText && std::string(entriesText) == "all";
    // The other side computes as x87 does, rounding twice, and this one not.
    ASSERT_TRUE(SumsRoundTwice());
    volatile double one = 1.0, smidgen = 0x1.0000002p-53;
    ASSERT_NE(one + smidgen, 1.0);

    // (source, destination) pairs seen, over both directions.
    std::vector<std::vector<bool>> seen(kReferenceFrame.width + 1, std::vector<bool>(largestFrame + 1));
    int64_t tables = 0, entries = 0, differing = 0;
    const auto compare = [&](int32_t source, int32_t destination, int32_t first, int32_t count) {
        const std::vector<uint8_t> sse2 = Sse2FilterTable(source, destination, first, count);
        ASSERT_FALSE(sse2.empty());
        entries += count;
        if (sse2 != X87FilterTable(source, destination, first, count)) {
            ++differing;
            ADD_FAILURE() << source << " -> " << destination << ", entries " << first << " .. "
                          << first + count - 1;
        }
    };
    for (const int32_t reference : {kReferenceFrame.width, kReferenceFrame.height}) {
        for (int32_t source = 1; source <= reference; ++source) {
            const int32_t thousandths = MulDiv(source, 1000, reference);
            for (int32_t frame = 1; frame <= largestFrame; ++frame) {
                const int32_t destination = MulDiv(frame, thousandths, 1000);
                if (destination < 1 || seen[source][destination])
                    continue;
                seen[source][destination] = true;
                ++tables;
                if (all || destination <= 6) {
                    compare(source, destination, 0, destination);
                    continue;
                }
                for (int32_t k = 0; k < 6; ++k)
                    compare(source, destination, MulDiv(k, destination - 1, 5), 1);
                WholeWindowStarts(source, destination, [&](int32_t i) { compare(source, destination, i, 1); });
            }
        }
    }
    std::printf("x87 filter tables for frames up to %d: %lld tables, %lld entries compared, %lld differ\n",
                largestFrame, static_cast<long long>(tables), static_cast<long long>(entries),
                static_cast<long long>(differing));
    EXPECT_EQ(differing, 0);
}

} // namespace
} // namespace horavel
