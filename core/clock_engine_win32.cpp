// The clock's globals in the DLL and their Win32 bindings: the overlay with
// DIB-section planes, the GDI text renderer and its font, the compositor, the
// wall clock (time()), the preview window that gets the posted refresh, and
// the frame pipeline that ties them together. Constructed on first use, so
// the dialog may ask for the clock text before any stream starts.
#include "composite/compositor.h"
#include "core/clock_api.h"
#include "core/calendar_second.h"
#include "core/clock_engine.h"
#include "core/frame_code.h"
#include "core/frame_pipeline.h"
#include "render/clock_overlay.h"
#include "render/dib_plane_win32.h"
#include "render/gdi_clock_renderer_win32.h"

#include <windows.h>

#include <atomic>
#include <ctime>

namespace horavel {

namespace {

// The calendar second as time() gives it, read straight from the system
// time: the C runtime's time() also works out the time zone on every call,
// which under Wine costs tens of microseconds a frame with cold caches.
// Between readings the tick count vouches for the second (SecondGate), so
// most frames make no system call at all; it is read from the shared page
// while that has agreed with GetTickCount at every reading (SharedTickCheck).
// Only the frame path asks.
class SystemClock final : public WallClock {
public:
    HORAVEL_FRAME_CODE int64_t CurrentSecond() const override
    {
        uint32_t tick;
        if (!m_check.UseShared() || !ReadSharedTickCount(&tick))
            tick = ::GetTickCount();
        int64_t second;
        if (m_gate.Trusted(tick, &second))
            return second;
        const DWORD system = ::GetTickCount();
        uint32_t shared = 0;
        const bool sharedRead = ReadSharedTickCount(&shared);
        m_check.Compare(sharedRead, shared, system);
        FILETIME now;
        ::GetSystemTimeAsFileTime(&now);
        return m_gate.Note((uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime,
                           m_check.UseShared() ? shared : system);
    }

private:
    mutable SecondGate m_gate;
    mutable SharedTickCheck m_check;
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

HORAVEL_FRAME_CODE ClockEngine& Engine()
{
    static ClockEngine engine;
    return engine;
}

} // namespace

// The tick count as GetTickCount works it out, read straight from the page
// the system maps at 0x7FFE0000 into every process (KUSER_SHARED_DATA, laid
// out the same since Windows XP; Wine keeps it current too): the interrupt
// tick count (a KSYSTEM_TIME at 0x320, whose two high words are equal when
// the three were read between updates) times the multiplier at 0x004, over
// 2^24. Under Wine the call passes through three system DLLs, each a page a
// cold frame must first find; the shared page is one read.
HORAVEL_FRAME_CODE bool ReadSharedTickCount(uint32_t* tick)
{
    const auto word = [](uintptr_t offset) {
        return *reinterpret_cast<const volatile uint32_t*>(uintptr_t{0x7FFE0000} + offset);
    };
    for (int attempt = 0; attempt < 3; ++attempt) {
        const uint32_t high1 = word(0x324);
        const uint32_t low = word(0x320);
        const uint32_t high2 = word(0x328);
        if (high1 == high2) {
            const uint32_t multiplier = word(0x004);
            *tick = static_cast<uint32_t>((uint64_t{low} * multiplier) >> 24) + ((high1 * multiplier) << 8);
            return true;
        }
    }
    return false;
}

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
    engine.pipeline.DiscardPicture();
    engine.compositor.SetFrameFormat(width, height, layout);
    CreateClockFont();
    // Plane 0 colour, plane 1 opacity; a repeated start adds none.
    while (engine.overlay.PlaneCount() < 2)
        engine.overlay.AddPlane();
    engine.started.store(true);
}

HORAVEL_FRAME_CODE void ClockEngineProcess(uint8_t* framePixels)
{
    ClockEngine& engine = Engine();
    if (!framePixels || !engine.started.load())
        return;
    engine.pipeline.ProcessFrame(framePixels);
}

} // namespace horavel
