// clock_steps: where a frame's time goes, step by step. It builds the clock's
// pieces from the Win32 shell library (the GDI renderer with DIB-section
// planes, the compositor, the settings store, the module-state guard) and
// runs the steps of a steady frame and of a re-rendering frame in the order
// the plug-in runs them, reading the time-stamp counter between steps. Each
// kind of frame runs with cold caches (a large buffer read before it) and hot
// (the same frame again at once); the memory floor, the in-place copy of the
// frame bytes under the clock, is timed the same way, so every figure can be
// read against it.
//
//   wine clock_steps.exe [--rounds N]        (HORAVEL_EVICT_MB sizes the eviction)
//
// The GDI sequence here is the one the renderer made before it kept its
// device context and filled the box in memory (the memory fill is timed
// beside it); GdiClockTextRenderer::RenderClockText as it is now is timed as
// one call below, so the two can be read together.

#include "bench/cold_cache.h"
#include "composite/compositor.h"
#include "composite/kernels.h"
#include "composite/resampler.h"
#include "core/calendar_second.h"
#include "pipeline/frame_pipeline.h"
#include "core/muldiv.h"
#include "core/plugin_record.h"
#include "framework/module_state.h"
#include "render/clock_colors.h"
#include "render/clock_overlay.h"
#include "render/dib_plane_win32.h"
#include "render/gdi_clock_renderer_win32.h"

#include <windows.h>
#include <x86intrin.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace horavel;

double g_ticksPerMicrosecond = 0;

void CalibrateTsc()
{
    LARGE_INTEGER f, q0, q1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&q0);
    const uint64_t t0 = __rdtsc();
    do
        QueryPerformanceCounter(&q1);
    while (q1.QuadPart - q0.QuadPart < f.QuadPart / 5);
    const uint64_t t1 = __rdtsc();
    g_ticksPerMicrosecond = double(t1 - t0) / (1e6 * double(q1.QuadPart - q0.QuadPart) / double(f.QuadPart));
}

// Named step durations of one kind of frame, collected over rounds.
class StepTable {
public:
    void Begin() { m_last = __rdtsc(); }
    void Mark(const char* step)
    {
        const uint64_t now = __rdtsc();
        Add(step, double(now - m_last) / g_ticksPerMicrosecond);
        m_last = __rdtsc();
    }
    void Add(const std::string& step, double us)
    {
        if (!m_samples.count(step))
            m_order.push_back(step);
        m_samples[step].push_back(us);
    }
    double Median(const std::string& step) const
    {
        auto it = m_samples.find(step);
        if (it == m_samples.end() || it->second.empty())
            return 0;
        std::vector<double> v = it->second;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }
    const std::vector<std::string>& Steps() const { return m_order; }

private:
    uint64_t m_last = 0;
    std::vector<std::string> m_order;
    std::map<std::string, std::vector<double>> m_samples;
};

void FillSolidRect(HDC dc, const Rect& rect, COLORREF color)
{
    const COLORREF previous = ::SetBkColor(dc, color);
    const RECT r{rect.left, rect.top, rect.right, rect.bottom};
    ::ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
    ::SetBkColor(dc, previous);
}

std::atomic<int32_t> g_processGate{1};  // stands for the frame-format gate of `process`

struct Case {
    const char* name;
    int32_t width, height, layout, fontSize;
};

struct Setup {
    Case c;
    SettingsStore store;
    ClockOverlay overlay{AllocateDibPlane};
    Compositor compositor;
    GdiClockTextRenderer renderer;
    HFONT font = nullptr;
    std::vector<uint8_t> frame;
    Size pixelSize;
    Size thousandths;

    explicit Setup(const Case& k) : c(k)
    {
        SettingsRecord s = TableDefaults();
        s.FontSize = c.fontSize;
        s.StringPosX = 300;
        s.StringPosY = 400;
        store.SetLive(s);
        const LOGFONTA lf = MakeClockLogFont(s);
        font = ::CreateFontIndirectA(&lf);
        renderer.CreateClockFont(s);
        overlay.AddPlane();
        overlay.AddPlane();
        compositor.SetFrameFormat(c.width, c.height, c.layout);
        frame.assign(size_t(c.width) * c.height * (c.layout == 0 ? 2 : 3), 0);
        for (size_t i = 0; i < frame.size(); ++i)
            frame[i] = static_cast<uint8_t>(32 + (i * 13 + i / 4096) % 190);
    }
    ~Setup() { ::DeleteObject(font); }
};

