#include "plugin/clock_engine.h"

#include "composite/compositor.h"
#include "core/calendar_second.h"
#include "pipeline/frame_pipeline.h"
#include "render/clock_overlay.h"
#include "render/dib_plane_win32.h"
#include "render/gdi_clock_renderer_win32.h"

#include <windows.h>

#include <atomic>
#include <ctime>

namespace horavel {

namespace {

// The calendar second as time() gives it, from the system time: the C
// runtime's time() also works out the time zone on every call. Read on every
// frame, so a change of the system time shows on the next frame.
class SystemClock final : public WallClock {
public:
    int64_t CurrentSecond() const override
    {
        FILETIME now;
        ::GetSystemTimeAsFileTime(&now);
        return CalendarSecondFromFileTime((uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime);
    }
};

// The settings dialog's window while it is open. Posting never waits for
// the dialog's thread, so the frame path cannot deadlock against it.
class PreviewWindow final : public PreviewNotice {
public:
    void Set(HWND window) { m_window.store(window); }
    void PostPreviewRefresh() override
    {
        const HWND window = m_window.load();
        if (window && ::IsWindow(window))
            ::PostMessageA(window, kWmPreviewRefresh, 1, 0);
    }

private:
    std::atomic<HWND> m_window{nullptr};
};

} // namespace

struct ClockEngine::Parts {
    SettingsStore settings;
    ClockOverlay overlay{AllocateDibPlane};
    Compositor compositor;
    CompositorTarget target{compositor};
    GdiClockTextRenderer renderer;
    SystemClock clock;
    PreviewWindow preview;
    FramePipeline pipeline{settings, overlay, target, renderer, clock, &preview};
    std::atomic<bool> started{false};
};

ClockEngine::ClockEngine() : m_parts(std::make_unique<Parts>()) {}
ClockEngine::~ClockEngine() = default;

ClockEngine& TheClockEngine()
{
    static ClockEngine engine;
    return engine;
}

SettingsStore& ClockEngine::Settings()
{
    return m_parts->settings;
}

void ClockEngine::RequestClockRedraw()
{
    m_parts->pipeline.RequestClockRedraw();
}

std::string ClockEngine::ClockText() const
{
    return m_parts->pipeline.ClockText();
}

Size ClockEngine::ClockSize() const
{
    return m_parts->pipeline.ClockSize();
}

void ClockEngine::CreateClockFont()
{
    m_parts->renderer.CreateClockFont(m_parts->settings.Live());
}

void ClockEngine::SetPreviewWindow(HWND window)
{
    m_parts->preview.Set(window);
}

void ClockEngine::Start(int32_t width, int32_t height, int32_t layout)
{
    Parts& parts = *m_parts;
    CreateClockFont();
    // A frame of another thread may be under way: the format changes between frames.
    parts.pipeline.ChangeFormatBetweenFrames([&] {
        parts.compositor.SetFrameFormat(width, height, layout);
        // Plane 0 colour, plane 1 opacity; a repeated start adds none.
        while (parts.overlay.PlaneCount() < 2)
            parts.overlay.AddPlane();
    });
    parts.started.store(true);
}

void ClockEngine::Process(uint8_t* framePixels)
{
    if (!framePixels || !m_parts->started.load())
        return;
    m_parts->pipeline.ProcessFrame(framePixels);
}

} // namespace horavel
