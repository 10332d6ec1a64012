#include "ui/dialog_math.h"
#include "ui/resource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace horavel {
namespace {

TEST(DialogFieldValidation, AcceptsOnlyNumbersInRange)
{
    // Typing 1, 5, 0 into an opacity field: 1 and 15 are taken, 150 is not.
    EXPECT_EQ(ValidateFieldValue(true, 1, kOpacityMaximum), 1);
    EXPECT_EQ(ValidateFieldValue(true, 15, kOpacityMaximum), 15);
    EXPECT_EQ(ValidateFieldValue(true, 150, kOpacityMaximum), std::nullopt);
    EXPECT_EQ(ValidateFieldValue(true, 0, kOpacityMaximum), 0);
    EXPECT_EQ(ValidateFieldValue(true, 100, kOpacityMaximum), 100);
    EXPECT_EQ(ValidateFieldValue(true, 20, kShadowOffsetMaximum), 20);
    EXPECT_EQ(ValidateFieldValue(true, 21, kShadowOffsetMaximum), std::nullopt);
    // An emptied field reads as "not translated".
    EXPECT_EQ(ValidateFieldValue(false, 0, kOpacityMaximum), std::nullopt);
    // Read unsigned, judged signed: a huge number is negative and refused.
    EXPECT_EQ(ValidateFieldValue(true, 0xFFFFFFFFu, kOpacityMaximum), std::nullopt);
    EXPECT_EQ(ValidateFieldValue(true, 0x80000000u, kShadowOffsetMaximum), std::nullopt);
}

TEST(DialogRepeatArrows, StepSequenceAccelerates)
{
    RepeatAccumulator repeat;
    EXPECT_EQ(repeat.Press(), 1);
    EXPECT_EQ(repeat.Value(), 0.0);
    const std::vector<int32_t> expected{0, 0, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 5, 5, 6, 6, 6, 7, 7, 8};
    std::vector<int32_t> steps;
    int32_t moved = 1;
    for (int tick = 1; tick <= 40; ++tick) {
        const int32_t step = repeat.Tick();
        if (tick <= 20)
            steps.push_back(step);
        moved += step;
        if (tick == 20) {
            EXPECT_EQ(moved, 76);
        }
    }
    EXPECT_EQ(steps, expected);
    EXPECT_EQ(moved, 312);

    // A new press starts over from the slow end.
    EXPECT_EQ(repeat.Press(), 1);
    EXPECT_EQ(repeat.Tick(), 0);
    EXPECT_EQ(repeat.Tick(), 0);
    EXPECT_EQ(repeat.Tick(), 1);
}

TEST(DialogRepeatArrows, ArrowsMoveTheirAxisOnly)
{
    const Point start{500, 400};
    EXPECT_EQ(MoveByArrow(start, IDC_MOVE_LEFT, 3), (Point{497, 400}));
    EXPECT_EQ(MoveByArrow(start, IDC_MOVE_RIGHT, 3), (Point{503, 400}));
    EXPECT_EQ(MoveByArrow(start, IDC_MOVE_UP, 3), (Point{500, 397}));
    EXPECT_EQ(MoveByArrow(start, IDC_MOVE_DOWN, 3), (Point{500, 403}));
    EXPECT_EQ(MoveByArrow(start, IDC_ALIGN_CENTER, 3), start);
    EXPECT_EQ(MoveByArrow(start, 0, 3), start);
}

TEST(DialogAlignButtons, CornersAndCentreFromClockSize)
{
    const Size clock{301, 75};
    EXPECT_EQ(AlignPosition(IDC_ALIGN_TOP_LEFT, clock), (Point{0, 0}));
    EXPECT_EQ(AlignPosition(IDC_ALIGN_BOTTOM_LEFT, clock), (Point{0, 925}));
    EXPECT_EQ(AlignPosition(IDC_ALIGN_TOP_RIGHT, clock), (Point{699, 0}));
    EXPECT_EQ(AlignPosition(IDC_ALIGN_BOTTOM_RIGHT, clock), (Point{699, 925}));
    // 699 / 2 and 925 / 2 truncate.
    EXPECT_EQ(AlignPosition(IDC_ALIGN_CENTER, clock), (Point{349, 462}));
    EXPECT_EQ(AlignPosition(IDC_MOVE_LEFT, clock), std::nullopt);
}

TEST(DialogAlignButtons, ClockWiderThanTheFrameGoesNegative)
{
    const Size clock{1200, 1001};
    EXPECT_EQ(AlignPosition(IDC_ALIGN_CENTER, clock), (Point{-100, 0}));  // -1 / 2 truncates to 0
    EXPECT_EQ(AlignPosition(IDC_ALIGN_TOP_RIGHT, clock), (Point{-200, 0}));
    EXPECT_EQ(AlignPosition(IDC_ALIGN_BOTTOM_RIGHT, clock), (Point{-200, -1}));
}

// One monitor, all of it work area, and a caption 20 pixels high.
Point PlaceOnScreen(DialogPosition stored, Size screen, Rect dialog, Rect parent)
{
    return PlaceDialog(stored, screen, dialog, parent, 20, {Rect{0, 0, screen.width, screen.height}});
}

TEST(DialogPlacement, StoredPositionIsKeptWhereItsCaptionIsOnSomeWorkArea)
{
    const Size screen{1024, 768};
    const Rect dialog{0, 0, 290, 260};
    const Rect parent{100, 100, 740, 580};
    const Point centred{275, 210};
    const Rect primary{0, 0, 1024, 738};  // a task bar 30 pixels high below it
    const Rect left{-1280, 0, 0, 1024}, right{1024, 0, 2304, 1024}, below{0, 768, 1024, 1536};
    const auto place = [&](DialogPosition stored, const std::vector<Rect>& areas) {
        return PlaceDialog(stored, screen, dialog, parent, 20, areas);
    };
    EXPECT_EQ(place({300, 200}, {primary}), (Point{300, 200}));
    EXPECT_EQ(place({-100, 40}, {primary}), (Point{-100, 40}));
    // A monitor on the left, then unplugged.
    EXPECT_EQ(place({-1000, 100}, {primary, left}), (Point{-1000, 100}));
    EXPECT_EQ(place({-1000, 100}, {primary}), centred);
    // A monitor on the right, present and gone.
    EXPECT_EQ(place({1500, 100}, {primary, right}), (Point{1500, 100}));
    EXPECT_EQ(place({1500, 100}, {primary}), centred);
    // Below the primary: under its task bar, or on a monitor there.
    EXPECT_EQ(place({300, 740}, {primary}), centred);
    EXPECT_EQ(place({300, 800}, {primary, below}), (Point{300, 800}));
    // A caption partly on the work area: 40 pixels of its width and half its
    // height are enough, less is not.
    EXPECT_EQ(place({1024 - 40, 100}, {primary}), (Point{1024 - 40, 100}));
    EXPECT_EQ(place({1024 - 39, 100}, {primary}), centred);
    EXPECT_EQ(place({-250, 100}, {primary}), (Point{-250, 100}));
    EXPECT_EQ(place({-251, 100}, {primary}), centred);
    EXPECT_EQ(place({300, -10}, {primary}), (Point{300, -10}));
    EXPECT_EQ(place({300, -11}, {primary}), centred);
    // Far off, or beyond the int range with the dialog's size added.
    EXPECT_EQ(place({-5000, -5000}, {primary, left, right}), centred);
    EXPECT_EQ(place({INT32_MAX - 10, 0}, {Rect{0, 0, INT32_MAX, 1000}}), centred);
    EXPECT_EQ(place({300, 200}, {}), centred);
}

TEST(DialogPlacement, CentresOverTheParentWhenNothingUsableIsStored)
{
    const Size screen{1024, 768};
    const Rect dialog{10, 20, 300, 280};  // 290 x 260, wherever it was created
    const Rect parent{100, 100, 740, 580};
    // Parent centre (420, 340); dialog centre (155, 150).
    const Point centred{10 + 420 - 155, 20 + 340 - 150};
    EXPECT_EQ(PlaceOnScreen(kNoDialogPosition, screen, dialog, parent), centred);
    // A position on a second monitor to the right or below is not used.
    EXPECT_EQ(PlaceOnScreen({1024, 10}, screen, dialog, parent), centred);
    EXPECT_EQ(PlaceOnScreen({10, 768}, screen, dialog, parent), centred);
}

TEST(DialogPlacement, PulledInsideTheScreen)
{
    const Size screen{1024, 768};
    const Rect dialog{0, 0, 290, 260};
    // Parent hanging off the bottom right: the dialog's right and bottom edges
    // land on the screen's.
    EXPECT_EQ(PlaceOnScreen(kNoDialogPosition, screen, dialog, Rect{900, 700, 1300, 900}),
              (Point{1024 - 290, 768 - 260}));
    // One pixel short of the right edge stays where centring put it.
    EXPECT_EQ(PlaceOnScreen(kNoDialogPosition, screen, dialog, Rect{878, 300, 878, 300}).x, 733);
    // Parent off the top left: clamped at 0.
    EXPECT_EQ(PlaceOnScreen(kNoDialogPosition, screen, dialog, Rect{-400, -300, -200, -100}), (Point{0, 0}));
    // A dialog larger than the screen ends at 0, not negative.
    EXPECT_EQ(PlaceOnScreen(kNoDialogPosition, Size{200, 100}, dialog, Rect{0, 0, 200, 100}), (Point{0, 0}));
    // Odd sums truncate toward zero: parent centre (-1 + 0) / 2 = 0.
    EXPECT_EQ(PlaceOnScreen(kNoDialogPosition, screen, Rect{0, 0, 10, 10}, Rect{-1, -1, 0, 0}), (Point{0, 0}));
}

TEST(DialogFormatMenu, SpecifierIsTheFirstTwoCharacters)
{
    EXPECT_EQ(SpecifierOfMenuItem(L"%H - часы ( 00...23 )"), L"%H");
    EXPECT_EQ(SpecifierOfMenuItem(L"%% - символ %"), L"%%");
    EXPECT_EQ(SpecifierOfMenuItem(L"%"), L"%");
    EXPECT_EQ(SpecifierOfMenuItem(L""), L"");
}

bool EveryE0IsALeadByte(unsigned char byte) { return byte == 0xE0; }

TEST(DialogFormatField, ShowsTheStartOfALongFormatWithoutSplittingACharacter)
{
    EXPECT_EQ(FormatFieldLength(""), 0u);
    EXPECT_EQ(FormatFieldLength("%H:%M:%S"), 8u);
    const std::string huge(1 << 20, 'x');
    EXPECT_EQ(FormatFieldLength(huge), kLongestFittingFormat);
    EXPECT_EQ(FormatFieldLength(huge, &EveryE0IsALeadByte), kLongestFittingFormat);
    // A double-byte character across the bound stays out whole ...
    std::string across = huge;
    across[kLongestFittingFormat - 1] = '\xE0';
    EXPECT_EQ(FormatFieldLength(across, &EveryE0IsALeadByte), kLongestFittingFormat - 1);
    // ... one that ends on it goes in whole, and a lead byte's partner is
    // never taken for a lead byte itself.
    std::string ending = huge;
    ending[kLongestFittingFormat - 2] = '\xE0';
    EXPECT_EQ(FormatFieldLength(ending, &EveryE0IsALeadByte), kLongestFittingFormat);
    std::string pairs(1 << 12, '\xE0');
    EXPECT_EQ(FormatFieldLength(pairs, &EveryE0IsALeadByte), kLongestFittingFormat - 1);
    // Without a code page of lead bytes the bytes count alone.
    EXPECT_EQ(FormatFieldLength(across), kLongestFittingFormat);
}

TEST(DialogNotices, RussianNounAgreesWithItsNumber)
{
    auto noun = [](size_t n) { return std::wstring(RussianNounAfter(n, L"знак", L"знака", L"знаков")); };
    EXPECT_EQ(noun(1), L"знак");
    EXPECT_EQ(noun(21), L"знак");
    EXPECT_EQ(noun(101), L"знак");
    EXPECT_EQ(noun(3), L"знака");
    EXPECT_EQ(noun(383), L"знака");
    EXPECT_EQ(noun(1024), L"знака");
    EXPECT_EQ(noun(0), L"знаков");
    EXPECT_EQ(noun(5), L"знаков");
    EXPECT_EQ(noun(11), L"знаков");
    EXPECT_EQ(noun(12), L"знаков");
    EXPECT_EQ(noun(14), L"знаков");
    EXPECT_EQ(noun(111), L"знаков");
    EXPECT_EQ(noun(212), L"знаков");
    EXPECT_EQ(noun(20), L"знаков");
}

} // namespace
} // namespace horavel
