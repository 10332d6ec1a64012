#include "settings/in_place_rewrite.h"

#include <algorithm>
#include <cstdio>

namespace horavel {

namespace {

// "\0horavel-copy LLLLLLLL CCCCCCCC\0": the copy's length and its FNV-1a
// checksum in hexadecimal.
constexpr std::string_view kTrailerStart{"\0horavel-copy ", 14};
constexpr size_t kTrailerSize = kTrailerStart.size() + 8 + 1 + 8 + 1;

uint32_t Checksum(std::string_view bytes)
{
    uint32_t hash = 2166136261u;
    for (const char c : bytes)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

std::string Trailer(std::string_view text)
{
    char numbers[19];
    std::snprintf(numbers, sizeof numbers, "%08x %08x", static_cast<unsigned>(text.size()),
                  static_cast<unsigned>(Checksum(text)));
    std::string trailer(kTrailerStart);
    trailer.append(numbers, 17);
    trailer.push_back('\0');
    return trailer;
}

std::optional<uint32_t> Hex8(std::string_view digits)
{
    uint32_t value = 0;
    for (const char c : digits) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return value;
}

} // namespace

InPlaceRewrite PlanInPlaceRewrite(uint64_t oldSize, std::string_view text)
{
    InPlaceRewrite plan;
    plan.copyOffset = oldSize;
    const uint64_t copyAt = std::max<uint64_t>(oldSize + 1, text.size());
    plan.copy.assign(static_cast<size_t>(copyAt - oldSize), '\0');
    plan.copy.append(text);
    plan.copy += Trailer(text);
    plan.finalSize = text.size();
    return plan;
}

std::optional<RecoveredText> RecoverInterruptedRewrite(std::string_view file)
{
    const size_t nul = file.find('\0');
    if (nul == std::string_view::npos)
        return std::nullopt;
    if (file.size() >= kTrailerSize) {
        const std::string_view trailer = file.substr(file.size() - kTrailerSize);
        const std::optional<uint32_t> length = Hex8(trailer.substr(kTrailerStart.size(), 8));
        const std::optional<uint32_t> checksum = Hex8(trailer.substr(kTrailerStart.size() + 9, 8));
        if (trailer.substr(0, kTrailerStart.size()) == kTrailerStart && trailer[kTrailerStart.size() + 8] == ' ' &&
            trailer.back() == '\0' && length && checksum && *length <= file.size() - kTrailerSize) {
            const std::string_view copy = file.substr(file.size() - kTrailerSize - *length, *length);
            if (Checksum(copy) == *checksum)
                return RecoveredText{std::string(copy), true};
        }
    }
    return RecoveredText{std::string(file.substr(0, nul)), false};
}

} // namespace horavel
