// Temporary: the stream callbacks' clock work until the clock engine lands.
#include "core/clock_engine.h"

namespace horavel {
void ClockEngineStart(int32_t, int32_t, int32_t) {}
void ClockEngineProcess(uint8_t*) {}
} // namespace horavel
