// Plain integer geometry shared by the compositor, the overlay and the
// pipeline. Rectangles are half-open: right and bottom are one past the edge.
#pragma once

#include <cstdint>

namespace horavel {

struct Size {
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Point {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    constexpr int32_t Width() const { return right - left; }
    constexpr int32_t Height() const { return bottom - top; }
    constexpr bool IsEmpty() const { return right <= left || bottom <= top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Intersection in the manner of IntersectRect: an empty result is (0,0,0,0).
constexpr Rect Intersect(const Rect& a, const Rect& b)
{
    const Rect r{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
                 a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
    return r.IsEmpty() ? Rect{} : r;
}

} // namespace horavel
