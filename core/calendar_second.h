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

// Tells, from the system's millisecond tick count, whether the calendar
// second of the last system-time reading can still be running. Reading the
// system time is a system call, and on a frame whose caches have gone cold
// it costs more than the blend of a small clock; the tick count is a plain
// memory read. A frame then reads the system time only in the last
// kMarginMs milliseconds of a second (or when the tick count went
// backwards, wrapped or stood still too long) and trusts the second it has
// otherwise.
//
// Both the tick count and the system time advance in steps of up to about
// 16 ms (the timer interrupt; under Wine the server's update period, about
// 20 ms on a loaded machine), so a reading can lag the true time by one
// step each: the margin covers both lags several times over. A change of
// the system clock is seen at the latest when the tick count reaches the
// end of the second that was read, less than a second later.
class SecondGate {
public:
    static constexpr uint32_t kMarginMs = 100;
    // However still the tick count stands, the system time is read again
    // after this many frames without a reading.
    static constexpr uint32_t kMostTrustedCalls = 1000;

    // True, with the second, when `tick` proves that the second of the last
    // reading has not ended yet.
    bool Trusted(uint32_t tick, int64_t* second)
    {
        if (m_budget == 0 || tick - m_tick >= m_budget || m_calls >= kMostTrustedCalls)
            return false;
        ++m_calls;
        *second = m_second;
        return true;
    }

    // A system-time reading (FILETIME units) and the tick count read just
    // before it.
    int64_t Note(uint64_t hundredNanoseconds, uint32_t tickBefore)
    {
        m_second = CalendarSecondFromFileTime(hundredNanoseconds);
        const uint32_t left = 1000 - static_cast<uint32_t>(hundredNanoseconds / 10000 % 1000);
        m_budget = left > kMarginMs ? left - kMarginMs : 0;
        m_tick = tickBefore;
        m_calls = 0;
        return m_second;
    }

private:
    int64_t m_second = 0;
    uint32_t m_tick = 0;
    uint32_t m_budget = 0;  // ticks after m_tick the second is trusted for
    uint32_t m_calls = 0;
};

// Whether the frame may read the tick count from the system's shared page
// instead of calling GetTickCount: only after the two agreed at a
// system-time reading, and never again once they disagreed (or the page
// gave no consistent value). Every system-time reading compares them.
class SharedTickCheck {
public:
    static constexpr uint32_t kToleranceMs = 32;

    bool UseShared() const { return m_useShared; }

    // `sharedRead`: the page gave a consistent value, `shared`; `system`:
    // what GetTickCount returned at the same moment.
    void Compare(bool sharedRead, uint32_t shared, uint32_t system)
    {
        const bool agree = sharedRead && shared - system + kToleranceMs <= 2 * kToleranceMs;
        m_failed = m_failed || !agree;
        m_useShared = !m_failed;
    }

private:
    bool m_useShared = false;
    bool m_failed = false;
};

} // namespace horavel
