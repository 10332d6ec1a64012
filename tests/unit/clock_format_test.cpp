// The format cleaning and ClockFormat against the plain way of doing both:
// the cleaning as it was first written (deleting characters in place, which
// costs a shift of the rest of the text per deletion) and one strftime over
// the whole cleaned text. Random formats made of long runs of '%', '#' and
// blanks, conversion letters and every byte value, in every time locale this
// machine offers.
#include "core/clock_format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdint>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace horavel {
namespace {

// The cleaning as first written; quadratic for many deletions.
std::string PlainClean(std::string text)
{
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '%') {
            ++i;
            continue;
        }
        size_t conversion = i + 1;
        if (conversion < text.size() && text[conversion] == '#')
            ++conversion;
        if (conversion >= text.size()) {
            text.erase(i);
            break;
        }
        if (IsSupportedConversion(text[conversion])) {
            i = conversion + 1;
            continue;
        }
        text.erase(i, conversion - i);
        ++i;
    }
    return text;
}

// One strftime over the whole text, as the clock formatted first.
std::string PlainFormat(const std::string& cleaned, const std::tm& local)
{
    char buffer[kClockTextBuffer];
    const size_t length = std::strftime(buffer, sizeof buffer, cleaned.c_str(), &local);
    return std::string(buffer, length);
}

std::string Repeat(std::string_view piece, size_t times)
{
    std::string text;
    text.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

// Runs of the characters the cleaning cares about, conversion letters with
// and without '#', and any byte at all, NUL included but rarely.
std::string RandomFormat(std::mt19937& random)
{
    static const std::string kRunChars = "%#  ";
    static const std::string kLetters = "aAbBcdHIjmMpSUwWxXyYzZ%QeDT5-:.";
    std::string text;
    // Half of them short enough to give a text that fits.
    const int pieces = std::uniform_int_distribution<int>(0, random() % 2 ? 60 : 10)(random);
    for (int p = 0; p < pieces; ++p) {
        switch (std::uniform_int_distribution<int>(0, 9)(random)) {
        case 0: case 1: {  // a run, mostly short, sometimes long
            const size_t length = std::uniform_int_distribution<int>(0, 9)(random) == 0
                                      ? std::uniform_int_distribution<size_t>(100, 700)(random)
                                      : std::uniform_int_distribution<size_t>(1, 8)(random);
            const char c = kRunChars[std::uniform_int_distribution<size_t>(0, kRunChars.size() - 1)(random)];
            text.append(length, c);
            break;
        }
        case 2: case 3: case 4: {  // a conversion, supported or not
            text += '%';
            if (random() % 3 == 0)
                text += '#';
            text += kLetters[std::uniform_int_distribution<size_t>(0, kLetters.size() - 1)(random)];
            break;
        }
        case 5: case 6: {  // the same conversion many times: some give nothing
            const std::string piece = random() % 2 ? "%p" : (random() % 2 ? "%Z" : "%#Z");
            text += Repeat(piece, std::uniform_int_distribution<size_t>(1, 300)(random));
            break;
        }
        case 7: {  // any byte
            const int byte = std::uniform_int_distribution<int>(random() % 40 == 0 ? 0 : 1, 255)(random);
            text += static_cast<char>(byte);
            break;
        }
        default:  // plain text
            text.append(std::uniform_int_distribution<size_t>(1, 30)(random), static_cast<char>('a' + random() % 26));
            break;
        }
    }
    return text;
}

// Local times to format with: a few seconds of the day and year, one of them
// after noon (%p), and, where the C library takes the zone name from the
// record itself, one without a zone name and one with a long one.
std::vector<std::tm> Times()
{
    std::vector<std::tm> times;
    for (int64_t second : {int64_t{0}, int64_t{1625140800}, int64_t{1700000000 + 13 * 3600}}) {
        std::tm local{};
        if (ToLocalTime(second, local))
            times.push_back(local);
    }
#if defined(__GLIBC__)
    std::tm noName = times.back();
    noName.tm_zone = "";
    noName.tm_isdst = -1;  // otherwise the library falls back to its own zone name
    times.push_back(noName);
    std::tm longName = times.back();
    longName.tm_zone = "A-ZONE-NAME-OF-FORTY-CHARACTERS-........";
    times.push_back(longName);
#endif
    return times;
}

// The time locales to try: the C locale and, where the machine has them, a
// few whose day and month names, AM/PM designators or code pages differ.
std::vector<std::string> TimeLocales()
{
    std::vector<std::string> found{"C"};
    for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8", "ja_JP.UTF-8", "Russian_Russia.1251", "German_Germany.1252",
                             "Japanese_Japan.932"}) {
        if (std::setlocale(LC_TIME, name))
            found.push_back(name);
    }
    std::setlocale(LC_TIME, "C");
    return found;
}

class ClockFormatLocales : public ::testing::Test {
protected:
    void TearDown() override { std::setlocale(LC_TIME, "C"); }
};

TEST_F(ClockFormatLocales, SameCleaningAndTextAsThePlainWayOnRandomFormats)
{
    const std::vector<std::tm> times = Times();
    ASSERT_GE(times.size(), 3u);
    for (const std::string& locale : TimeLocales()) {
        SCOPED_TRACE("time locale " + locale);
        ASSERT_NE(std::setlocale(LC_TIME, locale.c_str()), nullptr);
        const uint32_t seed = 20261208u + static_cast<uint32_t>(locale.size());
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937 random(seed);
        int checks = 0;
        int nonEmpty = 0;
        for (int round = 0; round < 1500; ++round) {
            const std::string format = RandomFormat(random);
            const std::string cleaned = PlainClean(format);
            ASSERT_EQ(CleanClockFormat(format), cleaned) << "round " << round;
            const ClockFormat ready(format);
            for (const std::tm& local : times) {
                const std::string expected = PlainFormat(cleaned, local);
                ASSERT_EQ(ready.FormatLocal(local), expected) << "round " << round;
                ++checks;
                nonEmpty += !expected.empty();
            }
        }
        // The random formats must reach texts that fit, not only empty ones.
        std::printf("time locale %s: %d of %d texts fit\n", locale.c_str(), nonEmpty, checks);
        EXPECT_GT(nonEmpty, checks / 8);
    }
}

