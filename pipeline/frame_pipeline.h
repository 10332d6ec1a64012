// The frame pipeline: keeps the clock overlay current, re-rendering it once
// per calendar second or per redraw request, and blends it onto every frame at
// the user's position. It also publishes the clock text and the clock's size
// (thousandths of the frame) for the settings dialog.
//
// The wall clock, the text renderer, the compositor and the preview notice are
// parameters, so the pipeline's own steps run anywhere; the Win32 shell binds
// them to time(), GDI, the compositing engine and PostMessage.
//
// Threads: ProcessFrame may be called from any threads, also at once: frames
// are drawn one at a time (see m_frameLock). RequestClockRedraw, ClockText
// and ClockSize may be called from any thread. The text and size are guarded
// by a small lock held for copies only, the redraw request is an atomic, and
// the live settings are copied out of the store under its own lock before
// anything is drawn.
#pragma once

#include "composite/compositor.h"
#include "core/clock_format.h"
#include "core/geometry.h"
#include "core/settings_store.h"
#include "render/clock_overlay.h"
#include "render/clock_text_renderer.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace horavel {

// The clock is rendered at true pixel size for a frame of this size; its size
// in thousandths is measured against it.
inline constexpr Size kReferenceFrame{768, 576};

// The rendered pixel size in thousandths of the reference frame:
// MulDiv(width, 1000, 768) by MulDiv(height, 1000, 576).
Size ClockSizeInThousandths(Size pixels);

// The same on a frame of `frame` pixels. With keepShape (KeepShape = 1) the
// picture is scaled by frame height / 576 in both directions: the height is
// as above, the width is width * frame height / 576 in thousandths of the
// frame width, rounded to the nearest. Without a frame size, as above.
Size ClockSizeInThousandths(Size pixels, Size frame, bool keepShape);

// Brings the clock's top-left corner (thousandths) into the frame, in this
// order: x < 0 -> 0; y < 0 -> 0; x + width > 1000 -> 1000 - width; y + height
// > 1000 -> 1000 - height. A clock larger than the frame ends with a negative
// position and is clipped by the compositor.
Point ClampClockPosition(Point position, Size clockSize);

// Current calendar time in whole seconds.
class WallClock {
public:
    virtual ~WallClock() = default;
    virtual int64_t CurrentSecond() const = 0;
};

// Tells the settings dialog, if it is open, that a new clock text exists.
// Must not block: on Windows it posts, never sends.
class PreviewNotice {
public:
    virtual ~PreviewNotice() = default;
    virtual void PostPreviewRefresh() = 0;
};

// What the pipeline asks of the compositor (see composite/compositor.h).
class OverlayCompositor {
public:
    virtual ~OverlayCompositor() = default;
    // Scales the part of a picture that a blend at part.position needs.
    virtual void PrepareOverlay(const uint8_t* pixels, Size imageSize, Rect sourceRect, Size sizeThousandths,
                                int32_t growPercent, int32_t shrinkPercent, const OverlayPart& part) = 0;
    // The part of a picture that a blend at `position` needs.
    virtual Rect PicturePartFor(Size picture, Size sizeThousandths, Point position) const = 0;
    // False when a blend at `position` would need pixels the prepared copy
    // does not hold.
    virtual bool ServesPosition(Point position) const = 0;
    virtual void BlendOverlay(uint8_t* framePixels, Point position, int32_t opacityPercent) = 0;
    // The frame's width and height in pixels.
    virtual Size FrameSize() const = 0;
};

// The compositing engine behind that interface.
class CompositorTarget final : public OverlayCompositor {
public:
    explicit CompositorTarget(Compositor& compositor) : m_compositor(compositor) {}
    void PrepareOverlay(const uint8_t* pixels, Size imageSize, Rect sourceRect, Size sizeThousandths,
                        int32_t growPercent, int32_t shrinkPercent, const OverlayPart& part) override
    {
        m_compositor.PrepareOverlay(pixels, imageSize, sourceRect, sizeThousandths, growPercent, shrinkPercent,
                                    part);
    }
    Rect PicturePartFor(Size picture, Size sizeThousandths, Point position) const override
    {
        return m_compositor.PicturePartFor(picture, sizeThousandths, position);
    }
    bool ServesPosition(Point position) const override { return m_compositor.ServesPosition(position); }
    void BlendOverlay(uint8_t* framePixels, Point position, int32_t opacityPercent) override
    {
        m_compositor.BlendOverlay(framePixels, position, opacityPercent);
    }
    Size FrameSize() const override { return {m_compositor.frameWidth(), m_compositor.frameHeight()}; }

private:
    Compositor& m_compositor;
};

class FramePipeline {
public:
    FramePipeline(SettingsStore& settings, ClockOverlay& overlay, OverlayCompositor& compositor,
                  ClockTextRenderer& renderer, const WallClock& clock, PreviewNotice* preview = nullptr);
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // The next processed frame renders afresh, whatever the time. Any thread.
    void RequestClockRedraw();

    // Text and size (thousandths) of the last rendering. Any thread.
    std::string ClockText() const;
    Size ClockSize() const;

    // -1 after a redraw request, 0 before the first rendering.
    int64_t LastRenderedSecond() const { return m_lastRenderedSecond.load(); }

    // One frame of the current format: re-renders when due, clamps the
    // position in the live settings and blends the clock onto framePixels.
    // A rendering draws, scales and keeps only the part of the clock that
    // lands on the frame, so a clock larger than the frame costs what the
    // frame shows of it. Waits while another thread's frame is being drawn.
    void ProcessFrame(uint8_t* framePixels);

    // Runs `change` (a new frame format for the compositor, planes for the
    // overlay) while no frame is being drawn, then asks for a redraw.
    template <class Change>
    void ChangeFormatBetweenFrames(Change&& change)
    {
        std::lock_guard<std::mutex> frame(m_frameLock);
        change();
        RequestClockRedraw();
    }

private:
    void Render(int64_t second);
    // The live position clamped for a clock of `size` thousandths, written
    // back into the live settings.
    Point ClampLivePosition(Size size);

    SettingsStore& m_settings;
    ClockOverlay& m_overlay;
    OverlayCompositor& m_compositor;
    ClockTextRenderer& m_renderer;
    const WallClock& m_clock;
    PreviewNotice* m_preview;

    // Held for a whole frame: the overlay planes, the compositor's copy and
    // the renderer's context exist once, so overlapping frames take turns
    // (each still gets the clock; a frame waits only for another frame).
    std::mutex m_frameLock;

    std::atomic<int64_t> m_lastRenderedSecond{0};

    mutable std::mutex m_stateLock;  // guards m_clockText and m_clockSize
    std::string m_clockText;
    Size m_clockSize;

    // Owned by the processing thread alone.
    Size m_frameClockSize;
    bool m_havePicture = false;  // the compositor holds a prepared picture
    Point m_placed;              // the position the prepared copy was made for
    // The format the clock text is made with, ready for use, and its text.
    std::string m_formatText;
    ClockFormat m_clockFormat;
    bool m_haveFormat = false;
};

} // namespace horavel
