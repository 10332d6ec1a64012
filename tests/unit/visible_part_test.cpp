// A clock larger than the frame is drawn, scaled and kept only where it lands
// on the frame: the sample spans of the filter, the resampler fed a part of a
// picture, and the whole pipeline against the same pipeline drawing the whole
// clock, on random geometries; the frames must be the same bytes.
#include "composite/compositor.h"
#include "composite/resampler.h"
#include "pipeline/frame_pipeline.h"
#include "core/muldiv.h"
#include "render/clock_overlay.h"
#include "pipeline_fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace horavel {
namespace {

uint32_t Seed()
{
    if (const char* s = std::getenv("HORAVEL_SWEEP_SEED"))
        return static_cast<uint32_t>(std::strtoul(s, nullptr, 10));
    return std::random_device{}();
}

// A premultiplied BGRA value that depends on the picture coordinates only,
// so a part drawn alone equals the same pixels of the whole picture.
uint32_t PatternPixel(int32_t x, int32_t y, uint32_t salt)
{
    uint32_t h = uint32_t(x) * 0x9E3779B1u ^ uint32_t(y) * 0x85EBCA77u ^ salt;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    const uint32_t a = (h >> 24) | ((h & 1) ? 0xC0u : 0u);
    const uint32_t b = (h & 0xFF) * a / 255, g = ((h >> 8) & 0xFF) * a / 255, r = ((h >> 16) & 0xFF) * a / 255;
    return b | g << 8 | r << 16 | a << 24;
}

TEST(VisiblePart, SourceSpanIsExactlyTheTapsOfTheTable)
{
    const uint32_t seed = Seed();
    std::printf("visible part seed %u (HORAVEL_SWEEP_SEED to repeat)\n", seed);
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int iter = 0; iter < 3000; ++iter) {
        const int32_t s = pick(0, 3) == 0 ? pick(1, 8) : pick(1, 3000);
        const int32_t d = pick(0, 3) == 0 ? pick(1, 8) : pick(1, 3000);
        const int32_t first = pick(0, d - 1);
        const int32_t count = pick(1, d - first);
        SCOPED_TRACE(testing::Message() << s << " -> " << d << " outputs " << first << " + " << count);
        FilterTable table;
        ASSERT_TRUE(BuildFilterTable(s, d, first, count, 1, table));
        int32_t lo = INT32_MAX, hi = INT32_MIN;
        const uint8_t* entry = table.entries.block.data();
        for (int32_t i = 0; i < count; ++i) {
            int32_t header[2];
            std::memcpy(header, entry, sizeof header);
            if (header[1] > 0) {
                lo = std::min(lo, header[0]);
                hi = std::max(hi, header[0] + header[1]);
            }
            entry += 8 + 8 * header[1];
        }
        const SampleSpan span = SourceSpan(s, d, first, count);
        // Every tap, and at most two samples more at the end (a candidate
        // next to the source's end may drop out by rounding).
        ASSERT_EQ(span.lo, lo);
        ASSERT_GE(span.hi, hi);
        ASSERT_LE(span.hi, std::min(s, hi + 2));

        // The table built for only the samples read takes its offsets from
        // its base; one sample fewer at either end is refused.
        FilterTable held;
        ASSERT_TRUE(BuildFilterTable(s, d, first, count, 1, held, lo, hi - lo));
        int32_t header[2];
        std::memcpy(header, held.entries.block.data(), sizeof header);
        int32_t expected[2];
        std::memcpy(expected, table.entries.block.data(), sizeof expected);
        EXPECT_EQ(header[0], expected[0] - lo);
        FilterTable shortLeft, shortRight;
        if (hi - lo > 1) {
            EXPECT_FALSE(BuildFilterTable(s, d, first, count, 1, shortLeft, lo + 1, hi - lo - 1));
            EXPECT_FALSE(BuildFilterTable(s, d, first, count, 1, shortRight, lo, hi - lo - 1));
        }
    }
}

