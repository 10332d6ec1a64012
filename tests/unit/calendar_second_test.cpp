// The calendar second the frame pipeline reads on Windows, from the system
// time in FILETIME units.
#include "core/calendar_second.h"

#include <gtest/gtest.h>

#include <ctime>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace horavel {
namespace {

constexpr uint64_t kEpoch = uint64_t{116444736000000000};  // 1970-01-01 in 100 ns units since 1601

TEST(CalendarSecond, WholeSecondsSince1970RoundedDown)
{
    EXPECT_EQ(CalendarSecondFromFileTime(kEpoch), 0);
    EXPECT_EQ(CalendarSecondFromFileTime(kEpoch + 9999999), 0);
    EXPECT_EQ(CalendarSecondFromFileTime(kEpoch + 10000000), 1);
    EXPECT_EQ(CalendarSecondFromFileTime(kEpoch - 1), -1);
    EXPECT_EQ(CalendarSecondFromFileTime(0), -11644473600);
    // 2021-07-01 12:00:00.5 UTC; and a second past 2038 (32-bit time_t ends).
    EXPECT_EQ(CalendarSecondFromFileTime(kEpoch + uint64_t{1625140800} * 10000000 + 5000000), 1625140800);
    EXPECT_EQ(CalendarSecondFromFileTime(kEpoch + uint64_t{2147483648} * 10000000), 2147483648);
}

#if defined(_WIN32)
TEST(CalendarSecond, AgreesWithTheRuntimesTime)
{
    // Read between two time() calls that give the same second, the system
    // time must fall into that second.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::time_t before = std::time(nullptr);
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        const std::time_t after = std::time(nullptr);
        if (before != after)
            continue;
        EXPECT_EQ(CalendarSecondFromFileTime((uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime),
                  static_cast<int64_t>(before));
        return;
    }
    FAIL() << "the second changed on every attempt";
}
#endif

} // namespace
} // namespace horavel
