// Feeds arbitrary profile texts through the whole clock: loading, format
// cleaning and formatting, the deterministic box renderer of the unit tests,
// PrepareOverlay and BlendOverlay, on frames of any geometry up to
// 1920 x 1080 and any layout code, taken from the input's last bytes.
//
// A finding is a crash or sanitizer report, a write outside the frame (the
// frame lies between guard bytes, inside one allocation so that ASan checks
// the far sides), a clock text that cannot have come from the formatter, or
// one processed frame slower than kFrameBudgetMs. With HORAVEL_FUZZ_FRAME_TIMES
// set, every frame's time is printed.
#include "composite/compositor.h"
#include "pipeline/frame_pipeline.h"
#include "settings/settings_persistence.h"

#include "pipeline_fakes.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

using namespace horavel;
using namespace horavel::testing_fakes;

// The slowest frame allowed, in processor time of this thread (so that a
// busy machine does not count), in this build: coverage counters and ASan
// with the arithmetic checks of UBSan make the pixel work a few times
// slower than in a release build. A frame that re-renders a clock covering
// all of a 1920 x 1080 frame takes about 35 ms here, whatever the clock's
// size, one of the default clock about 2 ms; a format of 128 KB of "% " that
// is cleaned by shifting the rest of the text at each deletion takes about a
// second.
constexpr double kFrameBudgetMs = 250;

// The box renderer's cell follows the font size: height |FontSize| up to
// kMaxCellHeight pixels, half as wide (127 cells stay inside 32 bits). Only
// the part of the clock that lands on the frame is drawn, scaled and
// blended, so clocks many times the frame's size cost no more than one that
// covers it.
constexpr int64_t kMaxCellHeight = 100000;

// The longest format the edit makes.
constexpr size_t kMaxPastedFormat = 1 << 20;

constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

class OneFile final : public ProfileFiles {
public:
    explicit OneFile(std::string bytes) : m_bytes(std::move(bytes)) {}
    std::optional<std::string> ReadOrCreate(const std::string&) override { return m_bytes; }
    bool Replace(const std::string&, std::string_view bytes) override
    {
        m_bytes.assign(bytes);
        return true;
    }

private:
    std::string m_bytes;
};

void Finding(const char* what)
{
    std::fprintf(stderr, "pipeline_fuzzer: %s\n", what);
    std::abort();
}

struct GuardedFrame {
    std::vector<uint8_t> bytes;
    size_t size = 0;

    GuardedFrame(int32_t width, int32_t height, int32_t layout, uint8_t seed)
    {
        const size_t pixelBytes = layout == LayoutRGB24 ? 3 : 2;
        size = size_t(std::max(width, 0)) * size_t(std::max(height, 0)) * pixelBytes;
        bytes.assign(kGuard + size + kGuard, kGuardByte);
        for (size_t i = 0; i < size; ++i)
            bytes[kGuard + i] = static_cast<uint8_t>(seed + i * 7);
    }
    uint8_t* Pixels() { return bytes.data() + kGuard; }
    void CheckGuards() const
    {
        for (size_t i = 0; i < kGuard; ++i)
            if (bytes[i] != kGuardByte || bytes[kGuard + size + i] != kGuardByte)
                Finding("a write outside the frame");
    }
};

double ThreadMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return 1e3 * double(now.tv_sec) + 1e-6 * double(now.tv_nsec);
}

void SetCell(BoxRenderer& renderer, int32_t fontSize)
{
    const int64_t height = std::clamp<int64_t>(fontSize < 0 ? -int64_t{fontSize} : fontSize, 1, kMaxCellHeight);
    renderer.height = static_cast<int32_t>(height);
    renderer.charWidth = static_cast<int32_t>(std::max<int64_t>(height / 2, 1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    // Geometry from the end, so that the front is a profile text as a seed
    // file holds it. Now and then a frame the host should never send.
    const int32_t width = input.ConsumeIntegralInRange<int32_t>(0, 1920);
    const int32_t height = input.ConsumeIntegralInRange<int32_t>(0, 1080);
    const int32_t layoutCode = input.ConsumeIntegralInRange<int32_t>(-1, 3);
    const int32_t layout = layoutCode == 2 ? LayoutYUY2 : layoutCode == 3 ? LayoutRGB24 : layoutCode;
    const uint8_t seed = input.ConsumeIntegral<uint8_t>();
    // The edit of the last frame pastes the format this many times over (a
    // paste gone wrong), so that long formats are reached without long inputs.
    const size_t pastes = size_t{1} << input.ConsumeIntegralInRange<int>(0, 14);
    const std::string profile = input.ConsumeRemainingBytesAsString();

    SettingsStore store;
    OneFile file(profile);
    LoadSettingsFromProfile(store, file, ProfileLocation{"", "F\\", "H.ini", "F\\H.ini"});
    const SettingsRecord loaded = store.Live();

    ClockOverlay overlay;
    overlay.AddPlane();
    overlay.AddPlane();
    Compositor compositor;
    CompositorTarget target(compositor);
    BoxRenderer renderer;
    FakeClock clock(1625140800 + seed);
    FramePipeline pipeline(store, overlay, target, renderer, clock, nullptr);

    // As `start` does, then frames: one that renders, one that only blends,
    // one in the next second, and one after the format was edited.
    pipeline.RequestClockRedraw();
    compositor.SetFrameFormat(width, height, layout);
    GuardedFrame frame(width, height, layout, seed);
    for (int step = 0; step < 4; ++step) {
        if (step == 2)
            clock.Advance();
        if (step == 3) {
            store.EditLive([&](SettingsRecord& live) {
                const std::string once = live.Format + "%H";
                live.Format.clear();
                for (size_t i = 0; i < pastes && live.Format.size() + once.size() <= kMaxPastedFormat; ++i)
                    live.Format += once;
            });
            pipeline.RequestClockRedraw();
        }
        // What the clock must show, the plain way, outside the timing.
        const std::string expected = FormatClockTime(CleanClockFormat(store.Live().Format), clock.CurrentSecond());
        SetCell(renderer, loaded.FontSize);

        const double start = ThreadMilliseconds();
        pipeline.ProcessFrame(frame.Pixels());
        const double spent = ThreadMilliseconds() - start;
        static const bool printTimes = std::getenv("HORAVEL_FUZZ_FRAME_TIMES") != nullptr;
        if (printTimes)
            std::fprintf(stderr, "frame %d: %.1f ms, %d x %d (layout %d), clock %d x %d thousandths\n", step, spent,
                         width, height, layout, pipeline.ClockSize().width, pipeline.ClockSize().height);
        if (spent > kFrameBudgetMs) {
            std::fprintf(stderr, "pipeline_fuzzer: %.0f ms for a %d x %d frame (layout %d), clock %d x %d thousandths\n",
                         spent, width, height, layout, pipeline.ClockSize().width, pipeline.ClockSize().height);
            Finding("a frame slower than the budget");
        }
        frame.CheckGuards();
        if (pipeline.ClockText() != expected)
            Finding("a clock text other than one strftime over the whole cleaned format gives");
    }
    // A rendering is due once a second and per redraw request.
    if (renderer.texts.size() != 3)
        Finding("not one rendering per second and per redraw request");
    return 0;
}
