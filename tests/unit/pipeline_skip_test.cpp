// A rendering whose picture would come out the same keeps the held one: two
// pipelines with real compositors, one keeping unchanged pictures and one
// rendering on every second and every request, get the same events and must
// give the same frames, byte for byte, after every one of them.
#include "composite/compositor.h"
#include "core/frame_pipeline.h"
#include "pipeline_fakes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace horavel {
namespace {

using namespace testing_fakes;

// Every character a cell whose width and bytes follow the character code;
// the colours, opacities, shadow and font size shape every cell, and the
// font generation (the stand-in for a new font object) shifts the bytes.
class CharacterRenderer final : public ClockTextRenderer {
public:
    uint64_t generation = 1;
    uint64_t PictureGeneration() const override { return generation; }

    RenderedClock RenderClockText(const std::string& text, const SettingsRecord& settings, ClockOverlay& overlay,
                                  const PicturePartChooser& choosePart = {}) override
    {
        // Cell boundaries: character i covers columns starts[i] .. starts[i + 1] - 1.
        std::vector<int32_t> starts{0};
        for (unsigned char c : text)
            starts.push_back(starts.back() + 3 + c % 4);
        const int32_t height = text.empty() ? 0 : 4 + (settings.FontSize < 0 ? -settings.FontSize : settings.FontSize) % 9;
        const int32_t shadow = settings.ShadowOffset % 3;
        const Size size{starts.back() + shadow, height + shadow};
        const Rect whole{0, 0, size.width, size.height};
        const Rect part = choosePart ? Intersect(choosePart(size), whole) : whole;
        for (int32_t plane : {0, 1}) {
            overlay.SelectPlane(plane);
            overlay.EnsurePlaneSize(part.Width(), part.Height(), kOverlayGrowPercent, kOverlayShrinkPercent);
        }
        const uint32_t back = ScaleColorByPercent(settings.BackColor, settings.BackOpacity);
        const uint32_t ink = ScaleColorByPercent(settings.TextColor, settings.TextOpacity);
        const uint32_t backGrey = GreyFromPercent(settings.BackOpacity);
        const uint32_t inkGrey = GreyFromPercent(settings.TextOpacity);
        for (int32_t plane : {0, 1}) {
            overlay.SelectPlane(plane);
            if (!overlay.Pixels())
                return {size, false, part};
            const Size a = overlay.AllocationSize();
            size_t index = 0;
            for (int32_t x = part.left; x < part.right; ++x) {
                while (index < text.size() && x >= starts[index + 1])
                    ++index;
                const unsigned char c = index < text.size() ? static_cast<unsigned char>(text[index]) : 0;
                for (int32_t y = part.top; y < part.bottom; ++y) {
                    const bool inkPixel = index < text.size() && ((x - starts[index]) + y + c) % 3 != 0;
                    uint32_t value = plane == 0 ? (inkPixel ? ink : back) : (inkPixel ? inkGrey : backGrey);
                    if (plane == 0 && inkPixel)
                        value ^= static_cast<uint32_t>((c + generation * 7) & 0x1F);
                    const size_t row = size_t(a.height - 1 - (y - part.top));
                    std::memcpy(overlay.Pixels() + (row * size_t(a.width) + size_t(x - part.left)) * 4, &value, 4);
                }
            }
        }
        overlay.CopyAlphaFromPlane(0, 1);
        overlay.SelectPlane(1);
        return {size, !part.IsEmpty(), part};
    }
};

// One pipeline with everything it draws through.
struct Chain {
    SettingsStore store;
    ClockOverlay overlay;
    Compositor compositor;
    CompositorTarget target{compositor};
    CharacterRenderer renderer;
    FakeClock& clock;
    FramePipeline pipeline;
    std::vector<uint8_t> frame;
    int32_t width = 0, height = 0, layout = 0;

