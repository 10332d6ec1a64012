// Whole frames through the frame pipeline with the real compositor, hot and
// with cold caches, each beside the memory floor measured in the same run:
//   BM_SteadyFrame     a frame that blends the held clock;
//   BM_RerenderFrame   a frame of a new second (the text changes, "%S").
// Cold: a buffer far larger than the caches (HORAVEL_EVICT_MB, default 128)
// is read before each timed frame, outside the timing. Every benchmark times
// the floor, the frame bytes under the clock copied in place, after the same
// eviction, and reports frame_us, floor_us and their ratio: only ratios from
// one run mean anything on a shared machine. The text renderer is a small
// deterministic one (GDI is timed by the Windows clock bench).
#include "bench/cold_cache.h"
#include "composite/compositor.h"
#include "pipeline/frame_pipeline.h"
#include "core/muldiv.h"
#include "render/clock_colors.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace horavel {
namespace {

bench::CacheEvictor& Evictor()
{
    static bench::CacheEvictor evictor;
    return evictor;
}

class SettableClock final : public WallClock {
public:
    int64_t second = 1625140800;
    int64_t CurrentSecond() const override { return second; }
};

// Characters as cells of a blocky font the size of FontSize: back box,
// strokes in the text colour, the shadow offset by ShadowOffset percent.
class BlockRenderer final : public ClockTextRenderer {
public:
    RenderedClock RenderClockText(const std::string& text, const SettingsRecord& s, ClockOverlay& overlay,
                                  const PicturePartChooser& choosePart = {}) override
    {
        const int32_t h = std::max(1, std::abs(s.FontSize) * 115 / 100);
        const int32_t cw = std::max(1, std::abs(s.FontSize) * 55 / 100);
        const int32_t sh = MulDiv(h, s.ShadowOffset, 100);
        const Size size{int32_t(text.size()) * cw + sh, text.empty() ? 0 : h + sh};
        const Rect whole{0, 0, size.width, size.height};
        const Rect part = choosePart ? Intersect(choosePart(size), whole) : whole;
        const uint32_t back[2] = {ScaleColorByPercent(s.BackColor, s.BackOpacity), GreyFromPercent(s.BackOpacity)};
        const uint32_t ink[2] = {ScaleColorByPercent(s.TextColor, s.TextOpacity), GreyFromPercent(s.TextOpacity)};
        const uint32_t shade[2] = {0, GreyFromPercent(s.TextOpacity)};
        auto stroke = [&](int32_t x, int32_t y) {
            if (x < 0 || y < 0 || y >= h || x >= int32_t(text.size()) * cw)
                return false;
            const unsigned char c = static_cast<unsigned char>(text[size_t(x / cw)]);
            const int32_t cx = x % cw * 5 / cw, cy = y * 7 / h;
            return ((c * 2654435761u) >> ((cx + 5 * cy) % 29) & 1) != 0;
        };
        for (int32_t plane : {0, 1}) {
            overlay.SelectPlane(plane);
            overlay.EnsurePlaneSize(part.Width(), part.Height(), kOverlayGrowPercent, kOverlayShrinkPercent);
            if (!overlay.Pixels())
                return {size, false, part};
            const Size a = overlay.AllocationSize();
            for (int32_t y = part.top; y < part.bottom; ++y) {
                uint32_t* row = reinterpret_cast<uint32_t*>(overlay.Pixels() + size_t(a.height - 1 - (y - part.top)) *
                                                                                   size_t(a.width) * 4);
                for (int32_t x = part.left; x < part.right; ++x)
                    row[x - part.left] = stroke(x, y) ? ink[plane] : stroke(x - sh, y - sh) ? shade[plane] : back[plane];
            }
        }
        overlay.CopyAlphaFromPlane(0, 1);
        overlay.SelectPlane(1);
        return {size, !part.IsEmpty(), part};
    }
};

struct Case {
    int32_t width, height, layout, fontSize;
};
constexpr Case kCases[] = {
    {720, 576, LayoutYUY2, -34},
    {3840, 2160, LayoutYUY2, -60},
    {3840, 2160, LayoutRGB24, -60},
};

struct Rig {
    SettingsStore store;
    ClockOverlay overlay;
    Compositor compositor;
    CompositorTarget target{compositor};
    BlockRenderer renderer;
    SettableClock clock;
    FramePipeline pipeline{store, overlay, target, renderer, clock};
    std::vector<uint8_t> frame;
    Case c;

