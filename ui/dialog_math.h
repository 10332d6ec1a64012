// The settings dialog's arithmetic, free of the platform: validation of the
// numeric fields, the step sequence of a held arrow, the align positions,
// the window placement, the specifier of a format menu item, the part of a
// long format the format field shows, and the Russian number agreement of
// the dialog's notices.
#pragma once

#include "core/clock_format.h"
#include "core/geometry.h"
#include "core/settings_store.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace horavel {

// A numeric field as GetDlgItemInt read it (unsigned): the value to store, or
// nothing when the text held no number or the number, taken as a signed
// 32-bit int, lies outside 0..maximum.
std::optional<int32_t> ValidateFieldValue(bool translated, uint32_t value, int32_t maximum);

inline constexpr int32_t kOpacityMaximum = 100;
inline constexpr int32_t kShadowOffsetMaximum = 20;

// Steps of a held arrow, in thousandths of the frame. The press moves by 1;
// every tick of the 50 ms repeat timer adds 0.4 to the accumulator and moves
// by its truncation, so the clock speeds up the longer the arrow is held:
// 0, 0, 1, 1, 2, 2, 2, 3, 3, 3, ... for ticks 1, 2, 3, ... (the double sum
// is just below 4 at tick 10, which therefore moves 3).
class RepeatAccumulator {
public:
    int32_t Press();
    int32_t Tick();
    double Value() const { return m_accumulator; }

private:
    double m_accumulator = 0.0;
};

// Where a held arrow (IDC_MOVE_LEFT..IDC_MOVE_DOWN) moves a position by step;
// any other id leaves it.
Point MoveByArrow(Point position, int arrowId, int32_t step);

// StringPosX and StringPosY of an align button (IDC_ALIGN_*) for a clock of
// clockSize thousandths; nothing for any other id. Halves truncate toward
// zero, and a clock wider or taller than the frame gives negative positions
// that the frame pipeline pulls back later.
std::optional<Point> AlignPosition(int alignId, Size clockSize);

// Whether a dialog of `dialog`'s size with its top-left corner at `at` could
// be taken by its caption (the strip of captionHeight pixels along its top
// edge): at least kCaptionGrip pixels of it (all of it when narrower), over
// at least half its height, lie on one of the monitors' work areas.
inline constexpr int32_t kCaptionGrip = 40;
bool CaptionOnSomeWorkArea(Point at, Size dialog, int32_t captionHeight, const std::vector<Rect>& workAreas);

// Top-left corner of the settings dialog on opening: the stored position when
// there is one (not (-100, -100)) and the dialog's caption would be reachable
// there (CaptionOnSomeWorkArea, so a position on a monitor since removed is
// not used); otherwise centred over the parent's window rectangle, pulled
// inside the primary screen and not above or left of 0.
Point PlaceDialog(DialogPosition stored, Size screen, Rect dialog, Rect parent, int32_t captionHeight,
                  const std::vector<Rect>& workAreas);

// The specifier a format menu item inserts: the first two characters of its
// text (fewer when the text is shorter).
std::wstring_view SpecifierOfMenuItem(std::wstring_view itemText);

// How many leading bytes of a Format (8-bit text) the format field shows and
// edits: all of it up to kLongestFittingFormat bytes, otherwise the first
// kLongestFittingFormat, or one less where the cut would split a double-byte
// character (isLeadByte tells the lead bytes of the code page; null for a
// single-byte code page).
size_t FormatFieldLength(std::string_view format, bool (*isLeadByte)(unsigned char) = nullptr);

// The form of a Russian noun after the number n, in the nominative (and the
// accusative of things): "1 знак", "3 знака", "5 знаков", "11 знаков",
// "21 знак".
std::wstring_view RussianNounAfter(size_t n, std::wstring_view one, std::wstring_view few,
                                   std::wstring_view many);

} // namespace horavel