TEST(VisiblePart, ResamplingAPartGivesTheBytesOfTheWholePicture)
{
    const uint32_t seed = Seed();
    std::printf("visible part seed %u (HORAVEL_SWEEP_SEED to repeat)\n", seed);
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    ResamplerState wholeState, partState;
    for (int iter = 0; iter < 400; ++iter) {
        const int32_t pw = pick(1, 90), ph = pick(1, 60);
        const int32_t dw = pick(1, 200), dh = pick(1, 120);
        const bool bottomUp = pick(0, 1) == 1;
        const OutputFormat format = pick(0, 1) ? OutputFormat::YUVA : OutputFormat::BGRA;
        Rect limit{pick(0, dw - 1), pick(0, dh - 1), 0, 0};
        limit.right = pick(limit.left + 1, dw);
        limit.bottom = pick(limit.top + 1, dh);
        SCOPED_TRACE(testing::Message() << pw << "x" << ph << " -> " << dw << "x" << dh << " only " << limit.left
                                        << "," << limit.top << "," << limit.right << "," << limit.bottom);
        const uint32_t salt = uint32_t(rng());
        std::vector<uint32_t> picture(size_t(pw) * ph);
        for (int32_t y = 0; y < ph; ++y)
            for (int32_t x = 0; x < pw; ++x)
                picture[size_t(ph - 1 - y) * pw + x] = PatternPixel(x, y, salt);

        std::vector<uint32_t> whole(size_t(dw) * dh, 0x5A5A5A5Au), fromPart = whole;
        ASSERT_TRUE(Resample(SourceImage{reinterpret_cast<uint8_t*>(picture.data()), pw, ph, {0, 0, pw, ph}},
                             DestinationImage{reinterpret_cast<uint8_t*>(whole.data()), dw, dh, {0, 0, dw, dh},
                                              bottomUp, limit},
                             format, wholeState));

        // The samples the limited pixels read, copied alone into a larger
        // image at an offset.
        const SampleSpan cols = SourceSpan(pw, dw, limit.left, limit.Width());
        const SampleSpan rows = SourceSpan(ph, dh, limit.top, limit.Height());
        const Rect part{cols.lo, rows.lo, cols.hi, rows.hi};
        const int32_t ox = pick(0, 5), oy = pick(0, 5);
        const int32_t iw = part.Width() + ox + pick(0, 5), ih = part.Height() + oy + pick(0, 5);
        std::vector<uint32_t> image(size_t(iw) * ih, 0xFFFFFFFFu);
        for (int32_t y = 0; y < part.Height(); ++y)
            for (int32_t x = 0; x < part.Width(); ++x)
                image[size_t(ih - 1 - (oy + y)) * iw + ox + x] = PatternPixel(part.left + x, part.top + y, salt);
        SourceImage source{reinterpret_cast<uint8_t*>(image.data()), iw, ih,
                           {ox, oy, ox + part.Width(), oy + part.Height()}, {pw, ph}, {part.left, part.top}};
        const DestinationImage destination{reinterpret_cast<uint8_t*>(fromPart.data()), dw, dh, {0, 0, dw, dh},
                                           bottomUp, limit};
        ASSERT_TRUE(Resample(source, destination, format, partState));
        ASSERT_TRUE(whole == fromPart);

        // A part that misses a sample is refused before anything is written.
        if (part.Width() > 1) {
            std::vector<uint32_t> untouched(size_t(dw) * dh, 0x5A5A5A5Au);
            SourceImage narrow = source;
            narrow.rect.left += 1;
            narrow.partOrigin.x += 1;
            const DestinationImage other{reinterpret_cast<uint8_t*>(untouched.data()), dw, dh, {0, 0, dw, dh},
                                         bottomUp, limit};
            EXPECT_FALSE(Resample(narrow, other, format, partState));
            EXPECT_TRUE(std::all_of(untouched.begin(), untouched.end(), [](uint32_t v) { return v == 0x5A5A5A5Au; }));
        }
    }
}

