// The frame pipeline's own steps: format cleaning, formatting, sizing in
// thousandths, the clamp, and when the clock is re-rendered and handed on.
#include "pipeline/frame_pipeline.h"

#include "core/muldiv.h"
#include "pipeline_fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace horavel {
namespace {

using namespace testing_fakes;

TEST(PipelineFormatCleaning, PercentBeforeBlankOrAtTheEndIsDeleted)
{
    EXPECT_EQ(CleanClockFormat("50% done %"), "50 done ");
    EXPECT_EQ(CleanClockFormat("100%%"), "100%%");
    EXPECT_EQ(CleanClockFormat("%"), "");
    EXPECT_EQ(CleanClockFormat(""), "");
    EXPECT_EQ(CleanClockFormat("%H:%M:%S"), "%H:%M:%S");
    EXPECT_EQ(CleanClockFormat("%% %"), "%% ");
    // The second '%' of a pair is never examined, so "%%H" is a percent sign
    // followed by the letter H.
    EXPECT_EQ(CleanClockFormat("%%H"), "%%H");
    EXPECT_EQ(CleanClockFormat("%%%"), "%%");
    EXPECT_EQ(CleanClockFormat("%  %"), "  ");
}

TEST(PipelineFormatCleaning, UnsupportedConversionLosesItsPercentOnly)
{
    EXPECT_EQ(CleanClockFormat("%Q"), "Q");
    EXPECT_EQ(CleanClockFormat("%H:%M:%Q"), "%H:%M:Q");
    EXPECT_EQ(CleanClockFormat("%e.%D %T"), "e.D T");  // C99 conversions msvcrt lacks
    EXPECT_EQ(CleanClockFormat("%5S"), "5S");
    EXPECT_EQ(CleanClockFormat("%-H"), "-H");
    EXPECT_EQ(CleanClockFormat("%\xC4"), "\xC4");      // a Cyrillic letter in code page 1251
    // The character that stays is passed over: "%%" after it is untouched,
    // and a '%' that stays as text is not re-read as a conversion.
    EXPECT_EQ(CleanClockFormat("%q%%"), "q%%");
    // The '#' flag belongs to its '%'.
    EXPECT_EQ(CleanClockFormat("%#x %#d"), "%#x %#d");
    EXPECT_EQ(CleanClockFormat("%#Q"), "Q");
    EXPECT_EQ(CleanClockFormat("%# "), " ");
    EXPECT_EQ(CleanClockFormat("a%#"), "a");
    EXPECT_EQ(CleanClockFormat("%#%"), "%#%");
}

TEST(PipelineFormatCleaning, EverySupportedConversionStaysAndFormats)
{
    const std::string supported = "aAbBcdHIjmMpSUwWxXyYzZ%";
    ASSERT_EQ(supported.size(), 23u);
    // 2021-07-01 12:00:00 UTC: the same year and month in every time zone.
    const int64_t second = 1625140800;
    for (int code = 1; code < 256; ++code) {
        const char c = static_cast<char>(code);
        EXPECT_EQ(IsSupportedConversion(c), supported.find(c) != std::string::npos) << "code " << code;
    }
    for (char c : supported) {
        for (const std::string flag : {"", "#"}) {
            const std::string format = "<%" + flag + c + ">";
            ASSERT_EQ(CleanClockFormat(format), format);
            // The runtime accepts it: the text round it comes back whole.
            const std::string text = FormatClockTime(format, second);
            EXPECT_GE(text.size(), 2u) << format;
            EXPECT_EQ(text.front(), '<') << format;
            EXPECT_EQ(text.back(), '>') << format;
        }
    }
    EXPECT_EQ(FormatClockTime("%Y-%m", second), "2021-07");
    EXPECT_EQ(FormatClockTime("100%%", second), "100%");
}

TEST(PipelineFormatting, ResultThatDoesNotFitIsEmpty)
{
    const std::string fits(kClockTextBuffer - 1, 'x');
    const std::string tooLong(kClockTextBuffer, 'x');
    EXPECT_EQ(FormatClockTime(fits, 0), fits);
    EXPECT_EQ(FormatClockTime(tooLong, 0), "");
    EXPECT_EQ(FormatClockTime(std::string(60, 'x') + "%Y" + std::string(64, 'x'), 1625140800), "");
    EXPECT_EQ(FormatClockTime("", 0), "");
}

TEST(PipelineFormatting, TypoInTheFormatKeepsTheRestOfTheClock)
{
    const int64_t second = 1625140800;
    const std::string typo = "%Y-%m %Q";
    EXPECT_EQ(FormatClockTime(CleanClockFormat(typo), second), "2021-07 Q");
#if defined(_WIN32)
    // Unmended, the Windows runtime returns nothing for the whole text.
    EXPECT_EQ(FormatClockTime(typo, second), "");
#endif
}

TEST(PipelineSizing, ThousandthsOfTheReferenceFrame)
{
    EXPECT_EQ(ClockSizeInThousandths({768, 576}), (Size{1000, 1000}));
    EXPECT_EQ(ClockSizeInThousandths({384, 144}), (Size{500, 250}));
    EXPECT_EQ(ClockSizeInThousandths({30, 20}), (Size{39, 35}));  // 39.06, 34.72
    EXPECT_EQ(ClockSizeInThousandths({0, 0}), (Size{0, 0}));
}

TEST(PipelineSizing, KeepShapeScalesBothWaysByTheFrameHeight)
{
    // Off, or without a frame: the reference frame's two scales.
    EXPECT_EQ(ClockSizeInThousandths({139, 41}, {1920, 1080}, false), (Size{181, 71}));
    EXPECT_EQ(ClockSizeInThousandths({139, 41}, {0, 0}, true), (Size{181, 71}));
    // On a 4:3 frame of the reference's shape nothing changes.
    EXPECT_EQ(ClockSizeInThousandths({139, 41}, {768, 576}, true), (Size{181, 71}));
    // 139 * 1080 / 576 = 260.6 pixels of 1920: 135.7 thousandths.
    EXPECT_EQ(ClockSizeInThousandths({139, 41}, {1920, 1080}, true), (Size{136, 71}));
    // 100 * 576 / 576 = 100 pixels of 720: 138.9.
    EXPECT_EQ(ClockSizeInThousandths({100, 41}, {720, 576}, true), (Size{139, 71}));
    // Halves round up: 1 * 288 / 576 = 0.5 pixel of 1 is 500 thousandths.
    EXPECT_EQ(ClockSizeInThousandths({1, 0}, {1, 288}, true), (Size{500, 0}));
    // Far beyond 32 bits in between.
    EXPECT_EQ(ClockSizeInThousandths({60000, 1}, {1, 60000}, true).width, INT32_MAX);
}

TEST(PipelineClamp, PositionComesBackIntoTheFrame)
{
    EXPECT_EQ(ClampClockPosition({-5, -1}, {300, 100}), (Point{0, 0}));
    EXPECT_EQ(ClampClockPosition({900, 950}, {300, 100}), (Point{700, 900}));
    EXPECT_EQ(ClampClockPosition({700, 900}, {300, 100}), (Point{700, 900}));
    // Larger than the frame: negative, whatever it started from.
    EXPECT_EQ(ClampClockPosition({0, 0}, {1200, 1000}), (Point{-200, 0}));
    EXPECT_EQ(ClampClockPosition({-200, 5}, {1200, 1000}), (Point{-200, 0}));
    EXPECT_EQ(ClampClockPosition({2147483647, -2147483647 - 1}, {10, 10}), (Point{990, 0}));
}

class PipelineTest : public ::testing::Test {
protected:
    PipelineTest() : clock(1000000), pipeline(store, overlay, compositor, renderer, clock, &preview)
    {
        SettingsRecord record = TableDefaults();
        record.Format = "12:34:56";
        store.SetLive(record);
        overlay.AddPlane();
        overlay.AddPlane();
        frame.assign(64, 0);
    }
    void SetFormat(const std::string& format)
    {
        store.EditLive([&](SettingsRecord& live) { live.Format = format; });
    }
    void SetPosition(int32_t x, int32_t y)
    {
        store.EditLive([&](SettingsRecord& live) {
            live.StringPosX = x;
            live.StringPosY = y;
        });
    }
    Point LivePosition() const
    {
        const SettingsRecord live = store.Live();
        return {live.StringPosX, live.StringPosY};
    }
    void Frames(int count)
    {
        for (int i = 0; i < count; ++i)
            pipeline.ProcessFrame(frame.data());
    }