// One re-rendering frame, cut into its steps.
void RerenderSteps(Setup& s, int64_t second, StepTable& t)
{
    t.Begin();
    const SettingsRecord settings = s.store.Live();
    t.Mark("settings copy (lock + record)");
    const std::string text = FormatClockTime(CleanClockFormat(settings.Format), second);
    t.Mark("format clean + localtime + strftime");

    HDC dc = ::CreateCompatibleDC(nullptr);
    const HGDIOBJ previousFont = ::SelectObject(dc, s.font);
    ::SetBkMode(dc, TRANSPARENT);
    t.Mark("GDI: memory DC + select font");
    const int length = static_cast<int>(text.size());
    SIZE extent{};
    ::GetTextExtentPoint32A(dc, text.data(), length, &extent);
    t.Mark("GDI: measure text");
    const int32_t shadow = horavel::MulDiv(extent.cy, settings.ShadowOffset, 100);
    const Size size{extent.cx + shadow, extent.cy + shadow};
    for (int32_t plane : {0, 1}) {
        s.overlay.SelectPlane(plane);
        s.overlay.EnsurePlaneSize(size.width, size.height, kOverlayGrowPercent, kOverlayShrinkPercent);
    }
    const HGDIOBJ previousBitmap = ::GetCurrentObject(dc, OBJ_BITMAP);
    t.Mark("plane sizing");
    s.overlay.SelectPlane(0);
    ::SelectObject(dc, static_cast<HBITMAP>(s.overlay.NativeHandle()));
    FillSolidRect(dc, s.overlay.UsedRect(), ScaleColorByPercent(settings.BackColor, settings.BackOpacity));
    t.Mark("GDI: colour plane, back box");
    if (shadow != 0) {
        ::SetTextColor(dc, RGB(0, 0, 0));
        ::TextOutA(dc, shadow, shadow, text.data(), length);
    }
    t.Mark("GDI: colour plane, shadow");
    ::SetTextColor(dc, ScaleColorByPercent(settings.TextColor, settings.TextOpacity));
    ::TextOutA(dc, 0, 0, text.data(), length);
    t.Mark("GDI: colour plane, text");
    s.overlay.SelectPlane(1);
    ::SelectObject(dc, static_cast<HBITMAP>(s.overlay.NativeHandle()));
    FillSolidRect(dc, s.overlay.UsedRect(), GreyFromPercent(settings.BackOpacity));
    t.Mark("GDI: opacity plane, back box");
    ::SetTextColor(dc, GreyFromPercent(settings.TextOpacity));
    if (shadow != 0)
        ::TextOutA(dc, shadow, shadow, text.data(), length);
    t.Mark("GDI: opacity plane, shadow");
    ::TextOutA(dc, 0, 0, text.data(), length);
    t.Mark("GDI: opacity plane, text");
    ::GdiFlush();
    t.Mark("GDI: flush");
    s.overlay.CopyAlphaFromPlane(0, 1);
    t.Mark("alpha copy (fold of the planes)");
    // What the renderer does now instead of GDI's fill, for one plane.
    {
        const Rect used = s.overlay.UsedRect();
        const Size a = s.overlay.AllocationSize();
        std::vector<uint32_t> scratch(size_t(a.width) * size_t(a.height));
        t.Mark("(scratch allocation, not a step)");
        for (int32_t y = used.top; y < used.bottom; ++y)
            std::fill(scratch.data() + size_t(y) * size_t(a.width) + used.left,
                      scratch.data() + size_t(y) * size_t(a.width) + used.right, 0x00262600u);
        t.Mark("  box filled in memory instead (one plane, now)");
    }
    ::SelectObject(dc, previousBitmap);
    ::SelectObject(dc, previousFont);
    ::DeleteDC(dc);
    t.Mark("GDI: restore + delete DC");

    s.pixelSize = size;
    s.thousandths = ClockSizeInThousandths(size);
    s.overlay.SelectPlane(0);
    t.Begin();
    s.compositor.PrepareOverlay(s.overlay.Pixels(), s.overlay.AllocationSize(), s.overlay.UsedRect(),
                                s.thousandths, kOverlayGrowPercent, kOverlayShrinkPercent);
    t.Mark("PrepareOverlay (all of it)");
    // The first blend after a preparation packs a YUY2 copy; the frame that
    // re-renders pays that, a steady frame finds it packed.
    if (s.c.layout == 0) {
        const SettingsRecord live = s.store.Live();
        s.compositor.BlendOverlay(s.frame.data(),
                                  ClampClockPosition({live.StringPosX, live.StringPosY}, s.thousandths), 100);
        t.Mark("first blend, the YUY2 copy packed");
    }
}

