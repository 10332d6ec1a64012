// The six callbacks. Each switches to the plug-in's module state for its whole
// run and lets no exception out: a failure returns the "nothing done" value.
// The host's stack is only 4-byte aligned on 32-bit Windows, so every entry
// point realigns it for the SSE code beneath.

#include "plugin/plugin_callbacks.h"

#include "plugin/clock_engine.h"
#include "plugin/plugin_app.h"
#include "framework/message_box.h"
#include "framework/module_state.h"
#include "settings/profile_settings.h"
#include "ui/settings_dialog_api.h"

#include <windows.h>

#include <atomic>
#include <clocale>
#include <mutex>

#define HORAVEL_ENTRY __attribute__((force_align_arg_pointer))

namespace horavel {

namespace {

std::mutex g_formatLock;
FrameFormat g_frameFormat;

// What `process` needs of the frame format, in one word it reads without the
// lock: a `start` has been seen, and its processor code lacks SSE.
constexpr int32_t kGateStarted = 1;
constexpr int32_t kGateNoSse = 2;
std::atomic<int32_t> g_processGate{0};

// Between an `init` and the next `deinit` the settings of the profile are in
// the store. Outside that span there is nothing to save and nothing to edit,
// and inside it a second `init` must not load over the user's edits.
std::atomic<bool> g_settingsLoaded{false};

constexpr wchar_t kNoSseMessage[] =
    L"      Настройки плагина недоступны. \nПроцессор не поддерживает команды SSE.";

} // namespace

FrameFormat CurrentFrameFormat()
{
    std::lock_guard<std::mutex> lock(g_formatLock);
    return g_frameFormat;
}

HORAVEL_ENTRY void HORAVEL_CDECL PluginInit()
{
    framework::ModuleStateGuard state(framework::StaticModuleState());
    try {
        // A second `init` keeps the settings of the first and their edits.
        if (!g_settingsLoaded.load()) {
            LoadSettings(TheClockEngine().Settings(), ModuleExeName());
            g_settingsLoaded.store(true);
        }
        // Day and month names follow the user's regional settings; only the
        // time category changes.
        std::setlocale(LC_TIME, "");
    } catch (...) {
    }
}

HORAVEL_ENTRY int32_t HORAVEL_CDECL PluginStart(FrameDescriptor* descriptor)
{
    framework::ModuleStateGuard state(framework::StaticModuleState());
    try {
        if (!descriptor)
            return 0;
        FrameFormat format;
        format.layout = descriptor->layout;
        format.reserved = descriptor->reserved;
        format.width = descriptor->width;
        format.height = descriptor->height;
        format.processor = descriptor->processor;
        format.started = true;
        {
            std::lock_guard<std::mutex> lock(g_formatLock);
            g_frameFormat = format;
            g_processGate.store(kGateStarted | (ProcessorLacksSse(format.processor) ? kGateNoSse : 0),
                                std::memory_order_release);
        }
        TheClockEngine().Start(format.width, format.height, format.layout);
        return 1;
    } catch (...) {
        return 0;
    }
}

HORAVEL_ENTRY int32_t HORAVEL_CDECL PluginProcess(FrameRecord* frame)
{
    framework::ModuleStateGuard state(framework::StaticModuleState());
    try {
        if (!frame || !frame->pixels)
            return 0;
        // A frame before any `start` has no known geometry: leave it alone.
        if (g_processGate.load(std::memory_order_acquire) != kGateStarted)
            return 0;
        TheClockEngine().Process(frame->pixels);
        return 1;
    } catch (...) {
        return 0;
    }
}

HORAVEL_ENTRY void HORAVEL_CDECL PluginStop()
{
    framework::ModuleStateGuard state(framework::StaticModuleState());
}

HORAVEL_ENTRY void HORAVEL_CDECL PluginSettings(void** parentWindow)
{
    framework::ModuleStateGuard state(framework::StaticModuleState());
    try {
        if (ProcessorLacksSse(CurrentFrameFormat().processor)) {
            framework::ShowMessageBox(kNoSseMessage, MB_ICONINFORMATION);
            return;
        }
        // Before `init` (or after `deinit`) the store holds no settings: a
        // dialog would snapshot empty values, and "Отмена" would make them
        // the ones saved.
        if (!g_settingsLoaded.load())
            return;
        OpenOrRaiseSettingsDialog(parentWindow ? static_cast<HWND>(*parentWindow) : nullptr, TheClockEngine());
    } catch (...) {
    }
}

HORAVEL_ENTRY void HORAVEL_CDECL PluginDeinit()
{
    framework::ModuleStateGuard state(framework::StaticModuleState());
    try {
        // The dialog goes first, so that the save holds its last position.
        DestroySettingsDialogIfOpen();
        // Without a loaded profile there is nothing to save: writing the
        // store would put empty values into the profile.
        if (g_settingsLoaded.exchange(false))
            SaveSettings(TheClockEngine().Settings());
    } catch (...) {
    }
}

} // namespace horavel
