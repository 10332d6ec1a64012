// The clock's work for the host's stream callbacks (Win32 shell): what
// `start` does for the clock, and the frame pipeline that `process` runs.
#pragma once

#include <cstdint>

namespace horavel {

// `start`: forces a re-render, hands the frame format to the compositor,
// creates the clock font and gives the overlay its two planes.
void ClockEngineStart(int32_t width, int32_t height, int32_t layout);

// `process`, once its entry conditions hold: keeps the overlay current and
// blends it onto the frame in place.
void ClockEngineProcess(uint8_t* framePixels);

} // namespace horavel