    SettingsStore store;
    ClockOverlay overlay;
    RecordingCompositor compositor;
    BoxRenderer renderer;
    FakeClock clock;
    CountingPreview preview;
    FramePipeline pipeline;
    std::vector<uint8_t> frame;
};

TEST_F(PipelineTest, RendersOncePerSecondAndBlendsEveryFrame)
{
    SetFormat("%S");  // a new text every second (the same in every time zone)
    EXPECT_EQ(pipeline.LastRenderedSecond(), 0);
    Frames(25);
    EXPECT_EQ(renderer.texts.size(), 1u);
    EXPECT_EQ(compositor.prepares.size(), 1u);
    EXPECT_EQ(compositor.blends.size(), 25u);
    EXPECT_EQ(preview.posts.load(), 1);
    EXPECT_EQ(pipeline.LastRenderedSecond(), 1000000);

    clock.Advance();
    Frames(25);
    EXPECT_EQ(renderer.texts.size(), 2u);
    EXPECT_EQ(compositor.prepares.size(), 2u);
    EXPECT_EQ(preview.posts.load(), 2);

    // The clock going back is a change of second too.
    clock.Set(999999);
    Frames(1);
    EXPECT_EQ(renderer.texts.size(), 3u);

    for (const BlendCall& blend : compositor.blends) {
        EXPECT_EQ(blend.frame, frame.data());
        EXPECT_EQ(blend.opacityPercent, 100);
    }
}

TEST_F(PipelineTest, RedrawRequestRendersAgainWithinTheSecond)
{
    Frames(3);
    ASSERT_EQ(renderer.texts.size(), 1u);
    SetFormat("changed");
    Frames(3);
    EXPECT_EQ(renderer.texts.size(), 1u);  // no request, same second: nothing new
    EXPECT_EQ(pipeline.ClockText(), "12:34:56");

    pipeline.RequestClockRedraw();
    EXPECT_EQ(pipeline.LastRenderedSecond(), -1);
    Frames(3);
    EXPECT_EQ(renderer.texts.size(), 2u);
    EXPECT_EQ(renderer.texts.back(), "changed");
    EXPECT_EQ(pipeline.ClockText(), "changed");
    EXPECT_EQ(pipeline.LastRenderedSecond(), 1000000);
}

TEST_F(PipelineTest, PublishesTextAndSizeAndHandsPlaneZeroOn)
{
    SetFormat("50% done %");  // 8 characters after cleaning
    Frames(1);
    EXPECT_EQ(store.Live().Format, "50% done %");  // the setting keeps its text
    EXPECT_EQ(pipeline.ClockText(), "50 done ");
    EXPECT_EQ(renderer.texts.back(), "50 done ");
    // 80 x 20 pixels -> MulDiv(80, 1000, 768) = 104, MulDiv(20, 1000, 576) = 35.
    EXPECT_EQ(pipeline.ClockSize(), (Size{104, 35}));

    ASSERT_EQ(compositor.prepares.size(), 1u);
    const PrepareCall& call = compositor.prepares.front();
    EXPECT_EQ(call.imageSize, (Size{100, 25}));
    EXPECT_EQ(call.sourceRect, (Rect{0, 0, 80, 20}));
    EXPECT_EQ(call.sizeThousandths, (Size{104, 35}));
    EXPECT_EQ(call.growPercent, 25);
    EXPECT_EQ(call.shrinkPercent, 25);
    // Plane 0, premultiplied: default text 0xC0C0C0 at 60 % with alpha 153.
    EXPECT_EQ(call.topLeftPixel, (std::vector<uint8_t>{115, 115, 115, 153}));
}

TEST_F(PipelineTest, EscapedPercentAndEmptyFormats)
{
    SetFormat("100%%");
    Frames(1);
    EXPECT_EQ(pipeline.ClockText(), "100%");

    // An empty text is rendered like any other; with no pixels it is not
    // handed on, and the picture of the second before is not blended either.
    SetFormat("%");
    pipeline.RequestClockRedraw();
    const size_t blendsBefore = compositor.blends.size();
    Frames(5);
    EXPECT_EQ(pipeline.ClockText(), "");
    EXPECT_EQ(renderer.texts.back(), "");
    EXPECT_EQ(pipeline.ClockSize(), (Size{0, 0}));
    EXPECT_EQ(compositor.prepares.size(), 1u);
    EXPECT_EQ(compositor.blends.size(), blendsBefore);
    EXPECT_EQ(preview.posts.load(), 2);

    SetFormat("back");
    clock.Advance();
    Frames(2);
    EXPECT_EQ(compositor.prepares.size(), 2u);
    EXPECT_EQ(compositor.blends.size(), blendsBefore + 2);
}

TEST_F(PipelineTest, FailedRenderingSkipsTheClockUntilOneSucceeds)
{
    SetFormat("%S");
    Frames(1);
    ASSERT_EQ(compositor.blends.size(), 1u);
    renderer.failNext = true;
    clock.Advance();
    Frames(4);
    EXPECT_EQ(compositor.prepares.size(), 1u);
    EXPECT_EQ(compositor.blends.size(), 1u);
    clock.Advance();
    Frames(1);
    EXPECT_EQ(compositor.prepares.size(), 2u);
    EXPECT_EQ(compositor.blends.size(), 2u);
}

TEST_F(PipelineTest, ClampIsWrittenBackAndBlendedAt)
{
    renderer.charWidth = 48;  // "12:34:56": 384 pixels = 500 thousandths
    renderer.height = 144;    // 250 thousandths
    SetPosition(-5, 2000);
    Frames(1);
    EXPECT_EQ(pipeline.ClockSize(), (Size{500, 250}));
    EXPECT_EQ(LivePosition(), (Point{0, 750}));
    EXPECT_EQ(compositor.blends.back().position, (Point{0, 750}));

    // A move needs no re-render and takes effect on the next frame.
    SetPosition(900, 10);
    Frames(1);
    EXPECT_EQ(LivePosition(), (Point{500, 10}));
    EXPECT_EQ(compositor.blends.back().position, (Point{500, 10}));
    EXPECT_EQ(renderer.texts.size(), 1u);
}

TEST_F(PipelineTest, ClockWiderThanTheFrameStaysNegativeEveryFrame)
{
    renderer.charWidth = 120;  // 960 pixels = 1250 thousandths
    SetPosition(300, 0);
    for (int i = 0; i < 4; ++i) {
        Frames(1);
        EXPECT_EQ(LivePosition(), (Point{-250, 0}));
        EXPECT_EQ(compositor.blends.back().position, (Point{-250, 0}));
    }
}

TEST_F(PipelineTest, EveryWayOfChangingTheSettingsReachesTheNextRendering)
{
    Frames(1);
    ASSERT_EQ(pipeline.ClockText(), "12:34:56");
    const auto rerender = [&] {
        pipeline.RequestClockRedraw();
        Frames(1);
        return pipeline.ClockText();
    };
    // The same length, then a change of something else only, then back.
    SetFormat("65:43:21");
    EXPECT_EQ(rerender(), "65:43:21");
    store.EditLive([](SettingsRecord& live) { live.TextColor = 0x0000FF; });
    EXPECT_EQ(rerender(), "65:43:21");
    EXPECT_EQ(compositor.prepares.back().topLeftPixel, (std::vector<uint8_t>{153, 0, 0, 153}));  // as the fake lays it out
    SettingsRecord record = store.Live();
    record.Format = "12:34:56";
    store.SetLive(record);
    EXPECT_EQ(rerender(), "12:34:56");

    // Defaults and the snapshot go through the store as well.
    store.SetDefaultsRecord(TableDefaults());
    store.TakeSnapshot();
    store.RestoreDefaults();
    EXPECT_EQ(rerender().size(), 8u);  // "%H:%M:%S"
    store.RestoreSnapshot();
    EXPECT_EQ(rerender(), "12:34:56");

    // A move between renderings changes nothing else.
    SetPosition(10, 10);
    SetFormat("moved");
    clock.Advance();
    Frames(2);
    EXPECT_EQ(pipeline.ClockText(), "moved");
    EXPECT_EQ(LivePosition(), (Point{10, 10}));
}

TEST_F(PipelineTest, TextWidthInsideTheBandAllocatesNothing)
{
    int allocations = 0;
    ClockOverlay counted([&](int32_t w, int32_t h) {
        ++allocations;
        return AllocateHeapPlane(w, h);
    });
    counted.AddPlane();
    counted.AddPlane();
    FramePipeline own(store, counted, compositor, renderer, clock, nullptr);

    // 10 characters allocate 125 pixels; 8 to 12 stay inside [75, 125].
    for (const char* text : {"0123456789", "012345678", "01234567890", "01234567", "012345678901", "0123456789"}) {
        SetFormat(text);
        clock.Advance();
        own.ProcessFrame(frame.data());
    }
    EXPECT_EQ(renderer.texts.size(), 6u);
    EXPECT_EQ(allocations, 2);  // the first sizing of each plane

    SetFormat("0123456");  // 70 < 75: both planes shrink
    clock.Advance();
    own.ProcessFrame(frame.data());
    EXPECT_EQ(allocations, 4);
}

} // namespace
} // namespace horavel

