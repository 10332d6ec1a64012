// The clock's format: the user's strftime text, cleaned so that the C runtime
// formats it safely, and the formatting of a calendar second with it.
//
// Costs: cleaning is linear in the format's length; a ClockFormat is built
// from a format once (linear, it stops early where it can) and then formats
// any second in a bounded time, whatever the format's length.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace horavel {

// The formatter's buffer: a formatted text of this many characters or more
// does not fit and gives an empty clock text.
inline constexpr size_t kClockTextBuffer = 128;

// The longest format whose clock text can fit the buffer when every
// conversion gives at least one character. After cleaning, a text that fits
// (at most kClockTextBuffer - 1 characters) comes from at most that many
// pieces, a plain character or a conversion ("%H", "%#x"), and each piece
// takes at most three characters of the format ("%#Q" leaves the one
// character 'Q'); a trailing "%" or "%#" is deleted. A longer format can only
// fit through conversions that give nothing at all (%p in a locale without
// AM/PM designators, %Z without a zone name) or a NUL character, which ends
// the text for the runtime. ClockFormat gives the exact text for those too;
// an edit field that takes no more than this many characters loses nothing
// else.
inline constexpr size_t kLongestFittingFormat = 3 * (kClockTextBuffer - 1) + 2;

// True for the conversion characters the C runtime formats on every platform
// we run on: a A b B c d H I j m M p S U w W x X y Y z Z and '%'.
bool IsSupportedConversion(char c);

// The copy of the format that is handed to strftime. Scanning left to right:
// a '%' (with an optional '#' flag after it) that ends the text is deleted; a
// '%' followed by a character the runtime does not support (a blank, a typo,
// a C99-only letter) is deleted together with its '#' flag, while that
// character stays as plain text; a supported pair ("%H", "%#x", "%%") stays
// and is passed over whole, so "%%" remains an escaped percent sign.
std::string CleanClockFormat(std::string_view format);

// The calendar second `second` as local time; false when the runtime cannot
// convert it.
bool ToLocalTime(int64_t second, std::tm& local);

// Formats the calendar second `second` as local time with the C runtime's
// strftime into a buffer of kClockTextBuffer characters. A result that does
// not fit (or a time the runtime cannot convert) gives an empty text; the
// formatting is never retried. Linear in the length of the format.
std::string FormatClockTime(const std::string& cleanedFormat, int64_t second);

// A format made ready for formatting many seconds: the same text as
// FormatClockTime(CleanClockFormat(format), second), in a time that does not
// grow with the format's length.
//
// How: strftime gives the concatenation of what each piece of the format
// gives on its own, and that text fits only when it is shorter than
// kClockTextBuffer. So the runtime never sees more than the part before the
// first NUL; 128 plain characters never fit, so nothing after the 128th is
// looked at; and of each conversion (with or without '#') only the first 127
// are kept, since 128 of one that gives anything cannot fit either. At each
// formatting every conversion the format holds is formatted once on its own;
// those that give nothing are left out (they change nothing), and the rest
// go to strftime in one short text.
class ClockFormat {
public:
    ClockFormat() = default;  // the empty format
    explicit ClockFormat(std::string_view format);

    std::string Format(int64_t second) const;
    std::string FormatLocal(const std::tm& local) const;

private:
    // Kind 0 is a plain character; kind 1 + 2 * i + flag is the i-th
    // supported conversion, flag 1 with '#'.
    static constexpr size_t kKinds = 1 + 2 * 23;
    struct Piece {
        uint8_t kind;
        uint8_t length;
        char text[3];
    };

    std::vector<Piece> m_pieces;             // in format order, the kept ones
    std::array<uint16_t, kKinds> m_counts{}; // how many of each, at most kClockTextBuffer
};

} // namespace horavel