// The resampler's work of that PrepareOverlay, pass by pass, on a state of
// its own whose tables are already built (as they are at a re-render of the
// same size).
struct PassTimer {
    ResamplerState state;
    AlignedBlock copy;
    int32_t copyWidth = 0, copyHeight = 0;

    void Run(Setup& s, StepTable& t, bool cold, bench::CacheEvictor& evictor)
    {
        const Size target{horavel::MulDiv(s.c.width, s.thousandths.width, 1000), horavel::MulDiv(s.c.height, s.thousandths.height, 1000)};
        const int32_t cw = horavel::MulDiv(target.width, 125, 100), ch = horavel::MulDiv(target.height, 125, 100);
        const size_t bytes = size_t(4) * cw * ch;

        // What a reallocation of the scaled copy costs: the block and the
        // first touch of every page the resampler then writes.
        if (cold)
            evictor.Evict();
        t.Begin();
        copy.Allocate(bytes);
        t.Mark("scaled copy: allocate (size change only)");
        for (int32_t r = 0; r < target.height; ++r)
            std::memset(copy.data() + size_t(4) * cw * r, 0, size_t(4) * target.width);
        t.Mark("scaled copy: first touch (size change only)");
        copyWidth = cw;
        copyHeight = ch;

        s.overlay.SelectPlane(0);
        const Rect src = s.overlay.UsedRect();
        const Size image = s.overlay.AllocationSize();
        const int32_t stride = -4 * image.width;
        const bool yuva = s.c.layout == 0;
        if (cold)
            evictor.Evict();
        t.Begin();
        EnsureCapacity(state.rowBuffer, src.Width(), 8 * kResampleGroupLines, 30, 100);
        BuildFilterTable(src.Height(), target.height, 0, target.height, stride, state.vertical);
        BuildFilterTable(src.Width(), target.width, 0, target.width, 4, state.horizontal);
        t.Mark("filter tables (size change only)");

        if (cold)
            evictor.Evict();
        const KernelTable& k = Kernels();
        const uint8_t* topLeft = s.overlay.Pixels() + size_t(image.height - 1 - src.top) * 4 * image.width;
        int16_t* rows = reinterpret_cast<int16_t*>(state.rowBuffer.block.data());
        const uint8_t* ventry = state.vertical.entries.block.data();
        const uint8_t* hentries = state.horizontal.entries.block.data();
        const ptrdiff_t destLine = ptrdiff_t{4} * cw;
        const ptrdiff_t outStride = s.c.layout == 1 ? -destLine : destLine;
        uint64_t vertical = 0, horizontal = 0;
        for (int32_t group = 0; group < target.height; group += kResampleGroupLines) {
            const int32_t lines = std::min(target.height - group, kResampleGroupLines);
            const uint64_t t0 = __rdtsc();
            for (int32_t l = 0; l < kResampleGroupLines; ++l) {
                if (l >= lines) {
                    k.resampleVertical(topLeft, stride, nullptr, 0, src.Width(), rows + 4 * l);
                    continue;
                }
                int32_t header[2];
                std::memcpy(header, ventry, sizeof header);
                k.resampleVertical(topLeft + header[0], stride, reinterpret_cast<const int16_t*>(ventry + 8),
                                   header[1], src.Width(), rows + 4 * l);
                ventry += 8 + 8 * header[1];
            }
            const uint64_t t1 = __rdtsc();
            const int32_t stored = s.c.layout == 1 ? ch - 1 - group : group;
            k.resampleHorizontal(rows, hentries, target.width, copy.data() + stored * destLine, outStride, lines,
                                 yuva);
            horizontal += __rdtsc() - t1;
            vertical += t1 - t0;
        }
        t.Add("resampler: vertical pass", double(vertical) / g_ticksPerMicrosecond);
        t.Add(yuva ? "resampler: horizontal pass + YUVA conversion" : "resampler: horizontal pass",
              double(horizontal) / g_ticksPerMicrosecond);
        if (yuva) {
            // The conversion's share: the same horizontal pass storing BGRA.
            uint64_t plain = 0;
            ventry = state.vertical.entries.block.data();
            for (int32_t group = 0; group < target.height; group += kResampleGroupLines) {
                const int32_t lines = std::min(target.height - group, kResampleGroupLines);
                const uint64_t t1 = __rdtsc();
                k.resampleHorizontal(rows, hentries, target.width, copy.data() + group * destLine, outStride, lines,
                                     false);
                plain += __rdtsc() - t1;
            }
            t.Add("  of which YUVA conversion (vs a BGRA pass, hot)",
                  double(horizontal > plain ? horizontal - plain : 0) / g_ticksPerMicrosecond);
        }
        copy.Release();
    }
};

