// Deterministic stand-ins for the pipeline's seams: a settable clock, a text
// renderer that draws a solid box per character, a compositor that records
// what it is asked, and a counting preview notice.
#pragma once

#include "pipeline/frame_pipeline.h"
#include "render/clock_colors.h"

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace horavel::testing_fakes {

class FakeClock final : public WallClock {
public:
    explicit FakeClock(int64_t second) : m_second(second) {}
    int64_t CurrentSecond() const override { return m_second.load(); }
    void Set(int64_t second) { m_second.store(second); }
    void Advance() { m_second.fetch_add(1); }

private:
    std::atomic<int64_t> m_second;
};

// Every character is a cell of charWidth x height pixels; the picture is
// the text colour at the text opacity, premultiplied, over the whole box.
class BoxRenderer final : public ClockTextRenderer {
public:
    int32_t charWidth = 10;
    int32_t height = 20;
    bool failNext = false;  // draw nothing and report no picture, once
    std::vector<std::string> texts;

    RenderedClock RenderClockText(const std::string& text, const SettingsRecord& settings,
                                  ClockOverlay& overlay, const PicturePartChooser& choosePart = {}) override
    {
        texts.push_back(text);
        const Size size{static_cast<int32_t>(text.size()) * charWidth, text.empty() ? 0 : height};
        const Rect whole{0, 0, size.width, size.height};
        const Rect part = choosePart ? Intersect(choosePart(size), whole) : whole;
        const uint32_t color = ScaleColorByPercent(settings.TextColor, settings.TextOpacity);
        const uint32_t grey = GreyFromPercent(settings.TextOpacity);
        bool drawn = !failNext;
        failNext = false;
        for (int32_t plane : {0, 1}) {
            overlay.SelectPlane(plane);
            overlay.EnsurePlaneSize(part.Width(), part.Height(), kOverlayGrowPercent, kOverlayShrinkPercent);
            if (!overlay.Pixels() || !drawn) {
                drawn = false;
                continue;
            }
            const uint32_t value = plane == 0 ? color : grey;
            const Size a = overlay.AllocationSize();
            for (int32_t y = 0; y < part.Height(); ++y)
                for (int32_t x = 0; x < part.Width(); ++x)
                    std::memcpy(overlay.Pixels() + (size_t(a.height - 1 - y) * size_t(a.width) + size_t(x)) * 4,
                                &value, 4);
        }
        if (drawn)
            overlay.CopyAlphaFromPlane(0, 1);
        overlay.SelectPlane(1);
        return {size, drawn, part};
    }
};

struct PrepareCall {
    Size imageSize;
    Rect sourceRect;
    Size sizeThousandths;
    int32_t growPercent = 0;
    int32_t shrinkPercent = 0;
    std::vector<uint8_t> topLeftPixel;  // the 4 bytes at the source rectangle's top-left
    OverlayPart part{};
};

struct BlendCall {
    uint8_t* frame = nullptr;
    Point position;
    int32_t opacityPercent = 0;
};

class RecordingCompositor final : public OverlayCompositor {
public:
    std::vector<PrepareCall> prepares;
    std::vector<BlendCall> blends;
    bool keepBlends = true;
    size_t blendCount = 0;

    void PrepareOverlay(const uint8_t* pixels, Size imageSize, Rect sourceRect, Size sizeThousandths,
                        int32_t growPercent, int32_t shrinkPercent, const OverlayPart& part) override
    {
        if (!pixels) {
            releases.push_back(part);
            return;
        }
        PrepareCall call{imageSize, sourceRect, sizeThousandths, growPercent, shrinkPercent, {}, part};
        const uint8_t* topLeft =
            pixels + (size_t(imageSize.height - 1 - sourceRect.top) * size_t(imageSize.width) + size_t(sourceRect.left)) * 4;
        call.topLeftPixel.assign(topLeft, topLeft + 4);
        prepares.push_back(call);
    }
    // The whole picture, so the pipeline's own steps see every pixel.
    Rect PicturePartFor(Size picture, Size, Point) const override { return {0, 0, picture.width, picture.height}; }
    bool serves = true;  // what ServesPosition answers
    bool ServesPosition(Point) const override { return serves; }
    Size frame{720, 576};  // what FrameSize answers
    Size FrameSize() const override { return frame; }
    std::vector<OverlayPart> releases;  // preparations with nothing to draw
    void BlendOverlay(uint8_t* framePixels, Point position, int32_t opacityPercent) override
    {
        ++blendCount;
        if (keepBlends)
            blends.push_back({framePixels, position, opacityPercent});
    }
};

class CountingPreview final : public PreviewNotice {
public:
    std::atomic<int> posts{0};
    void PostPreviewRefresh() override { ++posts; }
};

} // namespace horavel::testing_fakes
