// The six callbacks of the plug-in record.
#pragma once

#include "core/plugin_record.h"

namespace horavel {

struct FrameFormat {
    int32_t width = 0;
    int32_t height = 0;
    uint32_t reserved = 0;
    int32_t layout = 0;
    int32_t processor = 0;
    bool started = false;  // a `start` has been seen
};

// The frame format of the last `start` (all 0 before the first).
FrameFormat CurrentFrameFormat();

void HORAVEL_CDECL PluginInit();
int32_t HORAVEL_CDECL PluginStart(FrameDescriptor* descriptor);
int32_t HORAVEL_CDECL PluginProcess(FrameRecord* frame);
void HORAVEL_CDECL PluginStop();
void HORAVEL_CDECL PluginSettings(void** parentWindow);
void HORAVEL_CDECL PluginDeinit();

} // namespace horavel