TEST(ClockFormat, EveryByteAfterAPercentSign)
{
    const std::tm local = Times()[1];
    for (int code = 0; code < 256; ++code) {
        const char c = static_cast<char>(code);
        for (const std::string& format : {std::string("<%") + c + ">", std::string("<%#") + c + ">",
                                          std::string("%%") + c + "%", std::string(1, c) + "%" + c + "%#"}) {
            SCOPED_TRACE(testing::Message() << "code " << code);
            const std::string cleaned = PlainClean(format);
            EXPECT_EQ(CleanClockFormat(format), cleaned);
            EXPECT_EQ(ClockFormat(format).FormatLocal(local), PlainFormat(cleaned, local));
        }
    }
}

TEST(ClockFormat, LongFormatsGiveWhatTheyAlwaysGave)
{
    const std::tm local = Times()[1];
    // Pairs of "% ": every '%' goes, every blank stays, far too many to fit.
    for (size_t pairs : {size_t{63}, size_t{127}, size_t{128}, size_t{50000}, size_t{500000}}) {
        SCOPED_TRACE(testing::Message() << pairs << " pairs");
        const std::string format = Repeat("% ", pairs);
        const std::string cleaned = CleanClockFormat(format);
        EXPECT_EQ(cleaned, std::string(pairs, ' '));
        EXPECT_EQ(ClockFormat(format).FormatLocal(local), PlainFormat(cleaned, local));
        EXPECT_EQ(ClockFormat(format).FormatLocal(local), pairs < kClockTextBuffer ? cleaned : "");
    }
    // The quadratic cleaning is still quick enough at this size to be the
    // judge of the linear one.
    const std::string mixed = Repeat("%#% %%#%%", 4000) + Repeat("%", 3001);
    EXPECT_EQ(CleanClockFormat(mixed), PlainClean(mixed));

    // 127 characters fit, 128 do not, however they are spelt.
    EXPECT_EQ(ClockFormat(std::string(127, 'x')).FormatLocal(local), std::string(127, 'x'));
    EXPECT_EQ(ClockFormat(std::string(128, 'x')).FormatLocal(local), "");
    EXPECT_EQ(ClockFormat(Repeat("%%", 127)).FormatLocal(local), std::string(127, '%'));
    EXPECT_EQ(ClockFormat(Repeat("%%", 128)).FormatLocal(local), "");
    EXPECT_EQ(ClockFormat(Repeat("%Q", 127) + "%#").FormatLocal(local), std::string(127, 'Q'));
    EXPECT_EQ(ClockFormat(Repeat("%#Q", 128)).FormatLocal(local), "");
    // The runtime stops at a NUL, whatever follows it.
    EXPECT_EQ(ClockFormat(std::string("ab\0", 3) + std::string(100000, 'x')).FormatLocal(local), "ab");
    EXPECT_EQ(ClockFormat(std::string("%\0", 2) + "%H").FormatLocal(local), "");
    // Longer than any format that fits when every conversion gives
    // something: the bound is tight.
    const std::string longest = Repeat("%#Q", kClockTextBuffer - 1) + "%#";
    EXPECT_EQ(longest.size(), kLongestFittingFormat);
    EXPECT_EQ(ClockFormat(longest).FormatLocal(local).size(), kClockTextBuffer - 1);
}

#if defined(__GLIBC__)
TEST(ClockFormat, ConversionsThatGiveNothingCanFillAnyLength)
{
    // With no zone name, "%Z" gives nothing: a format of any length can then
    // still give a short text, and it must be the same text.
    std::tm local = Times()[1];
    local.tm_zone = "";
    local.tm_isdst = -1;
    for (size_t times : {size_t{127}, size_t{128}, size_t{1000}, size_t{100000}}) {
        SCOPED_TRACE(testing::Message() << times << " times");
        const std::string format = Repeat("%Z", times) + "<%H>" + Repeat("%#Z", times) + "!";
        const std::string expected = PlainFormat(CleanClockFormat(format), local);
        EXPECT_EQ(expected.size(), 5u);
        EXPECT_EQ(ClockFormat(format).FormatLocal(local), expected);
    }
    // The same format with a zone name is far too long.
    local.tm_zone = "UTC";
    local.tm_isdst = 0;
    EXPECT_EQ(ClockFormat(Repeat("%Z", 128)).FormatLocal(local), "");
    EXPECT_EQ(ClockFormat(Repeat("%Z", 42)).FormatLocal(local), Repeat("UTC", 42));
    EXPECT_EQ(ClockFormat(Repeat("%Z", 43)).FormatLocal(local), "");
}
#endif

TEST(ClockFormat, FormatsTheSecondAsLocalTime)
{
    const int64_t second = 1625140800;
    EXPECT_EQ(ClockFormat("%Y-%m").Format(second), "2021-07");
    EXPECT_EQ(ClockFormat("%Y-%m %Q").Format(second), "2021-07 Q");
    EXPECT_EQ(ClockFormat("%Y-%m %").Format(second), FormatClockTime(CleanClockFormat("%Y-%m %"), second));
    EXPECT_EQ(ClockFormat().Format(second), "");
    EXPECT_EQ(ClockFormat("").Format(second), "");
}

} // namespace
} // namespace horavel
