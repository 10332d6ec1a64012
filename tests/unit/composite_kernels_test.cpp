// Values of the pixel arithmetic: colour conversion, the blend of one lane,
// and which frame bytes the row blenders touch. The byte-position cases run
// through every kernel level the processor has.
#include "composite/kernels.h"
#include "yuy2_row.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace horavel {
namespace {

TEST(CompositeKernels, ConvertToYUVAOfKnownColours)
{
    EXPECT_EQ(ConvertToYUVA(255, 255, 255, 255), (YUVA{255, 128, 128, 255}));
    EXPECT_EQ(ConvertToYUVA(0, 0, 255, 255), (YUVA{76, 84, 255, 255}));    // red
    EXPECT_EQ(ConvertToYUVA(255, 0, 0, 255), (YUVA{29, 255, 107, 255}));   // blue
    EXPECT_EQ(ConvertToYUVA(0, 255, 0, 255), (YUVA{149, 43, 21, 255}));    // green
    EXPECT_EQ(ConvertToYUVA(0, 0, 0, 0), (YUVA{0, 128, 128, 0}));          // transparent
    // Premultiplied half-transparent white keeps neutral chroma.
    EXPECT_EQ(ConvertToYUVA(128, 128, 128, 128), (YUVA{128, 128, 128, 128}));
}

TEST(CompositeKernels, BlendLaneExamples)
{
    EXPECT_EQ(BlendLane(255, 0, 255, 0, 256), 255);
    EXPECT_EQ(BlendLane(100, 50, 128, 0, 256), 125);
    EXPECT_EQ(BlendLane(255, 0, 255, 0, 128), 127);
    EXPECT_EQ(BlendLane(128, 200, 0, 128, 256), 200);
    EXPECT_EQ(BlendLane(255, 77, 255, 0, 230), 236);
}

TEST(CompositeKernels, BlendLaneOpaqueReplacesAndTransparentKeeps)
{
    for (int d = 0; d < 256; ++d) {
        for (int s = 0; s < 256; s += 17) {
            ASSERT_EQ(BlendLane(s, d, 255, 0, 256), s) << s << " over " << d;
            ASSERT_EQ(BlendLane(s, d, 255, 128, 256), s) << s << " over " << d;
        }
        ASSERT_EQ(BlendLane(0, d, 0, 0, 256), d);
        ASSERT_EQ(BlendLane(128, d, 0, 128, 256), d);
        // Opacity 0 leaves the frame alone whatever the copy holds.
        ASSERT_EQ(BlendLane(255 - d, d, 255, 0, 0), d);
    }
    // A negative (D - off) floors rather than truncates: floor(129 * -1 / 256)
    // is -1, so the chroma moves to 128 (truncation would leave 127).
    EXPECT_EQ(BlendLane(128, 127, 128, 128, 256), 128);
}

TEST(CompositeKernels, ConvertRowMatchesSinglePixels)
{
    std::vector<uint8_t> px;
    for (int i = 0; i < 9; ++i)
        px.insert(px.end(), {uint8_t(i * 29), uint8_t(255 - i * 13), uint8_t(i * 7), uint8_t(255 - i)});
    const std::vector<uint8_t> in = px;
    for (const KernelTable& k : {KernelsForLevel(CpuLevel::Plain), KernelsForLevel(CpuLevel::AVX2)}) {
        px = in;
        k.convertRowToYUVA(px.data(), 9);
        for (int i = 0; i < 9; ++i) {
            const YUVA e = ConvertToYUVA(in[4 * i], in[4 * i + 1], in[4 * i + 2], in[4 * i + 3]);
            EXPECT_EQ((YUVA{px[4 * i], px[4 * i + 1], px[4 * i + 2], px[4 * i + 3]}), e) << i;
        }
    }
}

std::vector<CpuLevel> AvailableLevels()
{
    std::vector<CpuLevel> levels;
    for (int i = 0; i <= static_cast<int>(DetectedCpuLevel()); ++i)
        levels.push_back(static_cast<CpuLevel>(i));
    return levels;
}

// Blends opaque copy pixels onto a line of distinct bytes and reports which
// bytes changed.
std::vector<int> ChangedYUY2Bytes(const KernelTable& k, int x, int count)
{
    std::array<uint8_t, 64> line{};
    for (size_t i = 0; i < line.size(); ++i)
        line[i] = uint8_t(10 + i);
    const std::array<uint8_t, 64> before = line;
    std::vector<uint8_t> copy;
    for (int i = 0; i < count; ++i)
        copy.insert(copy.end(), {uint8_t(200 + i), 250, 5, 255});
    PackAndBlendYUY2(k, copy.data(), line.data(), x, count, 256);
    std::vector<int> changed;
    for (size_t i = 0; i < line.size(); ++i)
        if (line[i] != before[i])
            changed.push_back(int(i));
    return changed;
}

TEST(CompositeKernels, YUY2BytePositions)
{
    for (CpuLevel level : AvailableLevels()) {
        SCOPED_TRACE(CpuLevelName(level));
        const KernelTable k = KernelsForLevel(level);
        EXPECT_EQ(ChangedYUY2Bytes(k, 3, 1), (std::vector<int>{6}));
        EXPECT_EQ(ChangedYUY2Bytes(k, 4, 1), (std::vector<int>{8, 9, 11}));
        EXPECT_EQ(ChangedYUY2Bytes(k, 3, 4), (std::vector<int>{6, 8, 9, 10, 11, 12, 13, 15}));
        // Enough pixels for the vector bodies: an odd start and an odd end.
        std::vector<int> expect{6};
        for (int b = 8; b < 8 + 4 * 10; ++b)
            expect.push_back(b);
        expect.insert(expect.end(), {48, 49, 51});
        EXPECT_EQ(ChangedYUY2Bytes(k, 3, 22), expect);
    }
}

TEST(CompositeKernels, YUY2PairOverGreyMacropixel)
{
    const std::array<uint8_t, 8> transparentThenRed{0, 128, 128, 0, 76, 84, 255, 255};
    const std::array<uint8_t, 8> redThenTransparent{76, 84, 255, 255, 0, 128, 128, 0};
    for (CpuLevel level : AvailableLevels()) {
        SCOPED_TRACE(CpuLevelName(level));
        const KernelTable k = KernelsForLevel(level);
        std::array<uint8_t, 4> mp{100, 128, 100, 128};
        PackAndBlendYUY2(k, transparentThenRed.data(), mp.data(), 0, 2, 256);
        EXPECT_EQ(mp, (std::array<uint8_t, 4>{100, 106, 76, 192}));
        mp = {100, 128, 100, 128};
        PackAndBlendYUY2(k, redThenTransparent.data(), mp.data(), 0, 2, 256);
        EXPECT_EQ(mp, (std::array<uint8_t, 4>{76, 106, 100, 192}));
    }
}

TEST(CompositeKernels, RGB24TouchesExactlyThreeBytesPerPixel)
{
    for (CpuLevel level : AvailableLevels()) {
        SCOPED_TRACE(CpuLevelName(level));
        const KernelTable k = KernelsForLevel(level);
        for (int count : {1, 4, 8, 13}) {
            // The frame ends exactly after the last pixel (heap block of that
            // size, so a sanitizer sees any access past it).
            std::vector<uint8_t> frame(3 * count);
            for (size_t i = 0; i < frame.size(); ++i)
                frame[i] = uint8_t(i);
            std::vector<uint8_t> copy;
            for (int i = 0; i < count; ++i)
                copy.insert(copy.end(), {uint8_t(100 + i), 150, 200, 255});
            k.blendRowRGB24(copy.data(), frame.data(), count, 256);
            for (int i = 0; i < count; ++i) {
                EXPECT_EQ(frame[3 * i], 100 + i);
                EXPECT_EQ(frame[3 * i + 1], 150);
                EXPECT_EQ(frame[3 * i + 2], 200);
            }
        }
        // One pixel at the end of a longer buffer: the bytes before stay.
        std::vector<uint8_t> frame(30, 7);
        const std::array<uint8_t, 4> px{1, 2, 3, 255};
        k.blendRowRGB24(px.data(), frame.data() + 27, 1, 256);
        EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 27), std::vector<uint8_t>(27, 7));
        EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 27, frame.end()), (std::vector<uint8_t>{1, 2, 3}));
    }
}

TEST(CompositeKernels, ForcingALevel)
{
    const CpuLevel before = ActiveCpuLevel();
    EXPECT_EQ(LimitCpuLevel(CpuLevel::Plain), CpuLevel::Plain);
    EXPECT_EQ(Kernels().blendRowRGB24, &blend_row_rgb24_c);
    EXPECT_EQ(LimitCpuLevel(CpuLevel::AVX2), DetectedCpuLevel());
    LimitCpuLevel(before);
    EXPECT_EQ(ActiveCpuLevel(), before);
}

} // namespace
} // namespace horavel
