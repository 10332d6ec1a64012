// The calendar second the frame pipeline reads on Windows, from the system
// time in FILETIME units.
#include "core/calendar_second.h"

#include <gtest/gtest.h>

#include <ctime>
#include <random>

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

// A host's frames against a simulated machine whose tick count and system
// time both advance in steps (the timer interrupt, Wine's server updates),
// each with its own phase: whenever the gate vouches for a second, the
// system time read at that moment would have given the same second; and it
// vouches for most frames, or it would save nothing.
TEST(SecondGate, VouchesOnlyForTheSecondTheSystemTimeGives)
{
    std::mt19937 random(20261208);
    for (int run = 0; run < 40; ++run) {
        const int64_t tickStep = std::uniform_int_distribution<int64_t>(1, 20)(random);
        const int64_t timeStep = std::uniform_int_distribution<int64_t>(1, 20)(random);
        const int64_t tickPhase = std::uniform_int_distribution<int64_t>(0, tickStep - 1)(random);
        const int64_t timePhase = std::uniform_int_distribution<int64_t>(0, timeStep - 1)(random);
        // The tick count starts near its wrap, so the run crosses it.
        const uint32_t tickBase = 0xFFFFFFFFu - std::uniform_int_distribution<uint32_t>(0, 60000)(random);
        const int64_t frameGap = std::uniform_int_distribution<int64_t>(1, 60)(random);
        const uint64_t start = kEpoch + uint64_t{1700000000} * 10000000;
        SecondGate gate;
        int trusted = 0, frames = 0;
        for (int64_t ms = 0; ms < 120000; ms += frameGap, ++frames) {
            const int64_t tickMs = (ms + tickPhase) / tickStep * tickStep;
            const int64_t timeMs = (ms + timePhase) / timeStep * timeStep;
            const uint32_t tick = tickBase + static_cast<uint32_t>(tickMs);
            const uint64_t systemTime = start + uint64_t(timeMs) * 10000 + 3333;
            const int64_t truth = CalendarSecondFromFileTime(systemTime);
            int64_t second = -1;
            if (gate.Trusted(tick, &second)) {
                ++trusted;
                ASSERT_EQ(second, truth) << "run " << run << " at " << ms << " ms";
            } else {
                ASSERT_EQ(gate.Note(systemTime, tick), truth);
            }
        }
        // Frames in the margin and those just after a reading that falls
        // into it read the system time; at most a few per second.
        const int perSecond = static_cast<int>(1000 / frameGap);
        EXPECT_GE(trusted, frames - 120 * (perSecond * 20 / 100 + 2)) << "run " << run;
    }
}

TEST(SecondGate, ReadsTheSystemTimeWhenTheTickCountCannotVouch)
{
    const uint64_t second = kEpoch + uint64_t{1700000000} * 10000000;
    int64_t s = 0;
    SecondGate gate;
    EXPECT_FALSE(gate.Trusted(5000, &s)) << "nothing was read yet";

    // Read 200 ms into a second: trusted for 700 ticks, not for 701.
    gate.Note(second + 2000000, 5000);
    EXPECT_TRUE(gate.Trusted(5699, &s));
    EXPECT_EQ(s, 1700000000);
    EXPECT_FALSE(gate.Trusted(5700, &s));

    // A tick count that went backwards proves nothing.
    gate.Note(second + 2000000, 5000);
    EXPECT_FALSE(gate.Trusted(4999, &s));

    // Read in the last 100 ms of a second: never trusted.
    gate.Note(second + 9000000, 5000);
    EXPECT_FALSE(gate.Trusted(5000, &s));

    // A tick count that stands still is trusted a bounded number of times.
    gate.Note(second, 5000);
    uint32_t calls = 0;
    while (gate.Trusted(5000, &s) && calls <= SecondGate::kMostTrustedCalls)
        ++calls;
    EXPECT_EQ(calls, SecondGate::kMostTrustedCalls);

    // Before 1970 the second is rounded down as well.
    gate.Note(kEpoch - 5000000, 7);
    EXPECT_TRUE(gate.Trusted(7, &s));
    EXPECT_EQ(s, -1);
}

TEST(SharedTickCheck, TheSharedCopyIsUsedOnlyWhileItHasAlwaysAgreed)
{
    SharedTickCheck check;
    EXPECT_FALSE(check.UseShared()) << "not before a comparison";
    check.Compare(true, 1000, 1000);
    EXPECT_TRUE(check.UseShared());
    // Within the tolerance either way, also across the wrap.
    check.Compare(true, 1032, 1000);
    check.Compare(true, 968, 1000);
    check.Compare(true, 10, 0xFFFFFFF0u);
    EXPECT_TRUE(check.UseShared());
    // One disagreement is enough, for good.
    check.Compare(true, 1033, 1000);
    EXPECT_FALSE(check.UseShared());
    check.Compare(true, 2000, 2000);
    EXPECT_FALSE(check.UseShared());

    SharedTickCheck unread;
    unread.Compare(false, 1000, 1000);
    unread.Compare(true, 1000, 1000);
    EXPECT_FALSE(unread.UseShared()) << "a page that gave no consistent value";
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