// Draws the pattern for a clock of text.size() * cellWidth x cellHeight
// pixels, only the part the chooser names.
class PatternRenderer final : public ClockTextRenderer {
public:
    int32_t cellWidth = 10;
    int32_t cellHeight = 20;
    uint32_t salt = 1;

    RenderedClock RenderClockText(const std::string& text, const SettingsRecord&, ClockOverlay& overlay,
                                  const PicturePartChooser& choosePart = {}) override
    {
        const Size size{static_cast<int32_t>(text.size()) * cellWidth, text.empty() ? 0 : cellHeight};
        const Rect whole{0, 0, size.width, size.height};
        const Rect part = choosePart ? Intersect(choosePart(size), whole) : whole;
        bool drawn = !part.IsEmpty();
        for (int32_t plane : {0, 1}) {
            overlay.SelectPlane(plane);
            overlay.EnsurePlaneSize(part.Width(), part.Height(), kOverlayGrowPercent, kOverlayShrinkPercent);
            if (!overlay.Pixels()) {
                drawn = false;
                continue;
            }
            const Size a = overlay.AllocationSize();
            for (int32_t y = 0; y < part.Height(); ++y)
                for (int32_t x = 0; x < part.Width(); ++x) {
                    const uint32_t v = PatternPixel(part.left + x, part.top + y, salt);
                    const uint32_t value = plane == 0 ? v : (v >> 24) * 0x010101u;
                    std::memcpy(overlay.Pixels() + (size_t(a.height - 1 - y) * size_t(a.width) + size_t(x)) * 4,
                                &value, 4);
                }
        }
        if (drawn)
            overlay.CopyAlphaFromPlane(0, 1);
        overlay.SelectPlane(1);
        return {size, drawn, part};
    }
};

class FixedClock final : public WallClock {
public:
    int64_t second = 1000;
    int64_t CurrentSecond() const override { return second; }
};

// One pipeline with its own store, overlay, compositor and renderer; the
// overlay has its two planes, as `start` gives them.
struct Engine {
    Engine()
    {
        overlay.AddPlane();
        overlay.AddPlane();
    }
    SettingsStore settings;
    ClockOverlay overlay;
    Compositor compositor;
    CompositorTarget target{compositor};
    PatternRenderer renderer;
    FixedClock clock;
    FramePipeline pipeline{settings, overlay, target, renderer, clock};
};

// What the frame shows of the whole clock: the whole picture drawn, scaled
// whole and blended at the live position clamped for its size.
void BlendWholeClock(const PatternRenderer& pattern, const SettingsRecord& settings, int32_t w, int32_t h,
                     int32_t layout, std::vector<uint8_t>& frame)
{
    PatternRenderer renderer = pattern;
    ClockOverlay overlay;
    overlay.AddPlane();
    overlay.AddPlane();
    const RenderedClock rendered = renderer.RenderClockText(settings.Format, settings, overlay);
    overlay.SelectPlane(0);
    if (!rendered.hasPicture)
        return;
    const Size thousandths = ClockSizeInThousandths(rendered.pixelSize);
    Compositor compositor;
    compositor.SetFrameFormat(w, h, layout);
    compositor.PrepareOverlay(overlay.Pixels(), overlay.AllocationSize(), overlay.UsedRect(), thousandths,
                              kOverlayGrowPercent, kOverlayShrinkPercent);
    compositor.BlendOverlay(frame.data(), ClampClockPosition({settings.StringPosX, settings.StringPosY}, thousandths),
                            100);
}

