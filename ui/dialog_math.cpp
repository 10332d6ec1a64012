#include "ui/dialog_math.h"

#include "ui/resource.h"

#include <climits>

namespace horavel {

std::optional<int32_t> ValidateFieldValue(bool translated, uint32_t value, int32_t maximum)
{
    const auto signedValue = static_cast<int32_t>(value);
    if (!translated || signedValue < 0 || signedValue > maximum)
        return std::nullopt;
    return signedValue;
}

int32_t RepeatAccumulator::Press()
{
    m_accumulator = 1.0;
    const auto step = static_cast<int32_t>(m_accumulator);
    m_accumulator = 0.0;
    return step;
}

int32_t RepeatAccumulator::Tick()
{
    m_accumulator += 0.4;
    return static_cast<int32_t>(m_accumulator);
}

Point MoveByArrow(Point position, int arrowId, int32_t step)
{
    switch (arrowId) {
    case IDC_MOVE_LEFT: position.x -= step; break;
    case IDC_MOVE_RIGHT: position.x += step; break;
    case IDC_MOVE_UP: position.y -= step; break;
    case IDC_MOVE_DOWN: position.y += step; break;
    default: break;
    }
    return position;
}

std::optional<Point> AlignPosition(int alignId, Size clockSize)
{
    const int32_t right = 1000 - clockSize.width;
    const int32_t bottom = 1000 - clockSize.height;
    switch (alignId) {
    case IDC_ALIGN_TOP_LEFT: return Point{0, 0};
    case IDC_ALIGN_BOTTOM_LEFT: return Point{0, bottom};
    case IDC_ALIGN_TOP_RIGHT: return Point{right, 0};
    case IDC_ALIGN_BOTTOM_RIGHT: return Point{right, bottom};
    case IDC_ALIGN_CENTER: return Point{right / 2, bottom / 2};
    default: return std::nullopt;
    }
}

bool CaptionOnSomeWorkArea(Point at, Size dialog, int32_t captionHeight, const std::vector<Rect>& workAreas)
{
    const int64_t right = int64_t{at.x} + dialog.width;
    const int64_t bottom = int64_t{at.y} + captionHeight;
    if (dialog.width <= 0 || captionHeight <= 0 || right > INT32_MAX || bottom > INT32_MAX)
        return false;
    const Rect caption{at.x, at.y, static_cast<int32_t>(right), static_cast<int32_t>(bottom)};
    const int32_t width = dialog.width < kCaptionGrip ? dialog.width : kCaptionGrip;
    for (const Rect& area : workAreas) {
        const Rect seen = Intersect(caption, area);
        if (seen.Width() >= width && 2 * seen.Height() >= captionHeight)
            return true;
    }
    return false;
}

Point PlaceDialog(DialogPosition stored, Size screen, Rect dialog, Rect parent, int32_t captionHeight,
                  const std::vector<Rect>& workAreas)
{
    if (stored != kNoDialogPosition &&
        CaptionOnSomeWorkArea({stored.x, stored.y}, {dialog.Width(), dialog.Height()}, captionHeight, workAreas))
        return Point{stored.x, stored.y};
    int32_t x = dialog.left + (parent.left + parent.right) / 2 - (dialog.left + dialog.right) / 2;
    int32_t y = dialog.top + (parent.top + parent.bottom) / 2 - (dialog.top + dialog.bottom) / 2;
    if (x + dialog.Width() >= screen.width)
        x = screen.width - dialog.Width();
    if (y + dialog.Height() >= screen.height)
        y = screen.height - dialog.Height();
    if (x < 0)
        x = 0;
    if (y < 0)
        y = 0;
    return Point{x, y};
}

std::wstring_view SpecifierOfMenuItem(std::wstring_view itemText)
{
    return itemText.substr(0, 2);
}

size_t FormatFieldLength(std::string_view format, bool (*isLeadByte)(unsigned char))
{
    if (format.size() <= kLongestFittingFormat)
        return format.size();
    if (!isLeadByte)
        return kLongestFittingFormat;
    // Lead bytes are known only from the start of the text.
    size_t i = 0;
    while (i < kLongestFittingFormat) {
        const size_t next = isLeadByte(static_cast<unsigned char>(format[i])) ? i + 2 : i + 1;
        if (next > kLongestFittingFormat)
            break;
        i = next;
    }
    return i;
}

std::wstring_view RussianNounAfter(size_t n, std::wstring_view one, std::wstring_view few,
                                   std::wstring_view many)
{
    const size_t lastTwo = n % 100;
    if (lastTwo >= 11 && lastTwo <= 14)
        return many;
    switch (n % 10) {
    case 1: return one;
    case 2: case 3: case 4: return few;
    default: return many;
    }
}

} // namespace horavel
