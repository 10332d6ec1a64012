// The frame path and the dialog side at once: one thread writes the live
// settings and asks for redraws, one or three run the pipeline, one reads the
// clock text and size. Run under ThreadSanitizer and AddressSanitizer it
// proves the shared state is guarded; run plainly it still checks that no
// reader sees a torn text and that every frame gets the clock.
#include "pipeline/frame_pipeline.h"

#include "pipeline_fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace horavel {
namespace {

using namespace testing_fakes;

TEST(PipelineThreads, SettingsWriterFrameThreadAndReaderShareTheState)
{
    // Long texts live on the heap, so a copy racing a reassignment would read
    // freed or half-written memory.
    const std::vector<std::string> formats = {
        std::string(60, 'a') + "%%",
        std::string(90, 'b'),
        "short",
        std::string(40, 'c') + "% " + std::string(40, 'd'),
    };
    std::set<std::string> expectedTexts;
    for (const std::string& format : formats)
        expectedTexts.insert(FormatClockTime(CleanClockFormat(format), 0));

    SettingsStore store;
    SettingsRecord initial = TableDefaults();
    initial.Format = formats[0];
    store.SetLive(initial);
    ClockOverlay overlay;
    overlay.AddPlane();
    overlay.AddPlane();
    RecordingCompositor compositor;
    compositor.keepBlends = false;
    BoxRenderer renderer;
    renderer.charWidth = 3;
    FakeClock clock(1000);
    CountingPreview preview;
    FramePipeline pipeline(store, overlay, compositor, renderer, clock, &preview);
    pipeline.RequestClockRedraw();  // as `start` does

    constexpr int kWrites = 20000;
    std::atomic<bool> writerDone{false};
    std::atomic<int> tornTexts{0};
    std::atomic<int> badSizes{0};

    std::thread writer([&] {
        for (int i = 0; i < kWrites; ++i) {
            const std::string& format = formats[size_t(i) % formats.size()];
            if (i % 7 == 0) {
                SettingsRecord record = store.Live();
                record.Format = format;
                record.FontName = std::string(size_t(20 + i % 50), 'F');
                record.StringPosX = -100 + (i * 37) % 1300;
                store.SetLive(record);
            } else {
                store.EditLive([&](SettingsRecord& live) {
                    live.Format = format;
                    live.StringPosX = -100 + (i * 53) % 1300;
                    live.StringPosY = -100 + (i * 29) % 1300;
                });
            }
            pipeline.RequestClockRedraw();
        }
        writerDone = true;
    });

    std::thread reader([&] {
        while (!writerDone) {
            const std::string text = pipeline.ClockText();
            if (!text.empty() && expectedTexts.count(text) == 0)
                ++tornTexts;
            const Size size = pipeline.ClockSize();
            if (size.width < 0 || size.height < 0)
                ++badSizes;
        }
    });

    std::vector<uint8_t> frame(16, 0);
    int frames = 0;
    while (!writerDone || frames < 100) {
        pipeline.ProcessFrame(frame.data());
        if (++frames % 50 == 0)
            clock.Advance();
    }
    writer.join();
    reader.join();
    // One frame after the last write: it renders the last requested text.
    pipeline.ProcessFrame(frame.data());
    ++frames;

    EXPECT_EQ(tornTexts.load(), 0);
    EXPECT_EQ(badSizes.load(), 0);
    // Renderings due: once a second and per request, each announced.
    EXPECT_GE(renderer.texts.size(), 2u);
    for (const std::string& text : renderer.texts)
        EXPECT_EQ(expectedTexts.count(text), 1u) << text;
    EXPECT_EQ(compositor.blendCount, size_t(frames));
    EXPECT_EQ(preview.posts.load(), static_cast<int>(renderer.texts.size()));

    // The last frame saw the writer's last values and clamped them in place.
    const SettingsRecord live = store.Live();
    const Size size = pipeline.ClockSize();
    EXPECT_EQ(ClampClockPosition({live.StringPosX, live.StringPosY}, size), (Point{live.StringPosX, live.StringPosY}));
    EXPECT_EQ(pipeline.ClockText(), FormatClockTime(CleanClockFormat(live.Format), 0));
}

// Three host threads hand frames of one stream to the real pipeline and
// compositor at once while the dialog's thread makes the picture wider and
// narrower: the scaled copy and the planes are reallocated under way.
TEST(PipelineThreads, ThreeFrameThreadsWhileThePictureChangesSize)
{
    constexpr int32_t kWidth = 192, kHeight = 144;
    const std::vector<std::string> formats = {"%H", std::string(30, 'w'), "%H:%M", std::string(55, 'x') + "%%"};
    const std::vector<uint8_t> blank = [&] {
        std::vector<uint8_t> frame(size_t(kWidth) * kHeight * 2);
        for (size_t i = 0; i < frame.size(); i += 2) {
            frame[i] = 16;
            frame[i + 1] = 128;
        }
        return frame;
    }();

    struct Stream {
        SettingsStore store;
        ClockOverlay overlay;
        Compositor compositor;
        CompositorTarget target{compositor};
        BoxRenderer renderer;
        FakeClock clock{1000};
        FramePipeline pipeline{store, overlay, target, renderer, clock};
        explicit Stream(const std::string& format)
        {
            SettingsRecord record = TableDefaults();
            record.Format = format;
            store.SetLive(record);
            overlay.AddPlane();
            overlay.AddPlane();
            renderer.charWidth = 4;
            pipeline.ChangeFormatBetweenFrames([&] { compositor.SetFrameFormat(kWidth, kHeight, LayoutYUY2); });
        }
        std::vector<uint8_t> Frame(const std::vector<uint8_t>& background)
        {
            std::vector<uint8_t> frame = background;
            pipeline.ProcessFrame(frame.data());
            return frame;
        }
    };
    Stream shared(formats[0]);

    std::atomic<bool> writerDone{false};
    std::atomic<int> frames{0}, untouched{0};
    auto host = [&] {
        std::vector<uint8_t> frame;
        while (!writerDone) {
            frame = blank;
            shared.pipeline.ProcessFrame(frame.data());
            ++frames;
            if (frame == blank)
                ++untouched;
        }
    };
    std::vector<std::thread> hosts;
    for (int i = 0; i < 3; ++i)
        hosts.emplace_back(host);
    constexpr int kChanges = 400;
    for (int i = 0; i < kChanges; ++i) {
        shared.store.EditLive([&](SettingsRecord& live) { live.Format = formats[size_t(i) % formats.size()]; });
        shared.pipeline.RequestClockRedraw();
        if (i % 100 == 0)
            shared.clock.Advance();
        // A few frames with each size.
        for (const int seen = frames.load(); frames.load() < seen + 3;)
            std::this_thread::yield();
    }
    writerDone = true;
    for (std::thread& thread : hosts)
        thread.join();

    EXPECT_GE(frames.load(), 3 * kChanges);
    EXPECT_EQ(untouched.load(), 0) << "of " << frames.load() << " frames";
    // Afterwards the stream draws what one that never shared its frames draws.
    const std::string last = formats[(kChanges - 1) % formats.size()];
    Stream alone(last);
    alone.clock.Set(shared.clock.CurrentSecond());
    shared.pipeline.RequestClockRedraw();
    EXPECT_EQ(shared.Frame(blank), alone.Frame(blank));
}

} // namespace
} // namespace horavel
