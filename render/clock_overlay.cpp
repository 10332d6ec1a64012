#include "render/clock_overlay.h"

#include "core/muldiv.h"

#include <new>
#include <utility>

namespace horavel {

namespace {

class HeapPlane final : public PlaneBitmap {
public:
    explicit HeapPlane(size_t bytes) : m_pixels(new (std::nothrow) uint8_t[bytes]())
    {
    }
    uint8_t* Pixels() const override { return m_pixels.get(); }

private:
    std::unique_ptr<uint8_t[]> m_pixels;
};

} // namespace

std::unique_ptr<PlaneBitmap> AllocateHeapPlane(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    auto plane = std::make_unique<HeapPlane>(size_t(width) * size_t(height) * 4);
    if (!plane->Pixels())
        return nullptr;
    return plane;
}

ClockOverlay::ClockOverlay(PlaneAllocator allocator) : m_allocator(std::move(allocator)) {}

ClockOverlay::~ClockOverlay()
{
    ReleaseAllPlanes();
}

ClockOverlay::OverlayPlane* ClockOverlay::Selected()
{
    return m_selected >= 0 && m_selected < PlaneCount() ? &m_planes[size_t(m_selected)] : nullptr;
}

const ClockOverlay::OverlayPlane* ClockOverlay::Selected() const
{
    return m_selected >= 0 && m_selected < PlaneCount() ? &m_planes[size_t(m_selected)] : nullptr;
}

void ClockOverlay::AddPlane()
{
    m_planes.emplace_back();
    m_selected = PlaneCount() - 1;
}

void ClockOverlay::SelectPlane(int32_t index)
{
    if (index >= 0 && index < PlaneCount())
        m_selected = index;
}

void ClockOverlay::EnsurePlaneSize(int32_t width, int32_t height, int32_t growPercent, int32_t shrinkPercent)
{
    if (m_planes.empty())
        AddPlane();
    OverlayPlane* plane = Selected();
    if (!plane)
        return;

    // A negative request (a text measured with a negative shadow offset from a
    // hand-edited profile) is an empty picture, never a top-down bitmap.
    if (width < 0)
        width = 0;
    if (height < 0)
        height = 0;

    const Size a = plane->allocation;
    const int32_t below = 100 - shrinkPercent;
    const int32_t above = 100 + growPercent;
    const bool reallocate = width > a.width || height > a.height ||
                            width < MulDiv(a.width, below, above) || height < MulDiv(a.height, below, above);
    if (reallocate) {
        ReleasePlaneBitmap();
        plane->allocation = {MulDiv(width, above, 100), MulDiv(height, above, 100)};
        const Size n = plane->allocation;
        // A zero side keeps no bitmap; so does a failed allocation, while the
        // size fields keep the new values: a later request inside the band
        // does not retry, one outside it does.
        if (n.width > 0 && n.height > 0 && uint64_t(n.width) * uint64_t(n.height) * 4 <= kMaxPlaneBytes) {
            plane->bitmap = m_allocator ? m_allocator(n.width, n.height) : nullptr;
            plane->pixels = plane->bitmap ? plane->bitmap->Pixels() : nullptr;
            if (!plane->pixels)
                plane->bitmap.reset();
        }
    }
    plane->used = {0, 0, width, height};
}

void ClockOverlay::ReleasePlaneBitmap()
{
    OverlayPlane* plane = Selected();
    if (!plane || !plane->pixels)
        return;
    plane->bitmap.reset();
    plane->pixels = nullptr;
    plane->allocation = {};
    plane->used = {};
}

void ClockOverlay::ReleaseAllPlanes()
{
    for (int32_t i = 0; i < PlaneCount(); ++i) {
        m_selected = i;
        ReleasePlaneBitmap();
    }
    m_planes.clear();
    m_selected = -1;
}

void ClockOverlay::CopyAlphaFromPlane(int32_t destination, int32_t source)
{
    if (destination < 0 || destination >= PlaneCount() || source < 0 || source >= PlaneCount())
        return;
    OverlayPlane& d = m_planes[size_t(destination)];
    const OverlayPlane& s = m_planes[size_t(source)];
    if (!d.pixels || !s.pixels || d.used.IsEmpty() || s.used.IsEmpty() ||
        d.used.Width() != s.used.Width() || d.used.Height() != s.used.Height())
        return;
    // Both planes are addressed with the destination's pitch, so they must
    // share one allocation size (they always do: they are sized together),
    // and the rectangles must lie inside it.
    const Rect whole{0, 0, d.allocation.width, d.allocation.height};
    if (!(d.allocation == s.allocation) || !(Intersect(d.used, whole) == d.used) ||
        !(Intersect(s.used, whole) == s.used))
        return;

    const size_t pitch = size_t(d.allocation.width) * 4;
    const int32_t rows = d.used.Height();
    const int32_t columns = d.used.Width();
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t* to = d.pixels + size_t(d.allocation.height - 1 - (d.used.top + y)) * pitch + size_t(d.used.left) * 4;
        const uint8_t* from =
            s.pixels + size_t(d.allocation.height - 1 - (s.used.top + y)) * pitch + size_t(s.used.left) * 4;
        for (int32_t x = 0; x < columns; ++x)
            to[x * 4 + 3] = from[x * 4];
    }
}

uint8_t* ClockOverlay::Pixels() const
{
    const OverlayPlane* plane = Selected();
    return plane ? plane->pixels : nullptr;
}

Size ClockOverlay::AllocationSize() const
{
    const OverlayPlane* plane = Selected();
    return plane ? plane->allocation : Size{};
}

Rect ClockOverlay::UsedRect() const
{
    const OverlayPlane* plane = Selected();
    return plane ? plane->used : Rect{};
}

void* ClockOverlay::NativeHandle() const
{
    const OverlayPlane* plane = Selected();
    return plane && plane->bitmap ? plane->bitmap->NativeHandle() : nullptr;
}

} // namespace horavel