    Chain(FakeClock& c, bool keepUnchanged, bool updateCopy = true)
        : clock(c), pipeline(store, overlay, target, renderer, clock)
    {
        compositor.SetIncrementalRescaling(updateCopy);
        SettingsRecord record = TableDefaults();
        record.Format = "%H:%M";
        record.StringPosX = 250;
        record.StringPosY = 600;
        store.SetLive(record);
        overlay.AddPlane();
        overlay.AddPlane();
        pipeline.SetSkipUnchangedPictures(keepUnchanged);
    }
    // What `start` does for the clock.
    void Start(int32_t w, int32_t h, int32_t l)
    {
        width = w, height = h, layout = l;
        pipeline.DiscardPicture();
        compositor.SetFrameFormat(w, h, l);
        renderer.generation += 1;  // `start` creates the clock font
        frame.assign(size_t(w) * size_t(h) * (l == LayoutYUY2 ? 2 : 3), 0);
        for (size_t i = 0; i < frame.size(); ++i)
            frame[i] = static_cast<uint8_t>(i * 7 + i / 97);
    }
    void Edit(const std::function<void(SettingsRecord&)>& edit, bool redraw = true)
    {
        store.EditLive(edit);
        if (redraw)
            pipeline.RequestClockRedraw();
    }
};

TEST(PipelineKeepsUnchangedPictures, FramesEqualThoseOfRenderingEveryTime)
{
    FakeClock clock(1625140800 - 130);  // crosses minute boundaries
    // The third scales every rendering in full: the copies the others update
    // in place must give the same frames.
    Chain keep(clock, true), every(clock, false), whole(clock, true, false);
    int events = 0;
    auto both = [&](const std::function<void(Chain&)>& event) {
        event(keep);
        event(every);
        event(whole);
        ++events;
    };
    auto frames = [&](int count, bool tick) {
        for (int i = 0; i < count; ++i) {
            if (tick && i % 2 == 0)
                clock.Advance();
            keep.pipeline.ProcessFrame(keep.frame.data());
            every.pipeline.ProcessFrame(every.frame.data());
            whole.pipeline.ProcessFrame(whole.frame.data());
            ASSERT_TRUE(keep.frame == every.frame) << "event " << events << ", frame " << i;
            ASSERT_TRUE(whole.frame == keep.frame) << "event " << events << ", frame " << i;
            ASSERT_EQ(keep.pipeline.ClockText(), every.pipeline.ClockText());
            ASSERT_EQ(keep.pipeline.ClockSize(), every.pipeline.ClockSize());
            ASSERT_EQ(keep.store.Live(), every.store.Live());  // the clamp writes the same
        }
    };

    both([](Chain& c) { c.Start(720, 576, LayoutYUY2); });
    frames(150, true);
    both([](Chain& c) { c.Edit([](SettingsRecord& r) { r.TextColor = 0x2040F0; }); });
    frames(4, false);
    both([](Chain& c) { c.pipeline.RequestClockRedraw(); });  // a request that changes nothing
    frames(4, false);
    both([](Chain& c) { c.Edit([](SettingsRecord& r) { r.BackColor = 0x0000FF; r.BackOpacity = 70; }); });
    frames(4, false);
    both([](Chain& c) { c.Edit([](SettingsRecord& r) { r.TextOpacity = 100; }); });
    frames(4, false);
    both([](Chain& c) { c.Edit([](SettingsRecord& r) { r.ShadowOffset = 1; }); });
    frames(4, false);
    both([](Chain& c) { c.Edit([](SettingsRecord& r) { r.FontSize = -35; }); });
    frames(4, false);
    // A new font object for the same settings, as the font picker gives.
    both([](Chain& c) {
        c.renderer.generation += 1;
        c.pipeline.RequestClockRedraw();
    });
    frames(4, false);
    // Moving needs no rendering; a quality change draws the same.
    both([](Chain& c) { c.Edit([](SettingsRecord& r) { r.StringPosX = 10; r.FontQuality = 0; }); });
    frames(4, true);
    // A new stream: a new frame size and layout, the same text, and a font
    // that could not be made (the old one stays): only the start itself
    // tells that the held picture does not fit.
    both([](Chain& c) {
        c.Start(1920, 1080, LayoutRGB24);
        c.renderer.generation -= 1;
    });
    frames(6, true);
    // The same format once more, with a new font.
    both([](Chain& c) { c.Start(1920, 1080, LayoutRGB24); });
    frames(3, false);
    both([](Chain& c) { c.Start(720, 576, LayoutYUY2); });
    frames(3, false);
    both([](Chain& c) { c.Edit([](SettingsRecord& r) { r.Format = "%S"; }); });
    frames(8, true);
    both([](Chain& c) { c.Edit([](SettingsRecord& r) { r.Format = "fixed %%"; r.FontName = "Other"; }); });
    frames(8, true);
    // A clock wider than the frame: only the part on the frame is drawn and
    // kept, and a move changes which part that is.
    both([](Chain& c) { c.Edit([](SettingsRecord& r) { r.Format = std::string(300, 'W') + "%M"; }); });
    frames(6, true);
    both([](Chain& c) { c.Edit([](SettingsRecord& r) { r.StringPosY = 100; }, false); });
    frames(6, true);
    both([](Chain& c) { c.Edit([](SettingsRecord& r) { r.StringPosX = 900; r.StringPosY = 990; }); });
    frames(6, true);
    both([](Chain& c) { c.Start(1920, 1080, LayoutYUY2); });
    frames(6, true);

    // The comparison meant something: the keeping pipeline kept pictures.
    EXPECT_GT(keep.pipeline.KeptPictureCount(), 60);
    EXPECT_EQ(every.pipeline.KeptPictureCount(), 0);
    EXPECT_EQ(keep.pipeline.RenderCount() + keep.pipeline.KeptPictureCount(), every.pipeline.RenderCount());
    EXPECT_EQ(whole.pipeline.RenderCount(), keep.pipeline.RenderCount());
    EXPECT_EQ(whole.compositor.copyUpdates(), 0);
    // ... and the copies were updated in place: after new digits in `keep`,
    // after unchanged pictures too in `every`.
    EXPECT_GE(keep.compositor.copyUpdates(), 5);
    EXPECT_GT(every.compositor.copyUpdates(), 60);
}

} // namespace
} // namespace horavel
