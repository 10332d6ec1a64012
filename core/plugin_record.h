// The host boundary: the records the host passes in and the plug-in record
// it gets back. Plain C layout, 32-bit words, C calling convention; usable by
// the plug-in, by hosts and by tests.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define HORAVEL_CDECL __cdecl
#else
#define HORAVEL_CDECL
#endif

namespace horavel {

inline constexpr int32_t kPluginInterfaceVersion = 3;

// The pixel layouts of the frame buffers (FrameDescriptor::layout); frames
// of any other layout are left alone.
enum FrameLayout : int32_t {
    LayoutYUY2 = 0,   // Y0 U Y1 V, top line first, 2 * width bytes a line
    LayoutRGB24 = 1,  // B G R, bottom line first, 3 * width bytes a line
};

// Given to `start`; read once, field by field.
struct FrameDescriptor {
    int32_t width;      // pixels
    int32_t height;     // lines
    uint32_t reserved;  // copied, never interpreted
    int32_t layout;     // a FrameLayout
    int32_t processor;  // 1 and 2: no SSE; anything else: SSE-capable
};

// Given to `process`; only the pixel address is read.
struct FrameRecord {
    uint8_t* pixels;
};

using InitCallback = void(HORAVEL_CDECL*)();
using StartCallback = int32_t(HORAVEL_CDECL*)(FrameDescriptor*);
using ProcessCallback = int32_t(HORAVEL_CDECL*)(FrameRecord*);
using StopCallback = void(HORAVEL_CDECL*)();
using SettingsCallback = void(HORAVEL_CDECL*)(void** parentWindow);  // HWND*
using DeinitCallback = void(HORAVEL_CDECL*)();

// Eight words, static and unchanged while the module is loaded.
struct PluginRecord {
    const char* name;         // code page 1251
    const char* description;  // code page 1251
    InitCallback init;
    StartCallback start;
    ProcessCallback process;  // 1 = drawn on, 0 = untouched
    StopCallback stop;
    SettingsCallback settings;
    DeinitCallback deinit;
};

using VersionExport = int32_t(HORAVEL_CDECL*)();
using RecordExport = const PluginRecord*(HORAVEL_CDECL*)();

inline constexpr char kVersionExportName[] = "Norvale_Plugin_Version";
inline constexpr char kRecordExportName[] = "Norvale_Plugin_PR";

// Processor codes that mean "no SSE": the plug-in then leaves frames alone.
constexpr bool ProcessorLacksSse(int32_t code) { return code == 1 || code == 2; }

} // namespace horavel
