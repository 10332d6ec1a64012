// The Lanczos filter, its tables, the growth rule of the blocks, and Resample
// on small known images.
#include "composite/kernels.h"
#include "composite/resampler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace horavel {
namespace {

struct Entry {
    int32_t firstOffset;
    std::vector<int16_t> weights;
};

// Reads `count` entries back, checking the four copies of every weight.
std::vector<Entry> ReadTable(const FilterTable& table, int count)
{
    std::vector<Entry> entries;
    const uint8_t* p = table.entries.block.data();
    for (int i = 0; i < count; ++i) {
        int32_t header[2];
        std::memcpy(header, p, 8);
        Entry e{header[0], {}};
        for (int k = 0; k < header[1]; ++k) {
            int16_t w[4];
            std::memcpy(w, p + 8 + 8 * k, 8);
            EXPECT_TRUE(w[0] == w[1] && w[1] == w[2] && w[2] == w[3]) << "entry " << i << " tap " << k;
            e.weights.push_back(w[0]);
        }
        entries.push_back(e);
        p += 8 + 8 * header[1];
    }
    return entries;
}

using W = std::vector<int16_t>;

TEST(CompositeResampler, LanczosWeightShape)
{
    EXPECT_EQ(Sinc(0.0), 1.0);
    EXPECT_EQ(LanczosWeight(0.0), 1.0);
    for (double x : {1.0, 2.0, -1.0, -2.0})
        EXPECT_NEAR(LanczosWeight(x), 0.0, 1e-15) << x;
    for (double x : {3.0, -3.0, 3.5, 100.0})
        EXPECT_EQ(LanczosWeight(x), 0.0) << x;
    EXPECT_EQ(LanczosWeight(0.7), LanczosWeight(-0.7));
    EXPECT_LT(LanczosWeight(1.5), 0.0);
    EXPECT_GT(LanczosWeight(2.5), 0.0);
}

TEST(CompositeResampler, TableOfEqualSizesIsTheIdentity)
{
    FilterTable t;
    ASSERT_TRUE(BuildFilterTable(10, 10, 0, 10, 4, t));
    const std::vector<Entry> e = ReadTable(t, 10);
    EXPECT_EQ(e[0].firstOffset, 0);
    EXPECT_EQ(e[0].weights, (W{16384, 0, 0}));
    EXPECT_EQ(e[1].firstOffset, 0);
    EXPECT_EQ(e[1].weights, (W{0, 16384, 0, 0}));
    EXPECT_EQ(e[2].firstOffset, 0);
    EXPECT_EQ(e[2].weights, (W{0, 0, 16384, 0, 0}));
    EXPECT_EQ(e[5].firstOffset, 2 * 4);
    EXPECT_EQ(e[5].weights, (W{0, 0, 0, 16384, 0, 0}));
    EXPECT_EQ(e[9].firstOffset, 6 * 4);
    EXPECT_EQ(e[9].weights, (W{0, 0, 0, 16384}));
    // Six taps at most: the block holds 10 entries of 8 + 8 * 6 bytes or more.
    EXPECT_GE(t.entries.elementSize, 56);
}

TEST(CompositeResampler, TablesOfKnownScales)
{
    FilterTable t;
    ASSERT_TRUE(BuildFilterTable(4, 2, 0, 2, 4, t));
    std::vector<Entry> e = ReadTable(t, 2);
    EXPECT_EQ(e[0].firstOffset, 0);
    EXPECT_EQ(e[0].weights, (W{7605, 7605, 2309, -1134}));
    EXPECT_EQ(e[1].firstOffset, 0);
    EXPECT_EQ(e[1].weights, (W{-1134, 2309, 7605, 7605}));
    EXPECT_EQ(t.entries.elementSize, 8 + 8 * 12);

    ASSERT_TRUE(BuildFilterTable(2, 4, 0, 4, 4, t));
    e = ReadTable(t, 4);
    EXPECT_EQ(e[0].weights, (W{19259, -2874}));
    EXPECT_EQ(e[1].weights, (W{12569, 3815}));
    EXPECT_EQ(e[2].weights, (W{3815, 12569}));
    EXPECT_EQ(e[3].weights, (W{-2874, 19259}));
    for (const Entry& x : e)
        EXPECT_EQ(x.firstOffset, 0);

    ASSERT_TRUE(BuildFilterTable(200, 188, 0, 188, 4, t));
    e = ReadTable(t, 188);
    EXPECT_EQ(e[0].firstOffset, 0);
    EXPECT_EQ(e[0].weights, (W{15587, 1303, -587, 82}));
    EXPECT_EQ(e[1].firstOffset, 0);
    EXPECT_EQ(e[1].weights, (W{-365, 15186, 2288, -854, 132}));

    // A part of the outputs, with a line stride as step (bottom-up image).
    ASSERT_TRUE(BuildFilterTable(200, 188, 100, 3, -800, t));
    const std::vector<Entry> part = ReadTable(t, 3);
    FilterTable whole;
    ASSERT_TRUE(BuildFilterTable(200, 188, 0, 188, 4, whole));
    const std::vector<Entry> all = ReadTable(whole, 188);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(part[i].weights, all[100 + i].weights);
        EXPECT_EQ(part[i].firstOffset, all[100 + i].firstOffset / 4 * -800);
    }
}

