// The calendar second (seconds since 1970-01-01 00:00 UTC, what time()
// returns) of a system time in 100-nanosecond units since 1601-01-01 UTC,
// the unit of the Windows FILETIME.
#pragma once

#include <cstdint>

namespace horavel {

// Seconds from 1601-01-01 to 1970-01-01.
inline constexpr int64_t kSecondsFrom1601To1970 = 11644473600;

// Rounded down to the whole second, also before 1970.
constexpr int64_t CalendarSecondFromFileTime(uint64_t hundredNanoseconds)
{
    return static_cast<int64_t>(hundredNanoseconds / 10000000u) - kSecondsFrom1601To1970;
}

} // namespace horavel
