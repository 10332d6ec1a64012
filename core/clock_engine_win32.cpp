// The clock's globals in the DLL and their Win32 bindings: the overlay with
// DIB-section planes, the GDI text renderer and its font, the compositor, the
// wall clock (time()), the preview window that gets the posted refresh, and
// the frame pipeline that ties them together. Constructed on first use, so
// the dialog may ask for the clock text before any stream starts.
#include "composite/compositor.h"
#include "core/clock_api.h"
#include "core/calendar_second.h"
#include "core/clock_engine.h"
#include "core/frame_pipeline.h"
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

struct ClockEngine {
    ClockOverlay overlay{AllocateDibPlane};
    Compositor compositor;
    CompositorTarget target{compositor};
    GdiClockTextRenderer renderer;
    SystemClock clock;
    PreviewWindow preview;
    FramePipeline pipeline{Settings(), overlay, target, renderer, clock, &preview};
    // Frames before the first `start` have no known format and are skipped.
    std::atomic<bool> started{false};
};

ClockEngine& Engine()
{
    static ClockEngine engine;
    return engine;
}

} // namespace

void RequestClockRedraw()
{
    Engine().pipeline.RequestClockRedraw();
}

std::string ClockText()
{
    return Engine().pipeline.ClockText();
}

Size ClockSize()
{
    return Engine().pipeline.ClockSize();
}

void CreateClockFont()
{
    Engine().renderer.CreateClockFont(Settings().Live());
}

void SetPreviewWindow(void* hwnd)
{
    Engine().preview.Set(static_cast<HWND>(hwnd));
}

void ClockEngineStart(int32_t width, int32_t height, int32_t layout)
{
    ClockEngine& engine = Engine();
    CreateClockFont();
    // A frame of another thread may be under way: the format changes between frames.
    engine.pipeline.ChangeFormatBetweenFrames([&] {
        engine.compositor.SetFrameFormat(width, height, layout);
        // Plane 0 colour, plane 1 opacity; a repeated start adds none.
        while (engine.overlay.PlaneCount() < 2)
            engine.overlay.AddPlane();
    });
    engine.started.store(true);
}

void ClockEngineProcess(uint8_t* framePixels)
{
    ClockEngine& engine = Engine();
    if (!framePixels || !engine.started.load())
        return;
    engine.pipeline.ProcessFrame(framePixels);
}

} // namespace horavel