void SteadySteps(Setup& s, std::atomic<int64_t>& lastSecond, StepTable& t)
{
    t.Begin();
    {
        framework::ModuleStateGuard state(framework::StaticModuleState());
        t.Mark("module-state guard (TLS)");
        if (g_processGate.load(std::memory_order_acquire) != 1)
            return;
        t.Mark("frame-format gate (atomic)");
        // As the DLL does: the system time, every frame.
        FILETIME ft;
        ::GetSystemTimeAsFileTime(&ft);
        const int64_t now = CalendarSecondFromFileTime((uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime);
        t.Mark("time look-up (system time)");
        const bool due = lastSecond.exchange(now) != now;
        (void)due;
        t.Mark("redraw check (atomic)");
        Point position;
        s.store.EditLive([&](SettingsRecord& live) {
            position = ClampClockPosition({live.StringPosX, live.StringPosY}, s.thousandths);
            live.StringPosX = position.x;
            live.StringPosY = position.y;
        });
        t.Mark("settings lock + clamp");
        s.compositor.BlendOverlay(s.frame.data(), position, 100);
        t.Mark("blend");
    }
    t.Mark("module-state restore");
}

// The platform's clocks and TLS on their own, cold and hot: what a cheaper
// time look-up or module-state switch could be built on.
DWORD g_tls = TlsAlloc();
void PlatformProbes(StepTable& t)
{
    LARGE_INTEGER q;
    FILETIME ft;
    t.Begin();
    QueryPerformanceCounter(&q);
    t.Mark("probe: QueryPerformanceCounter");
    GetTickCount();
    t.Mark("probe: GetTickCount");
    GetSystemTimeAsFileTime(&ft);
    t.Mark("probe: GetSystemTimeAsFileTime");
    std::time(nullptr);
    t.Mark("probe: time() (the C runtime's)");
    {
        static std::mutex lock;
        std::lock_guard<std::mutex> guard(lock);
    }
    t.Mark("probe: std::mutex lock + unlock");
    TlsSetValue(g_tls, TlsGetValue(g_tls));
    t.Mark("probe: TlsGetValue + TlsSetValue");
}

void BoxFloor(Setup& s, StepTable& t)
{
    const int32_t bpp = s.c.layout == 0 ? 2 : 3;
    const int32_t x = horavel::MulDiv(s.c.width, 300, 1000), y = horavel::MulDiv(s.c.height, 400, 1000);
    const Rect content = s.compositor.contentRect();
    const int32_t w = std::min(content.Width(), s.c.width - x), h = std::min(content.Height(), s.c.height - y);
    const ptrdiff_t pitch = ptrdiff_t{bpp} * s.c.width;
    uint8_t* first = s.c.layout == 0 ? s.frame.data() + y * pitch + bpp * x
                                     : s.frame.data() + (s.c.height - 1 - y) * pitch + bpp * x;
    t.Begin();
    bench::CopyBoxInPlace(first, s.c.layout == 0 ? pitch : -pitch, h, size_t(bpp) * w);
    t.Mark("FLOOR: copy of the frame box in place");
}

void PrintTable(const char* title, const StepTable& cold, const StepTable& hot, double floorCold, double floorHot)
{
    std::printf("%s\n  %-50s %10s %10s\n", title, "step", "cold us", "hot us");
    double sumCold = 0, sumHot = 0;
    for (const std::string& step : cold.Steps()) {
        const double c = cold.Median(step), h = hot.Median(step);
        std::printf("  %-50s %10.2f %10.2f\n", step.c_str(), c, h);
        // Sub-steps, the floor, notes and the platform probes are not steps of the frame.
        if (step.rfind("  ", 0) != 0 && step.rfind("FLOOR", 0) != 0 && step.rfind("(", 0) != 0 &&
            step.rfind("probe:", 0) != 0) {
            sumCold += c;
            sumHot += h;
        }
    }
    std::printf("  %-50s %10.2f %10.2f\n", "sum of the steps' medians", sumCold, sumHot);
    if (floorCold > 0)
        std::printf("  %-50s %10.2f %10.2f\n", "sum / floor", sumCold / floorCold, sumHot / floorHot);
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = 25;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(3, std::atoi(argv[i + 1]));
    framework::InitModuleState(GetModuleHandleA(nullptr));
    CalibrateTsc();
    bench::CacheEvictor evictor;
    std::printf("kernels %s, eviction buffer %zu MB, %d rounds, TSC %.0f MHz; medians in microseconds\n",
                CpuLevelName(ActiveCpuLevel()), evictor.Megabytes(), rounds, g_ticksPerMicrosecond);

    const Case cases[] = {
        {"720 x 576 YUY2, default clock", 720, 576, 0, -34},
        {"3840 x 2160 YUY2, FontSize -60", 3840, 2160, 0, -60},
        {"3840 x 2160 RGB24, FontSize -60", 3840, 2160, 1, -60},
    };
    for (const Case& c : cases) {
        Setup s(c);
        std::atomic<int64_t> lastSecond{0};
        StepTable rerenderCold, rerenderHot, steadyCold, steadyHot, passesCold, passesHot, realCold, realHot;
        PassTimer passes;
        // Warm up: the first rendering sizes the planes and the copy and
        // builds the tables, as the first frame of a stream does.
        int64_t second = 1625140800;
        RerenderSteps(s, second++, rerenderHot);
        rerenderHot = StepTable();
        // The renderer the plug-in runs, for comparison with the pieces.
        auto realRender = [&](StepTable& t) {
            t.Begin();
            const SettingsRecord live = s.store.Live();
            const std::string text = FormatClockTime(CleanClockFormat(live.Format), second++);
            s.renderer.RenderClockText(text, live, s.overlay);
            t.Mark("GdiClockTextRenderer::RenderClockText + format, as a whole");
        };
        for (int r = 0; r < rounds; ++r) {
            evictor.Evict();
            RerenderSteps(s, second++, rerenderCold);
            RerenderSteps(s, second++, rerenderHot);
            evictor.Evict();
            realRender(realCold);
            realRender(realHot);
            passes.Run(s, passesCold, true, evictor);
            passes.Run(s, passesHot, false, evictor);
            evictor.Evict();
            SteadySteps(s, lastSecond, steadyCold);
            SteadySteps(s, lastSecond, steadyHot);
            evictor.Evict();
            PlatformProbes(steadyCold);
            PlatformProbes(steadyHot);
            evictor.Evict();
            BoxFloor(s, steadyCold);
            BoxFloor(s, steadyHot);
        }
        const Rect content = s.compositor.contentRect();
        std::printf("\n== %s: picture %d x %d px, scaled copy %d x %d px\n", c.name, s.pixelSize.width,
                    s.pixelSize.height, content.Width(), content.Height());
        const std::string floorStep = "FLOOR: copy of the frame box in place";
        PrintTable("-- steady frame", steadyCold, steadyHot, steadyCold.Median(floorStep), steadyHot.Median(floorStep));
        PrintTable("-- re-rendering frame", rerenderCold, rerenderHot, 0, 0);
        PrintTable("-- what PrepareOverlay does, pass by pass (and what a size change adds)", passesCold, passesHot,
                   0, 0);
        PrintTable("-- the renderer as one call", realCold, realHot, 0, 0);
    }
    return 0;
}
