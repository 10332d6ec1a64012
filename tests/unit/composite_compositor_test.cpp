// Placement, clipping, hysteresis and colour of the compositor, on frames of
// both layouts.
#include "composite/compositor.h"
#include "composite/kernels.h"
#include "core/muldiv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace horavel {
namespace {

// An opaque bottom-up BGRA picture whose top-down pixel (x, y) holds
// B = x & 255, G = x >> 8, R = y: prepared at equal size it is copied as is.
std::vector<uint8_t> CoordinatePicture(int w, int h)
{
    std::vector<uint8_t> px(size_t(4) * w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &px[4 * (size_t(h - 1 - y) * w + x)];
            p[0] = uint8_t(x & 255);
            p[1] = uint8_t(x >> 8);
            p[2] = uint8_t(y);
            p[3] = 255;
        }
    return px;
}

struct RGBFrame {
    int width, height;
    std::vector<uint8_t> bytes;
    RGBFrame(int w, int h) : width(w), height(h), bytes(size_t(3) * w * h)
    {
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = uint8_t(i * 7 + 3);
    }
    const uint8_t* Pixel(int x, int yTopDown) const
    {
        return &bytes[3 * (size_t(height - 1 - yTopDown) * width + x)];
    }
    int CopyColumnAt(int x, int y) const { return Pixel(x, y)[0] | Pixel(x, y)[1] << 8; }
};

// A compositor for a 720 x 576 RGB24 frame holding an opaque copy of
// widthThousandths x 100 thousandths that is its own coordinate picture.
struct Fixture {
    Compositor c;
    int copyWidth;
    explicit Fixture(int widthThousandths, int frameWidth = 720)
    {
        c.SetFrameFormat(frameWidth, 576, LayoutRGB24);
        copyWidth = MulDiv(frameWidth, widthThousandths, 1000);
        const std::vector<uint8_t> pic = CoordinatePicture(copyWidth, 58);
        c.PrepareOverlay(pic.data(), Size{copyWidth, 58}, Rect{0, 0, copyWidth, 58},
                         Size{widthThousandths, 100}, 25, 25);
    }
};

TEST(CompositeCompositor, TargetSizeAndCapacity)
{
    Fixture f(300);
    EXPECT_EQ(f.c.contentRect(), (Rect{0, 0, 216, 58}));
    EXPECT_EQ(f.c.capacityWidth(), 270);
    EXPECT_EQ(f.c.capacityHeight(), 73);
    ASSERT_NE(f.c.scaledPixels(), nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(f.c.scaledPixels()) % 16, 0u);
}

TEST(CompositeCompositor, LinesAreAddressedInEachLayoutsOrder)
{
    // RGB24 4 x 2, bottom line first: the top-left pixel is bytes 12..14.
    Compositor c;
    c.SetFrameFormat(4, 2, LayoutRGB24);
    const std::vector<uint8_t> one{10, 20, 30, 255};
    c.PrepareOverlay(one.data(), {1, 1}, {0, 0, 1, 1}, {250, 500}, 25, 25);
    std::vector<uint8_t> rgb(24, 0);
    c.BlendOverlay(rgb.data(), Point{0, 0}, 100);
    EXPECT_EQ(rgb, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 20, 30, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    std::fill(rgb.begin(), rgb.end(), 0);
    c.BlendOverlay(rgb.data(), Point{0, 500}, 100);  // bottom-left: bytes 0..2
    EXPECT_EQ(std::vector<uint8_t>(rgb.begin(), rgb.begin() + 4), (std::vector<uint8_t>{10, 20, 30, 0}));

    // YUY2, top line first: a pixel at x = 5 of line 1 writes luma byte 10 of
    // that line (its chroma at 9 and 11 is left to the pair's left pixel).
    c.SetFrameFormat(8, 2, LayoutYUY2);
    c.PrepareOverlay(one.data(), {1, 1}, {0, 0, 1, 1}, {125, 500}, 25, 25);
    std::vector<uint8_t> yuy2(32, 7);
    c.BlendOverlay(yuy2.data(), Point{625, 500}, 100);
    std::vector<uint8_t> expect(32, 7);
    expect[16 + 10] = ConvertToYUVA(10, 20, 30, 255).y;
    EXPECT_EQ(yuy2, expect);
}

TEST(CompositeCompositor, CapacityHysteresis)
{
    Compositor c;
    c.SetFrameFormat(1000, 100, LayoutRGB24);
    const std::vector<uint8_t> pic = CoordinatePicture(8, 8);
    auto prepare = [&](int w) { c.PrepareOverlay(pic.data(), {8, 8}, {0, 0, 8, 8}, {w, 500}, 25, 25); };
    prepare(200);
    EXPECT_EQ(c.capacityWidth(), 250);
    EXPECT_EQ(c.capacityHeight(), 63);
    const uint8_t* block = c.scaledPixels();
    prepare(150);  // MulDiv(250, 75, 125) = 150: kept
    EXPECT_EQ(c.capacityWidth(), 250);
    EXPECT_EQ(c.scaledPixels(), block);
    EXPECT_EQ(c.contentRect(), (Rect{0, 0, 150, 50}));
    prepare(250);
    EXPECT_EQ(c.capacityWidth(), 250);
    prepare(149);
    EXPECT_EQ(c.capacityWidth(), 186);
    EXPECT_EQ(c.capacityHeight(), 63);
    prepare(187);
    EXPECT_EQ(c.capacityWidth(), 234);
}

TEST(CompositeCompositor, EmptyTargetStillShrinksTheBlock)
{
    // 720 x 576: (300, 100) gives 216 x 58 in a 270 x 73 block; an empty
    // width lies below MulDiv(270, 75, 125) = 162, so the block is rebuilt
    // 0 x 73; the next 202-wide target then gets MulDiv(202, 125, 100) = 253.
    Compositor c;
    c.SetFrameFormat(720, 576, LayoutRGB24);
    const std::vector<uint8_t> pic = CoordinatePicture(216, 58);
    auto prepare = [&](int w) { c.PrepareOverlay(pic.data(), {216, 58}, {0, 0, 216, 58}, {w, 100}, 25, 25); };
    prepare(300);
    EXPECT_EQ(c.capacityWidth(), 270);
    EXPECT_EQ(c.capacityHeight(), 73);
    prepare(0);
    EXPECT_EQ(c.capacityWidth(), 0);
    EXPECT_EQ(c.capacityHeight(), 73);
    EXPECT_TRUE(c.contentRect().IsEmpty());
    RGBFrame frame(720, 576);
    const std::vector<uint8_t> before = frame.bytes;
    c.BlendOverlay(frame.bytes.data(), Point{0, 0}, 100);
    EXPECT_EQ(frame.bytes, before);
    prepare(280);
    EXPECT_EQ(c.capacityWidth(), 253);
    EXPECT_EQ(c.capacityHeight(), 73);
    EXPECT_EQ(c.contentRect(), (Rect{0, 0, 202, 58}));
    c.BlendOverlay(frame.bytes.data(), Point{0, 0}, 100);
    EXPECT_NE(frame.bytes, before);
}

TEST(CompositeCompositor, PlacementAndClipping)
{
    {
        Fixture f(300);  // 216 wide
        RGBFrame frame(720, 576);
        const RGBFrame before = frame;
        f.c.BlendOverlay(frame.bytes.data(), Point{-50, 0}, 100);  // x = -36
        for (int x = 0; x < 180; ++x)
            ASSERT_EQ(frame.CopyColumnAt(x, 0), x + 36) << x;
        EXPECT_EQ(frame.Pixel(0, 57)[2], 57);  // copy line 57 on frame line 57
        EXPECT_EQ(std::memcmp(frame.Pixel(180, 0), before.Pixel(180, 0), 3 * 540), 0);
        EXPECT_EQ(std::memcmp(frame.Pixel(0, 58), before.Pixel(0, 58), 3 * 720), 0);
    }
    {
        Fixture f(1200);  // 864 wide on a 720-wide frame
        EXPECT_EQ(f.copyWidth, 864);
        RGBFrame frame(720, 576);
        f.c.BlendOverlay(frame.bytes.data(), Point{-200, 0}, 100);  // x = -144
        for (int x = 0; x < 720; ++x)
            ASSERT_EQ(frame.CopyColumnAt(x, 10), x + 144) << x;
    }
    {
        Fixture f(300);
        RGBFrame frame(720, 576);
        const RGBFrame before = frame;
        f.c.BlendOverlay(frame.bytes.data(), Point{833, 500}, 100);  // x = 600, y = 288
        for (int x = 600; x < 720; ++x)
            ASSERT_EQ(frame.CopyColumnAt(x, 288), x - 600) << x;
        EXPECT_EQ(std::memcmp(frame.Pixel(0, 288), before.Pixel(0, 288), 3 * 600), 0);
        // Lines 288 .. 345 are drawn, 346 is not.
        EXPECT_EQ(frame.Pixel(700, 345)[2], 57);
        EXPECT_EQ(std::memcmp(frame.Pixel(600, 346), before.Pixel(600, 346), 3 * 120), 0);
        EXPECT_EQ(std::memcmp(frame.Pixel(600, 287), before.Pixel(600, 287), 3 * 120), 0);
    }
    {
        Fixture f(300);
        RGBFrame frame(720, 576);
        const RGBFrame before = frame;
        f.c.BlendOverlay(frame.bytes.data(), Point{1000, 0}, 100);
        f.c.BlendOverlay(frame.bytes.data(), Point{0, 1000}, 100);
        f.c.BlendOverlay(frame.bytes.data(), Point{-300, 0}, 100);  // x = -216: all left of it
        f.c.BlendOverlay(frame.bytes.data(), Point{0, -101}, 100);  // y = -58
        f.c.BlendOverlay(nullptr, Point{0, 0}, 100);
        EXPECT_EQ(frame.bytes, before.bytes);
        // Above the top: copy lines 10.. land on frame lines 0..
        f.c.BlendOverlay(frame.bytes.data(), Point{0, -17}, 100);  // y = MulDiv(576, -17, 1000) = -10
        EXPECT_EQ(frame.Pixel(5, 0)[2], 10);
        EXPECT_EQ(frame.Pixel(5, 47)[2], 57);
        EXPECT_EQ(std::memcmp(frame.Pixel(0, 48), before.Pixel(0, 48), 3 * 720), 0);
    }
}

TEST(CompositeCompositor, OpacityScalesTheBlend)
{
    Fixture f(300);
    RGBFrame frame(720, 576);
    const RGBFrame before = frame;
    f.c.BlendOverlay(frame.bytes.data(), Point{0, 0}, 50);  // opacity256 128
    for (int x : {0, 1, 100, 215})
        for (int ch = 0; ch < 3; ++ch) {
            const int s = ch == 0 ? (x & 255) : ch == 1 ? (x >> 8) : 20;
            EXPECT_EQ(frame.Pixel(x, 20)[ch], BlendLane(s, before.Pixel(x, 20)[ch], 255, 0, 128));
        }
    RGBFrame untouched(720, 576);
    f.c.BlendOverlay(untouched.bytes.data(), Point{0, 0}, 0);
    f.c.BlendOverlay(untouched.bytes.data(), Point{0, 0}, -20);
    EXPECT_EQ(untouched.bytes, before.bytes);
    RGBFrame over(720, 576);
    f.c.BlendOverlay(over.bytes.data(), Point{0, 0}, 250);  // clamped to 100 %
    EXPECT_EQ(over.CopyColumnAt(100, 0), 100);
}

TEST(CompositeCompositor, YUY2TakesOpaqueCopyValues)
{
    Compositor c;
    c.SetFrameFormat(720, 576, LayoutYUY2);
    const std::vector<uint8_t> pic = CoordinatePicture(216, 58);
    c.PrepareOverlay(pic.data(), {216, 58}, {0, 0, 216, 58}, {300, 100}, 25, 25);
    std::vector<uint8_t> frame(2 * 720 * 576, 90);
    c.BlendOverlay(frame.data(), Point{5, 0}, 100);  // x = MulDiv(720, 5, 1000) = 4 (3.6)
    const uint8_t* line = &frame[2 * 720 * 7];      // frame line 7 = copy line 7
    for (int i = 0; i < 216; i += 2) {
        const YUVA p0 = ConvertToYUVA(uint8_t(i & 255), uint8_t(i >> 8), 7, 255);
        const YUVA p1 = ConvertToYUVA(uint8_t((i + 1) & 255), uint8_t((i + 1) >> 8), 7, 255);
        const uint8_t* mp = line + 2 * (4 + i);
        ASSERT_EQ(mp[0], p0.y) << i;
        ASSERT_EQ(mp[1], (p0.u + p1.u + 1) >> 1) << i;
        ASSERT_EQ(mp[2], p1.y) << i;
        ASSERT_EQ(mp[3], (p0.v + p1.v + 1) >> 1) << i;
    }
    EXPECT_EQ(line[7], 90);
    EXPECT_EQ(line[2 * 220], 90);
}

TEST(CompositeCompositor, OddWidthYUY2NeverReachesPastTheLine)
{
    Compositor c;
    c.SetFrameFormat(7, 3, LayoutYUY2);
    const std::vector<uint8_t> pic = CoordinatePicture(7, 3);
    c.PrepareOverlay(pic.data(), {7, 3}, {0, 0, 7, 3}, {1000, 1000}, 25, 25);
    ASSERT_EQ(c.contentRect(), (Rect{0, 0, 7, 3}));
    // Exactly 2 * 7 * 3 bytes: the last macropixel of every line would reach
    // two bytes into the next line (or past the buffer).
    std::vector<uint8_t> frame(2 * 7 * 3, 33);
    c.BlendOverlay(frame.data(), Point{0, 0}, 100);
    for (int y = 0; y < 3; ++y) {
        const uint8_t* line = &frame[14 * y];
        for (int b = 0; b < 12; ++b)
            EXPECT_NE(line[b], 33) << y << ":" << b;
        EXPECT_EQ(line[12], 33);
        EXPECT_EQ(line[13], 33);
    }
    // An odd start still draws its right half.
    std::vector<uint8_t> frame2(2 * 7 * 3, 33);
    c.BlendOverlay(frame2.data(), Point{143, 0}, 100);  // x = 1
    EXPECT_EQ(frame2[0], 33);
    EXPECT_EQ(frame2[1], 33);
    EXPECT_NE(frame2[2], 33);
    EXPECT_EQ(frame2[12], 33);
}

TEST(CompositeCompositor, NothingDrawnWithoutAMatchingCopy)
{
    const std::vector<uint8_t> pic = CoordinatePicture(16, 16);
    std::vector<uint8_t> frame(3 * 64 * 64, 1);
    const std::vector<uint8_t> before = frame;

    Compositor fresh;
    fresh.SetFrameFormat(64, 64, LayoutRGB24);
    fresh.BlendOverlay(frame.data(), Point{0, 0}, 100);
    EXPECT_EQ(frame, before);

    Compositor other;
    other.SetFrameFormat(64, 64, 2);
    other.PrepareOverlay(pic.data(), {16, 16}, {0, 0, 16, 16}, {250, 250}, 25, 25);
    EXPECT_GT(other.capacityWidth(), 0);  // steps 1 and 2 still run
    other.BlendOverlay(frame.data(), Point{0, 0}, 100);
    EXPECT_EQ(frame, before);
    // A copy prepared for one layout is not blended onto another.
    other.SetFrameFormat(64, 64, LayoutYUY2);
    other.PrepareOverlay(pic.data(), {16, 16}, {0, 0, 16, 16}, {250, 250}, 25, 25);
    other.SetFrameFormat(64, 64, LayoutRGB24);
    other.BlendOverlay(frame.data(), Point{0, 0}, 100);
    EXPECT_EQ(frame, before);

    Compositor empty;
    empty.SetFrameFormat(64, 64, LayoutRGB24);
    empty.PrepareOverlay(pic.data(), {16, 16}, {0, 0, 16, 16}, {0, 250}, 25, 25);
    empty.PrepareOverlay(pic.data(), {16, 16}, {20, 20, 30, 30}, {250, 250}, 25, 25);  // outside
    empty.PrepareOverlay(nullptr, {16, 16}, {0, 0, 16, 16}, {250, 250}, 25, 25);
    empty.BlendOverlay(frame.data(), Point{0, 0}, 100);
    EXPECT_EQ(frame, before);
}

TEST(CompositeCompositor, FailedAllocationDrawsNothingAndLaterCallsRetry)
{
    Compositor c;
    c.SetFrameFormat(720, 576, LayoutRGB24);
    const std::vector<uint8_t> pic = CoordinatePicture(216, 58);
    c.PrepareOverlay(pic.data(), {216, 58}, {0, 0, 216, 58}, {300, 100}, 25, 25);
    // 720 * 576 * 1000 thousandths... a block far beyond any sane size.
    c.PrepareOverlay(pic.data(), {216, 58}, {0, 0, 216, 58}, {100000, 100000}, 25, 25);
    EXPECT_EQ(c.scaledPixels(), nullptr);
    EXPECT_TRUE(c.contentRect().IsEmpty());
    std::vector<uint8_t> frame(3 * 720 * 576, 9);
    c.BlendOverlay(frame.data(), Point{0, 0}, 100);
    EXPECT_EQ(frame, std::vector<uint8_t>(frame.size(), 9));
    c.PrepareOverlay(pic.data(), {216, 58}, {0, 0, 216, 58}, {300, 100}, 25, 25);
    ASSERT_NE(c.scaledPixels(), nullptr);
    c.BlendOverlay(frame.data(), Point{0, 0}, 100);
    EXPECT_EQ(frame[3 * 720 * 575 + 3 * 5], 5);  // top line, pixel 5: B = 5
}


} // namespace
} // namespace horavel