TEST(CompositeResampler, EnsureCapacityHysteresis)
{
    GrowableBlock row;
    ASSERT_TRUE(EnsureCapacity(row, 100, 8, 30, 100));
    EXPECT_EQ(row.capacity, 130);
    const uint8_t* block = row.block.data();
    ASSERT_TRUE(EnsureCapacity(row, 1, 8, 30, 100));  // lower bound 0: only grows
    EXPECT_EQ(row.block.data(), block);
    ASSERT_TRUE(EnsureCapacity(row, 131, 8, 30, 100));
    EXPECT_EQ(row.capacity, 170);  // MulDiv(131, 130, 100) = 170.3

    GrowableBlock table;
    ASSERT_TRUE(EnsureCapacity(table, 100, 56, 30, 30));
    EXPECT_EQ(table.capacity, 130);
    block = table.block.data();
    // Stays while need lies in MulDiv(130, 70, 130) = 70 .. 130.
    ASSERT_TRUE(EnsureCapacity(table, 70, 56, 30, 30));
    ASSERT_TRUE(EnsureCapacity(table, 130, 40, 30, 30));
    EXPECT_EQ(table.block.data(), block);
    EXPECT_EQ(table.capacity, 130);
    ASSERT_TRUE(EnsureCapacity(table, 69, 56, 30, 30));
    EXPECT_EQ(table.capacity, 90);  // MulDiv(69, 130, 100) = 89.7
    // A larger entry size reallocates even when the count fits.
    ASSERT_TRUE(EnsureCapacity(table, 80, 104, 30, 30));
    EXPECT_EQ(table.capacity, 104);
    EXPECT_EQ(table.elementSize, 104);

    // A block beyond the limit fails, leaves nothing, and a later call retries.
    EXPECT_FALSE(EnsureCapacity(table, 0x7fffff00 / 130 * 100, 1 << 10, 30, 30));
    EXPECT_FALSE(table.block);
    EXPECT_EQ(table.capacity, 0);
    EXPECT_TRUE(EnsureCapacity(table, 10, 56, 30, 30));
    EXPECT_TRUE(table.block);
}

// A bottom-up BGRA image given top-down rows of pixels.
struct Image {
    int width, height;
    std::vector<uint8_t> bytes;
    Image(int w, int h) : width(w), height(h), bytes(size_t(4) * w * h) {}
    uint8_t* Pixel(int x, int yTopDown) { return &bytes[4 * (size_t(height - 1 - yTopDown) * width + x)]; }
    SourceImage Source(Rect r) const { return SourceImage{bytes.data(), width, height, r}; }
};

Image RandomImage(int w, int h, uint32_t seed, bool premultiplied = true)
{
    Image img(w, h);
    for (size_t i = 0; i < img.bytes.size(); i += 4) {
        seed = seed * 1664525u + 1013904223u;
        const uint8_t a = uint8_t(seed >> 24);
        for (int c = 0; c < 3; ++c) {
            seed = seed * 1664525u + 1013904223u;
            img.bytes[i + c] = premultiplied ? uint8_t((seed >> 24) * a / 255) : uint8_t(seed >> 24);
        }
        img.bytes[i + 3] = a;
    }
    return img;
}

TEST(CompositeResampler, EqualSizeCopiesUnchanged)
{
    const Image src = RandomImage(13, 7, 1);
    std::vector<uint8_t> dst(4 * 13 * 7, 0xEE);
    ResamplerState state;
    ASSERT_TRUE(Resample(src.Source({0, 0, 13, 7}), DestinationImage{dst.data(), 13, 7, {0, 0, 13, 7}, true},
                         OutputFormat::BGRA, state));
    EXPECT_EQ(dst, src.bytes);
}

TEST(CompositeResampler, UpscaledEdgeSaturates)
{
    // Two pixels 255 | 0 scaled to four: the first output would be 299 before
    // saturation; the last would be negative.
    Image src(2, 1);
    std::memset(src.Pixel(0, 0), 255, 4);
    std::memset(src.Pixel(1, 0), 0, 4);
    std::vector<uint8_t> dst(16);
    ResamplerState state;
    ASSERT_TRUE(Resample(src.Source({0, 0, 2, 1}), DestinationImage{dst.data(), 4, 1, {0, 0, 4, 1}, false},
                         OutputFormat::BGRA, state));
    // floor(floor(255 * 12569 / 512) / 32) = 195; floor(255 * 3815 / 512) / 32 -> 59.
    EXPECT_EQ(dst, (std::vector<uint8_t>{255, 255, 255, 255, 195, 195, 195, 195, 59, 59, 59, 59, 0, 0, 0, 0}));
}