namespace horavel {
namespace {

using namespace testing_fakes;

// Bounding box of the pixels whose own bytes changed, rows counted from the
// top (in YUY2 the luma bytes; chroma is shared by a pair of pixels).
Rect ChangedBox(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after, int32_t width, int32_t height,
                int32_t layout)
{
    const int32_t pixelBytes = layout == LayoutYUY2 ? 2 : 3;
    Rect box{width, height, 0, 0};
    for (size_t i = 0; i < after.size(); ++i) {
        if (before[i] == after[i] || (layout == LayoutYUY2 && i % 2 == 1))
            continue;
        const int32_t line = static_cast<int32_t>(i / size_t(width * pixelBytes));
        const int32_t x = static_cast<int32_t>(i % size_t(width * pixelBytes)) / pixelBytes;
        const int32_t y = layout == LayoutYUY2 ? line : height - 1 - line;
        box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1), std::max(box.bottom, y + 1)};
    }
    return box;
}

TEST(PipelineWithCompositor, ClockCoversTheSameShareOfEveryFrameSize)
{
    SettingsStore store;
    SettingsRecord record = TableDefaults();
    record.Format = "12:34:56";  // 80 x 20 pixels: 104 x 35 thousandths
    record.StringPosX = 250;
    record.StringPosY = 500;
    store.SetLive(record);
    BoxRenderer renderer;
    FakeClock clock(5000);
    for (int32_t layout : {int32_t{LayoutYUY2}, int32_t{LayoutRGB24}}) {
        for (int32_t scale : {1, 2, 5}) {
            SCOPED_TRACE(testing::Message() << "layout " << layout << " scale " << scale);
            const int32_t width = 768 * scale, height = 576 * scale;
            ClockOverlay overlay;
            overlay.AddPlane();
            overlay.AddPlane();
            Compositor compositor;
            CompositorTarget target(compositor);
            FramePipeline pipeline(store, overlay, target, renderer, clock);
            compositor.SetFrameFormat(width, height, layout);
            pipeline.RequestClockRedraw();

            std::vector<uint8_t> frame(size_t(width) * size_t(height) * (layout == LayoutYUY2 ? 2 : 3), 0x40);
            const std::vector<uint8_t> before = frame;
            pipeline.ProcessFrame(frame.data());
            ASSERT_EQ(pipeline.ClockSize(), (Size{104, 35}));
            // 250 / 1000 and 104 / 1000 of the width, 500 / 1000 and 35 / 1000
            // of the height, whatever the frame size.
            const Rect expected{MulDiv(width, 250, 1000), MulDiv(height, 500, 1000),
                                MulDiv(width, 250, 1000) + MulDiv(width, 104, 1000),
                                MulDiv(height, 500, 1000) + MulDiv(height, 35, 1000)};
            EXPECT_EQ(ChangedBox(before, frame, width, height, layout), expected);
            EXPECT_NEAR(double(expected.Width()) / width, 0.104, 1.0 / width);
            EXPECT_NEAR(double(expected.Height()) / height, 0.035, 1.0 / height);
        }
    }
}

} // namespace
} // namespace horavel
