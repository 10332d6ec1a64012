#include "core/clock_format.h"

namespace horavel {

namespace {

// The conversions of the format menu: the set that the Windows C runtime
// (msvcrt) knows. It returns nothing at all for a format holding any other
// one, and newer runtimes abort, so every other letter is cleaned.
constexpr char kSupported[] = "aAbBcdHIjmMpSUwWxXyYzZ%";

// Index of c in kSupported plus one, 0 for an unsupported character.
constexpr std::array<uint8_t, 256> MakeConversionIndex()
{
    std::array<uint8_t, 256> index{};
    for (size_t i = 0; kSupported[i]; ++i)
        index[static_cast<unsigned char>(kSupported[i])] = static_cast<uint8_t>(i + 1);
    return index;
}
constexpr std::array<uint8_t, 256> kConversionIndex = MakeConversionIndex();
static_assert(sizeof kSupported - 1 == 23);

// One piece of the cleaned format: a plain character (conversion 0), or a
// supported conversion with or without its '#' flag.
struct CleanPiece {
    char character;      // the plain character, or the conversion letter
    uint8_t conversion;  // kConversionIndex of the letter, 0 for plain text
    bool flag;
};

// Walks the cleaning's pieces in order and hands each to visit, which
// returns false to stop. Every character of the format is looked at once.
template <class Visit>
void ScanClockFormat(std::string_view format, Visit&& visit)
{
    const size_t n = format.size();
    size_t i = 0;
    while (i < n) {
        if (format[i] != '%') {
            if (!visit(CleanPiece{format[i], 0, false}))
                return;
            ++i;
            continue;
        }
        size_t conversion = i + 1;
        const bool flag = conversion < n && format[conversion] == '#';
        if (flag)
            ++conversion;
        if (conversion >= n)
            return;  // a '%' or "%#" at the end is deleted
        const char c = format[conversion];
        // Supported: the pair stays. Otherwise the '%' and its flag go and
        // the character stays as plain text. Either way it is passed over.
        const uint8_t index = kConversionIndex[static_cast<unsigned char>(c)];
        if (!visit(CleanPiece{c, index, index != 0 && flag}))
            return;
        i = conversion + 1;
    }
}

} // namespace

bool IsSupportedConversion(char c)
{
    return kConversionIndex[static_cast<unsigned char>(c)] != 0;
}

std::string CleanClockFormat(std::string_view format)
{
    std::string text;
    text.reserve(format.size());
    ScanClockFormat(format, [&](const CleanPiece& piece) {
        if (piece.conversion) {
            text += '%';
            if (piece.flag)
                text += '#';
        }
        text += piece.character;
        return true;
    });
    return text;
}

bool ToLocalTime(int64_t second, std::tm& local)
{
    const std::time_t time = static_cast<std::time_t>(second);
#if defined(_WIN32)
    // msvcrt keeps localtime's result per thread.
    const std::tm* converted = std::localtime(&time);
    if (!converted)
        return false;
    local = *converted;
    return true;
#else
    return localtime_r(&time, &local) != nullptr;
#endif
}

std::string FormatClockTime(const std::string& cleanedFormat, int64_t second)
{
    std::tm local{};
    if (!ToLocalTime(second, local))
        return {};
    char buffer[kClockTextBuffer];
    const size_t length = std::strftime(buffer, sizeof buffer, cleanedFormat.c_str(), &local);
    return std::string(buffer, length);
}

ClockFormat::ClockFormat(std::string_view format)
{
    ScanClockFormat(format, [&](const CleanPiece& piece) {
        // The runtime reads the text up to its first NUL only.
        if (piece.character == '\0')
            return false;
        Piece kept{0, 0, {}};
        if (piece.conversion) {
            kept.kind = static_cast<uint8_t>(1 + 2 * (piece.conversion - 1) + piece.flag);
            kept.text[kept.length++] = '%';
            if (piece.flag)
                kept.text[kept.length++] = '#';
        }
        kept.text[kept.length++] = piece.character;
        uint16_t& count = m_counts[kept.kind];
        if (count < kClockTextBuffer)
            ++count;
        if (count < kClockTextBuffer)
            m_pieces.push_back(kept);
        // 128 plain characters never fit: the rest cannot matter.
        return !(kept.kind == 0 && count == kClockTextBuffer);
    });
}

std::string ClockFormat::Format(int64_t second) const
{
    std::tm local{};
    if (!ToLocalTime(second, local))
        return {};
    return FormatLocal(local);
}

std::string ClockFormat::FormatLocal(const std::tm& local) const
{
    // What each kind gives on its own, in characters. A single conversion
    // gives far less than the probe's buffer (the runtime's locale texts
    // are at most 80 characters), so 0 means it gives nothing.
    std::array<size_t, kKinds> lengths{};
    size_t total = 0;
    for (size_t kind = 0; kind < kKinds; ++kind) {
        if (!m_counts[kind])
            continue;
        if (kind == 0) {
            lengths[kind] = 1;
        } else {
            char probe[4] = "%";
            size_t p = 1;
            if ((kind - 1) % 2)
                probe[p++] = '#';
            probe[p++] = kSupported[(kind - 1) / 2];
            probe[p] = '\0';
            char buffer[1024];
            lengths[kind] = std::strftime(buffer, sizeof buffer, probe, &local);
        }
        if (!lengths[kind])
            continue;
        // Also true when more of this kind exist than were kept.
        total += lengths[kind] * m_counts[kind];
        if (total >= kClockTextBuffer)
            return {};
    }

    // At most kClockTextBuffer - 1 pieces give anything, three characters
    // each at most.
    char format[3 * kClockTextBuffer + 1];
    size_t used = 0;
    for (const Piece& piece : m_pieces) {
        if (!lengths[piece.kind])
            continue;
        for (uint8_t i = 0; i < piece.length; ++i)
            format[used++] = piece.text[i];
    }
    format[used] = '\0';
    char buffer[kClockTextBuffer];
    const size_t length = std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, length);
}

} // namespace horavel