TEST(VisiblePart, PipelineDrawsTheBytesOfTheWholeClockWithBlocksTheSizeOfTheFrame)
{
    const uint32_t seed = Seed();
    std::printf("visible part seed %u (HORAVEL_SWEEP_SEED to repeat)\n", seed);
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    Engine bounded;
    int oversized = 0;
    for (int iter = 0; iter < 300; ++iter) {
        const int32_t w = pick(1, 260), h = pick(1, 160), layout = pick(0, 1);
        const int32_t length = pick(0, 12);
        const int32_t cellWidth = pick(1, 120), cellHeight = pick(1, 1200);
        SettingsRecord settings = TableDefaults();
        settings.Format = std::string(size_t(length), 'x');
        settings.StringPosX = pick(-200, 1200);
        settings.StringPosY = pick(-200, 1200);
        SCOPED_TRACE(testing::Message() << w << "x" << h << " layout " << layout << " clock " << length << " x "
                                        << cellWidth << " by " << cellHeight << " at " << settings.StringPosX
                                        << "," << settings.StringPosY);
        const size_t bytes = size_t(w) * h * (layout == 0 ? 2 : 3);
        std::vector<uint8_t> frame(bytes);
        for (uint8_t& b : frame)
            b = uint8_t(rng());
        std::vector<uint8_t> frameWhole = frame;
        bounded.renderer.cellWidth = cellWidth;
        bounded.renderer.cellHeight = cellHeight;
        bounded.renderer.salt = uint32_t(rng());
        bounded.settings.SetLive(settings);
        // As `start` does: the new frame format is drawn on afresh.
        bounded.compositor.SetFrameFormat(w, h, layout);
        bounded.pipeline.RequestClockRedraw();
        bounded.pipeline.ProcessFrame(frame.data());
        BlendWholeClock(bounded.renderer, settings, w, h, layout, frameWhole);
        ASSERT_TRUE(frame == frameWhole);
        // A later frame of the same second, after a move, still matches.
        settings = bounded.settings.Live();
        settings.StringPosX += pick(-300, 300);
        settings.StringPosY += pick(-300, 300);
        bounded.settings.SetLive(settings);
        bounded.pipeline.ProcessFrame(frame.data());
        BlendWholeClock(bounded.renderer, bounded.settings.Live(), w, h, layout, frameWhole);
        ASSERT_TRUE(frame == frameWhole);

        // The copy never outgrows the frame, with the hysteresis: a block is
        // kept while the need is at least 75/125 of it.
        EXPECT_LE(bounded.compositor.capacityWidth(), w * 125 / 75 + 2);
        EXPECT_LE(bounded.compositor.capacityHeight(), h * 125 / 75 + 2);
        const Size clock = bounded.pipeline.ClockSize();
        if (clock.width > 1000 || clock.height > 1000)
            ++oversized;
    }
    EXPECT_GT(oversized, 50);
}

TEST(VisiblePart, NothingOnTheFrameKeepsNoCopy)
{
    std::vector<uint8_t> picture(4 * 64 * 32, 0x80);
    const OverlayPart part{{64, 32}, {0, 0}, {-3000, 0}};
    Compositor c;
    c.SetFrameFormat(100, 50, LayoutYUY2);
    c.PrepareOverlay(picture.data(), {64, 32}, {0, 0, 64, 32}, {600, 400}, 25, 25, part);
    ASSERT_NE(c.scaledPixels(), nullptr);
    // Larger than the frame and placed wholly to its left: no block.
    EXPECT_TRUE(c.PicturePartFor({64, 32}, {2500, 400}, {-3000, 0}).IsEmpty());
    c.PrepareOverlay(picture.data(), {64, 32}, {0, 0, 64, 32}, {2500, 400}, 25, 25, part);
    EXPECT_EQ(c.capacityWidth(), 0);
    EXPECT_EQ(c.capacityHeight(), 0);
    EXPECT_TRUE(c.preparedRect().IsEmpty());

    // Frames that BlendOverlay refuses get no copy built: an unknown layout,
    // a YUY2 line without a whole macropixel.
    for (const auto& [w, h, layout] : {std::tuple{100, 50, 7}, std::tuple{1, 50, int(LayoutYUY2)}}) {
        Compositor refused;
        refused.SetFrameFormat(w, h, layout);
        EXPECT_TRUE(refused.PicturePartFor({64, 32}, {600, 400}, {0, 0}).IsEmpty());
        refused.PrepareOverlay(picture.data(), {64, 32}, {0, 0, 64, 32}, {600, 400}, 25, 25,
                               OverlayPart{{64, 32}, {0, 0}, {0, 0}});
        EXPECT_EQ(uint64_t(refused.capacityWidth()) * uint64_t(refused.capacityHeight()), 0u);
        EXPECT_TRUE(refused.preparedRect().IsEmpty());
    }
}

