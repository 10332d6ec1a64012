// Overlay planes as 32-bit bottom-up DIB sections, so that GDI draws into
// them and the pipeline reads their pixels directly.
#pragma once

#include "render/clock_overlay.h"

#include <memory>

namespace horavel {

// A PlaneAllocator: a DIB section of width x height (both > 0) pixels, 32 bits,
// BI_RGB, positive height (bottom-up), no colour table in use.
std::unique_ptr<PlaneBitmap> AllocateDibPlane(int32_t width, int32_t height);

} // namespace horavel
