// ClockOverlay: the off-screen surface the clock text is drawn into, an
// ordered list of 32-bit planes (plane 0 colour, plane 1 opacity) that are
// re-allocated with hysteresis so that a clock text whose width changes a
// little from second to second allocates nothing.
//
// Pixel layout of a plane: 4 bytes a pixel in memory order blue, green, red,
// fourth byte; rows bottom-up (row y counted from the top starts at
// pixels + (allocation height - 1 - y) * allocation width * 4); the pitch is
// exactly allocation width * 4. Only the used rectangle carries a picture.
//
// The sizing rules are portable; where the pixel memory comes from is a
// parameter (a DIB section on Windows, heap memory elsewhere).
#pragma once

#include "core/geometry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace horavel {

// Hysteresis margins, in percent, of the overlay planes (and of the
// compositor's scaled copy, which the frame pipeline sizes with the same).
inline constexpr int32_t kOverlayGrowPercent = 25;
inline constexpr int32_t kOverlayShrinkPercent = 25;

// The pixel memory of one plane. Its owner releases it on destruction.
class PlaneBitmap {
public:
    virtual ~PlaneBitmap() = default;
    virtual uint8_t* Pixels() const = 0;
    // The platform's handle of the bitmap (an HBITMAP on Windows), or null
    // when the memory cannot be drawn into by the platform.
    virtual void* NativeHandle() const { return nullptr; }
};

// Makes a bottom-up 32-bit bitmap of width x height pixels (both > 0), or
// returns null when it cannot.
using PlaneAllocator = std::function<std::unique_ptr<PlaneBitmap>(int32_t width, int32_t height)>;

// Zero-filled heap memory: the allocator of the portable build.
std::unique_ptr<PlaneBitmap> AllocateHeapPlane(int32_t width, int32_t height);

class ClockOverlay {
public:
    // The largest plane allocated, in bytes; a larger request is treated as a
    // failed allocation (a plane without pixels).
    static constexpr uint64_t kMaxPlaneBytes = uint64_t{1} << 28;

    explicit ClockOverlay(PlaneAllocator allocator = AllocateHeapPlane);
    virtual ~ClockOverlay();
    ClockOverlay(const ClockOverlay&) = delete;
    ClockOverlay& operator=(const ClockOverlay&) = delete;

    // Appends a plane without pixels and selects it.
    void AddPlane();
    // Selects plane `index`; an index outside the list is ignored.
    void SelectPlane(int32_t index);
    // Makes the selected plane (adding plane 0 to an empty list) able to hold
    // a width x height picture and sets its used rectangle to (0, 0, w, h).
    // It is re-allocated to (100 + grow) % of the request when the request
    // exceeds the allocation or falls below (100 - shrink) / (100 + grow) of it.
    void EnsurePlaneSize(int32_t width, int32_t height, int32_t growPercent, int32_t shrinkPercent);
    // Frees the selected plane's pixels; its size and used rectangle become empty.
    void ReleasePlaneBitmap();
    // Frees every plane and empties the list.
    void ReleaseAllPlanes();
    // Byte 0 of each pixel of plane `source`'s used rectangle goes to byte 3
    // of the same pixel of plane `destination`; nothing happens unless both
    // planes have pixels and equal, non-empty used rectangles.
    void CopyAlphaFromPlane(int32_t destination, int32_t source);

    int32_t PlaneCount() const { return static_cast<int32_t>(m_planes.size()); }
    // -1 while nothing is selected.
    int32_t SelectedPlane() const { return m_selected; }

    // Of the selected plane (null / empty while nothing is selected).
    uint8_t* Pixels() const;
    Size AllocationSize() const;
    Rect UsedRect() const;
    void* NativeHandle() const;

private:
    struct OverlayPlane {
        std::unique_ptr<PlaneBitmap> bitmap;
        uint8_t* pixels = nullptr;
        Size allocation;
        Rect used;
    };

    OverlayPlane* Selected();
    const OverlayPlane* Selected() const;

    PlaneAllocator m_allocator;
    std::vector<OverlayPlane> m_planes;
    int32_t m_selected = -1;
};

} // namespace horavel