TEST(VisiblePart, CopyServesOnlyThePositionsItHolds)
{
    // 200 x 100 frame, a clock 2.5 frames wide placed at its clamped -1500:
    // the copy holds the 200 columns on the frame only.
    std::vector<uint8_t> picture(4 * 64 * 32, 0x80);
    Compositor c;
    c.SetFrameFormat(200, 100, LayoutRGB24);
    const Size thousandths{2500, 400};
    const Rect part = c.PicturePartFor({64, 32}, thousandths, {-1500, 0});
    ASSERT_FALSE(part.IsEmpty());
    EXPECT_LT(part.Width(), 64);
    std::vector<uint8_t> held(4 * size_t(part.Width()) * size_t(part.Height()), 0x80);
    c.PrepareOverlay(held.data(), {part.Width(), part.Height()}, {0, 0, part.Width(), part.Height()}, thousandths,
                     25, 25, OverlayPart{{64, 32}, {part.left, part.top}, {-1500, 0}});
    EXPECT_EQ(c.preparedRect(), (Rect{300, 0, 500, 40}));
    EXPECT_TRUE(c.ServesPosition({-1500, 0}));
    EXPECT_TRUE(c.ServesPosition({-1500, 900}));  // it fits vertically: all lines are held
    EXPECT_FALSE(c.ServesPosition({-1000, 0}));
    EXPECT_TRUE(c.ServesPosition({1000, 0}));     // nothing on the frame
    std::vector<uint8_t> frame(3 * 200 * 100, 7);
    c.BlendOverlay(frame.data(), {-1000, 0}, 100);
    EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](uint8_t b) { return b == 7; }));
    c.BlendOverlay(frame.data(), {-1500, 0}, 100);
    EXPECT_FALSE(std::all_of(frame.begin(), frame.end(), [](uint8_t b) { return b == 7; }));
}

TEST(VisiblePart, PositionTheCopyCannotServeGetsAFreshRendering)
{
    using namespace testing_fakes;
    SettingsStore settings;
    settings.SetLive(TableDefaults());
    ClockOverlay overlay;
    RecordingCompositor compositor;
    BoxRenderer renderer;
    FakeClock clock(500);
    FramePipeline pipeline(settings, overlay, compositor, renderer, clock);
    std::vector<uint8_t> frame(16);
    pipeline.ProcessFrame(frame.data());
    ASSERT_EQ(compositor.prepares.size(), 1u);
    // The same position: no question asked, nothing rendered.
    compositor.serves = false;
    pipeline.ProcessFrame(frame.data());
    EXPECT_EQ(compositor.prepares.size(), 1u);
    // A move the copy serves: nothing rendered either.
    compositor.serves = true;
    settings.EditLivePosition([](int32_t& x, int32_t&) { x += 10; });
    pipeline.ProcessFrame(frame.data());
    EXPECT_EQ(compositor.prepares.size(), 1u);
    // A move it cannot serve: rendered again within the second, then blended.
    compositor.serves = false;
    settings.EditLivePosition([](int32_t& x, int32_t&) { x += 10; });
    const size_t blends = compositor.blendCount;
    pipeline.ProcessFrame(frame.data());
    EXPECT_EQ(compositor.prepares.size(), 2u);
    EXPECT_EQ(compositor.blendCount, blends + 1);
}

} // namespace
} // namespace horavel