    Rig(const Case& k, const std::string& format) : c(k)
    {
        SettingsRecord s = TableDefaults();
        s.FontSize = c.fontSize;
        s.StringPosX = 300;
        s.StringPosY = 400;
        s.Format = format;
        store.SetLive(s);
        overlay.AddPlane();
        overlay.AddPlane();
        compositor.SetFrameFormat(c.width, c.height, c.layout);
        pipeline.RequestClockRedraw();
        frame.assign(size_t(c.width) * c.height * (c.layout == LayoutYUY2 ? 2 : 3), 0);
        for (size_t i = 0; i < frame.size(); ++i)
            frame[i] = static_cast<uint8_t>(32 + (i * 13 + i / 4096) % 190);
        pipeline.ProcessFrame(frame.data());
    }

    // The in-place copy of the frame bytes the clock covers.
    double Floor()
    {
        const int32_t bpp = c.layout == LayoutYUY2 ? 2 : 3;
        const Rect content = compositor.contentRect();
        const SettingsRecord live = store.Live();
        const int32_t x = MulDiv(c.width, live.StringPosX, 1000), y = MulDiv(c.height, live.StringPosY, 1000);
        const int32_t w = std::min(content.Width(), c.width - x), h = std::min(content.Height(), c.height - y);
        const ptrdiff_t pitch = ptrdiff_t{bpp} * c.width;
        uint8_t* first = c.layout == LayoutYUY2 ? frame.data() + y * pitch + bpp * x
                                                : frame.data() + (c.height - 1 - y) * pitch + bpp * x;
        const auto t0 = std::chrono::steady_clock::now();
        bench::CopyBoxInPlace(first, c.layout == LayoutYUY2 ? pitch : -pitch, h, size_t(bpp) * w);
        return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    }
    double Frame()
    {
        const auto t0 = std::chrono::steady_clock::now();
        pipeline.ProcessFrame(frame.data());
        benchmark::ClobberMemory();
        return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    }
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// range(0): case, range(1): 1 = cold. Every iteration times one frame and,
// after its own eviction, one floor copy.
void Run(benchmark::State& state, const std::string& format, bool newSecond)
{
    const Case c = kCases[state.range(0)];
    const bool cold = state.range(1) != 0;
    Rig rig(c, format);
    std::vector<double> frames, floors;
    for (auto _ : state) {
        if (cold)
            Evictor().Evict();
        floors.push_back(rig.Floor());
        if (newSecond)
            rig.clock.second += 1;
        if (cold)
            Evictor().Evict();
        const double us = rig.Frame();
        frames.push_back(us);
        state.SetIterationTime(us * 1e-6);
    }
    const double frame = Median(frames), floor = Median(floors);
    state.counters["frame_us"] = frame;
    state.counters["floor_us"] = floor;
    state.counters["ratio"] = floor > 0 ? frame / floor : 0;
    state.SetLabel(std::to_string(c.width) + "x" + std::to_string(c.height) + (c.layout == LayoutYUY2 ? " YUY2" : " RGB24") +
                   " FontSize " + std::to_string(c.fontSize) + (cold ? " cold" : " hot"));
}

void BM_SteadyFrame(benchmark::State& state)
{
    Run(state, "%H:%M:%S", false);
}

void BM_RerenderFrame(benchmark::State& state)
{
    Run(state, "%S", true);
}

void Cases(benchmark::internal::Benchmark* b)
{
    for (int64_t c = 0; c < 3; ++c)
        for (int64_t cold : {0, 1})
            b->Args({c, cold});
    b->UseManualTime()->Iterations(60);
}

BENCHMARK(BM_SteadyFrame)->Apply(Cases);
BENCHMARK(BM_RerenderFrame)->Apply(Cases);

} // namespace
} // namespace horavel

BENCHMARK_MAIN();