TEST(CompositeResampler, ClippedDestinationMatchesUnclipped)
{
    const Image src = RandomImage(31, 17, 7);
    const Rect dstRect{-20, -5, 40, 25};  // 60 x 30, half outside a 30 x 20 image
    std::vector<uint8_t> whole(4 * 60 * 30);
    std::vector<uint8_t> clipped(4 * 30 * 20, 0xCD);
    ResamplerState a, b;
    ASSERT_TRUE(Resample(src.Source({0, 0, 31, 17}), DestinationImage{whole.data(), 60, 30, {0, 0, 60, 30}, false},
                         OutputFormat::YUVA, a));
    ASSERT_TRUE(Resample(src.Source({0, 0, 31, 17}), DestinationImage{clipped.data(), 30, 20, dstRect, false},
                         OutputFormat::YUVA, b));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            ASSERT_EQ(std::memcmp(&clipped[4 * (y * 30 + x)], &whole[4 * ((y + 5) * 60 + x + 20)], 4), 0)
                << x << "," << y;
}

TEST(CompositeResampler, SourceRectangleIsClippedToItsImage)
{
    const Image src = RandomImage(10, 6, 3);
    std::vector<uint8_t> a(4 * 25 * 9), b(4 * 25 * 9);
    ResamplerState s1, s2;
    ASSERT_TRUE(Resample(src.Source({-4, -3, 14, 20}), DestinationImage{a.data(), 25, 9, {0, 0, 25, 9}, true},
                         OutputFormat::BGRA, s1));
    ASSERT_TRUE(Resample(src.Source({0, 0, 10, 6}), DestinationImage{b.data(), 25, 9, {0, 0, 25, 9}, true},
                         OutputFormat::BGRA, s2));
    EXPECT_EQ(a, b);
}

TEST(CompositeResampler, TransparentSourceGivesTransparentPixels)
{
    Image src(9, 5);  // all zero
    std::vector<uint8_t> bgra(4 * 20 * 3, 0x55), yuva(4 * 20 * 3, 0x55);
    ResamplerState state;
    ASSERT_TRUE(Resample(src.Source({0, 0, 9, 5}), DestinationImage{bgra.data(), 20, 3, {0, 0, 20, 3}, true},
                         OutputFormat::BGRA, state));
    ASSERT_TRUE(Resample(src.Source({0, 0, 9, 5}), DestinationImage{yuva.data(), 20, 3, {0, 0, 20, 3}, false},
                         OutputFormat::YUVA, state));
    EXPECT_EQ(bgra, std::vector<uint8_t>(bgra.size(), 0));
    for (size_t i = 0; i < yuva.size(); i += 4)
        ASSERT_EQ((YUVA{yuva[i], yuva[i + 1], yuva[i + 2], yuva[i + 3]}), (YUVA{0, 128, 128, 0}));
}

TEST(CompositeResampler, LineOrderOfTheDestination)
{
    // A 1 x 3 source of distinct lines copied at equal size: top-down output
    // keeps the top line first, bottom-up output stores it last.
    Image src(1, 3);
    for (int y = 0; y < 3; ++y)
        std::memset(src.Pixel(0, y), 10 * (y + 1), 4);
    std::vector<uint8_t> down(12), up(12);
    ResamplerState state;
    ASSERT_TRUE(Resample(src.Source({0, 0, 1, 3}), DestinationImage{down.data(), 1, 3, {0, 0, 1, 3}, false},
                         OutputFormat::BGRA, state));
    ASSERT_TRUE(Resample(src.Source({0, 0, 1, 3}), DestinationImage{up.data(), 1, 3, {0, 0, 1, 3}, true},
                         OutputFormat::BGRA, state));
    EXPECT_EQ(down, (std::vector<uint8_t>{10, 10, 10, 10, 20, 20, 20, 20, 30, 30, 30, 30}));
    EXPECT_EQ(up, (std::vector<uint8_t>{30, 30, 30, 30, 20, 20, 20, 20, 10, 10, 10, 10}));
}

TEST(CompositeResampler, MissingBlocksOrPixelsWriteNothing)
{
    ResamplerState state;
    std::vector<uint8_t> dst(64, 0x77);
    EXPECT_FALSE(Resample(SourceImage{nullptr, 4, 4, {0, 0, 4, 4}},
                          DestinationImage{dst.data(), 4, 4, {0, 0, 4, 4}, false}, OutputFormat::BGRA, state));
    EXPECT_EQ(dst, std::vector<uint8_t>(64, 0x77));
}

} // namespace
} // namespace horavel
