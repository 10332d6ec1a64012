// Every kernel version, the plain one included, against the independent model
// of reference_model.h on seeded random inputs that the worked examples do
// not reach: coloured chroma, partial and differing opacities within a YUY2
// pair, every opacity percentage, odd starts and ends, results beyond both
// ends of 0..255, floors of negative values, filter tables of many sizes and
// whole resampling runs up and down in each direction. Runs natively and
// under Wine (the 32-bit build computes the filter weights with x87).
// HORAVEL_MODEL_SEED repeats a run.
#include "composite/kernels.h"
#include "composite/resampler.h"
#include "reference_model.h"
#include "yuy2_row.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace horavel {
namespace {

uint32_t ModelSeed()
{
    static const uint32_t seed = [] {
        if (const char* s = std::getenv("HORAVEL_MODEL_SEED"))
            return static_cast<uint32_t>(std::strtoul(s, nullptr, 10));
        return static_cast<uint32_t>(std::random_device{}());
    }();
    return seed;
}

// Every level this processor runs, plain first.
std::vector<CpuLevel> Levels()
{
    std::vector<CpuLevel> levels;
    for (int i = 0; i <= static_cast<int>(DetectedCpuLevel()); ++i)
        levels.push_back(static_cast<CpuLevel>(i));
    return levels;
}

class CompositeModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        static const bool printed =
            std::printf("model seed %u (HORAVEL_MODEL_SEED to repeat)\n", ModelSeed()) > 0;
        (void)printed;
        RecordProperty("seed", std::to_string(ModelSeed()));
        rng_.seed(ModelSeed() ^ std::hash<std::string>{}(
                                    ::testing::UnitTest::GetInstance()->current_test_info()->name()));
    }

    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    uint8_t Byte() { return static_cast<uint8_t>(rng_()); }
    // Bytes near the ends and the middle of the range, where rounding and
    // saturation show.
    uint8_t EdgeByte()
    {
        static constexpr uint8_t kEdges[] = {0, 1, 2, 126, 127, 128, 129, 130, 253, 254, 255};
        return kEdges[Pick(0, 10)];
    }
    uint8_t Opacity()
    {
        switch (Pick(0, 3)) {
        case 0: return 255;
        case 1: return EdgeByte();
        default: return Byte();
        }
    }

    // One copy pixel of `count`: premultiplied around the neutral values
    // (off = 0 for the first byte, `chromaOff` for bytes 1 and 2), each with
    // its own opacity; or plain random or edge bytes, which need not be
    // premultiplied and so drive the blend past 255 and below 0.
    void FillCopy(uint8_t* p, int count, int chromaOff)
    {
        const int kind = Pick(0, 2);
        for (int i = 0; i < count; ++i, p += 4) {
            if (kind == 0) {
                const int a = Opacity();
                p[3] = uint8_t(a);
                p[0] = uint8_t(Byte() * a / 255);
                for (int c = 1; c < 3; ++c) {
                    const int full = chromaOff ? Byte() - 128 : Byte();
                    p[c] = uint8_t(chromaOff + full * a / 255);
                }
            } else {
                for (int c = 0; c < 4; ++c)
                    p[c] = kind == 1 ? Byte() : EdgeByte();
            }
        }
    }
    void FillFrame(uint8_t* p, size_t bytes)
    {
        const bool edges = Pick(0, 3) == 0;
        for (size_t i = 0; i < bytes; ++i)
            p[i] = edges ? EdgeByte() : Byte();
    }
    // Opacities 1..99 % as BlendOverlay computes them, 0 and 100 %, and any
    // other value of the 0..256 scale.
    int Opacity256()
    {
        const int k = Pick(0, 9);
        if (k == 0)
            return Pick(0, 256);
        if (k == 1)
            return 256;
        return model::MulDiv(Pick(1, 99), 256, 100);
    }

    std::mt19937 rng_;
};

TEST_F(CompositeModel, ConvertToYUVAOfEveryColour)
{
    constexpr int kChunk = 1 << 16;
    std::vector<uint8_t> input(4 * kChunk), expect(4 * kChunk), got(4 * kChunk);
    for (int chunk = 0; chunk < (1 << 24) / kChunk; ++chunk) {
        for (int i = 0; i < kChunk; ++i) {
            const int bgr = chunk * kChunk + i;
            uint8_t* p = &input[4 * i];
            p[0] = uint8_t(bgr);
            p[1] = uint8_t(bgr >> 8);
            p[2] = uint8_t(bgr >> 16);
            p[3] = Byte();
            const std::array<uint8_t, 4> c = model::ConvertToYUVA(p[0], p[1], p[2], p[3]);
            std::memcpy(&expect[4 * i], c.data(), 4);
        }
        for (CpuLevel level : Levels()) {
            got = input;
            KernelsForLevel(level).convertRowToYUVA(got.data(), kChunk);
            for (int i = 0; i < kChunk; ++i)
                if (std::memcmp(&got[4 * i], &expect[4 * i], 4) != 0)
                    FAIL() << CpuLevelName(level) << ": BGR " << int(input[4 * i]) << ","
                           << int(input[4 * i + 1]) << "," << int(input[4 * i + 2]) << " A "
                           << int(input[4 * i + 3]) << " gives Y " << int(got[4 * i]) << " U "
                           << int(got[4 * i + 1]) << " V " << int(got[4 * i + 2]) << ", model "
                           << int(expect[4 * i]) << " " << int(expect[4 * i + 1]) << " "
                           << int(expect[4 * i + 2]);
        }
    }
}

TEST_F(CompositeModel, BlendLaneOfRandomBytes)
{
    for (int i = 0; i < 2000000; ++i) {
        const int s = Pick(0, 3) ? Byte() : EdgeByte(), d = Pick(0, 3) ? Byte() : EdgeByte();
        const int a = Opacity(), off = Pick(0, 1) ? 128 : 0, o = Opacity256();
        const int expect = model::BlendLane(s, d, a, off, o);
        if (BlendLane(s, d, a, off, o) != expect)
            FAIL() << "BlendLane(" << s << ", " << d << ", " << a << ", " << off << ", " << o
                   << ") = " << int(BlendLane(s, d, a, off, o)) << ", model " << expect;
    }
}

// A line of macropixels with a start anywhere in the first few, any count,
// compared whole (bytes the blend must not touch included).
TEST_F(CompositeModel, YUY2RowsAtEveryLevel)
{
    for (CpuLevel level : Levels()) {
        SCOPED_TRACE(CpuLevelName(level));
        const KernelTable k = KernelsForLevel(level);
        for (int iter = 0; iter < 20000; ++iter) {
            const int x = Pick(0, 7), count = Pick(0, 3) ? Pick(1, 9) : Pick(10, 70);
            const int opacity = Opacity256();
            std::vector<uint8_t> copy(4 * size_t(count));
            FillCopy(copy.data(), count, 128);
            const size_t lineBytes = 4 * size_t((x + count) / 2 + 2);
            std::vector<uint8_t> line(lineBytes);
            FillFrame(line.data(), lineBytes);
            std::vector<uint8_t> expect = line;
            model::BlendRowYUY2(copy.data(), expect.data(), x, count, opacity);
            PackAndBlendYUY2(k, copy.data(), line.data(), x, count, opacity);
            if (line != expect) {
                size_t i = 0;
                while (line[i] == expect[i])
                    ++i;
                const size_t p = 2 * size_t(i / 4) - x;  // first copy pixel of that macropixel
                std::string pixels;
                for (size_t q = p < size_t(count) ? p : 0; q < size_t(count) && q < p + 2; ++q)
                    pixels += " (" + std::to_string(copy[4 * q]) + "," + std::to_string(copy[4 * q + 1]) +
                              "," + std::to_string(copy[4 * q + 2]) + "," + std::to_string(copy[4 * q + 3]) +
                              ")";
                FAIL() << "x " << x << " count " << count << " opacity256 " << opacity << ": byte " << i
                       << " is " << int(line[i]) << ", model " << int(expect[i]) << "; copy" << pixels;
            }
        }
    }
}

TEST_F(CompositeModel, RGB24RowsAtEveryLevel)
{
    for (CpuLevel level : Levels()) {
        SCOPED_TRACE(CpuLevelName(level));
        const KernelTable k = KernelsForLevel(level);
        for (int iter = 0; iter < 20000; ++iter) {
            const int count = Pick(0, 3) ? Pick(1, 9) : Pick(10, 70);
            const int opacity = Opacity256();
            std::vector<uint8_t> copy(4 * size_t(count));
            FillCopy(copy.data(), count, 0);
            std::vector<uint8_t> frame(3 * size_t(count) + 3);
            FillFrame(frame.data(), frame.size());
            std::vector<uint8_t> expect = frame;
            model::BlendRowRGB24(copy.data(), expect.data(), count, opacity);
            k.blendRowRGB24(copy.data(), frame.data(), count, opacity);
            if (frame != expect) {
                size_t i = 0;
                while (frame[i] == expect[i])
                    ++i;
                const uint8_t* c = &copy[4 * (i / 3)];
                FAIL() << "count " << count << " opacity256 " << opacity << ": byte " << i << " is "
                       << int(frame[i]) << ", model " << int(expect[i]) << "; copy (" << int(c[0]) << ","
                       << int(c[1]) << "," << int(c[2]) << "," << int(c[3]) << ")";
            }
        }
    }
}

// The product's table as (first offset, weights) per entry; every weight's
// four copies must agree.
std::vector<model::FilterEntry> ReadTable(const FilterTable& table, int count)
{
    std::vector<model::FilterEntry> entries;
    const uint8_t* p = table.entries.block.data();
    for (int i = 0; i < count; ++i) {
        int32_t header[2];
        std::memcpy(header, p, sizeof header);
        model::FilterEntry e;
        e.firstOffset = header[0];
        for (int k = 0; k < header[1]; ++k) {
            int16_t w[4];
            std::memcpy(w, p + 8 + 8 * k, sizeof w);
            EXPECT_TRUE(w[0] == w[1] && w[0] == w[2] && w[0] == w[3]) << "entry " << i << " tap " << k;
            e.weights.push_back(w[0]);
        }
        entries.push_back(e);
        p += 8 + 8 * header[1];
    }
    return entries;
}

std::string Describe(const model::FilterEntry& e)
{
    std::string s = "first " + std::to_string(e.firstOffset) + " [";
    for (size_t k = 0; k < e.weights.size(); ++k)
        s += (k ? ", " : "") + std::to_string(e.weights[k]);
    return s + "]";
}

TEST_F(CompositeModel, FilterTablesOfManySizes)
{
    struct Case { int s, d, first, count, step; };
    std::vector<Case> cases;
    // Reference sizes shown on common frames and clock sizes, both ways.
    for (auto [s, d] : {std::pair{768, 720}, {720, 768}, {175, 437}, {437, 175}, {37, 270}, {270, 37},
                        {576, 480}, {576, 1080}, {768, 1920}, {1, 9}, {9, 1}, {3, 1000}})
        cases.push_back({s, d, 0, d, 4});
    for (int i = 0; i < 300; ++i) {
        const int s = Pick(1, 600), d = Pick(1, 600);
        const int first = Pick(0, d - 1);
        cases.push_back({s, d, first, Pick(1, d - first), Pick(0, 1) ? 4 : -4 * Pick(1, 800)});
    }
    for (const Case& c : cases) {
        FilterTable table;
        ASSERT_TRUE(BuildFilterTable(c.s, c.d, c.first, c.count, c.step, table));
        const std::vector<model::FilterEntry> got = ReadTable(table, c.count);
        const std::vector<model::FilterEntry> expect =
            model::BuildFilterTable(c.s, c.d, c.first, c.count, c.step);
        for (int i = 0; i < c.count; ++i)
            if (got[i].firstOffset != expect[i].firstOffset || got[i].weights != expect[i].weights)
                FAIL() << c.s << " -> " << c.d << " step " << c.step << ", entry " << c.first + i
                       << ": " << Describe(got[i]) << ", model " << Describe(expect[i]);
    }
}

// A premultiplied picture with hard edges (transparent, opaque black and
// white blocks), where the filter overshoots both ends, among random pixels.
std::vector<uint8_t> Picture(int w, int h, std::mt19937& rng)
{
    std::vector<uint8_t> px(4 * size_t(w) * h);
    const int block = 1 + int(rng() % 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &px[4 * (size_t(y) * w + x)];
            const int kind = int(((x / block) * 7 + (y / block) * 3 + rng() % 2) % 5);
            if (kind == 0) {
                p[0] = p[1] = p[2] = p[3] = 0;
            } else if (kind == 1) {
                p[0] = p[1] = p[2] = p[3] = 255;
            } else if (kind == 2) {
                p[0] = p[1] = p[2] = 0;
                p[3] = 255;
            } else {
                p[3] = uint8_t(rng());
                for (int c = 0; c < 3; ++c)
                    p[c] = uint8_t((rng() & 255) * p[3] / 255);
            }
        }
    return px;
}

TEST_F(CompositeModel, ResampleUpAndDownInEachDirection)
{
    struct Case { int sw, sh, dw, dh; };
    std::vector<Case> cases = {
        {23, 11, 61, 11}, {61, 11, 23, 11},   // across only, up and down
        {17, 9, 17, 40},  {17, 40, 17, 9},    // down the lines only
        {13, 7, 50, 31},  {90, 60, 31, 17},   // both up, both down
        {20, 50, 70, 12}, {70, 12, 20, 50},   // one up, the other down
        {175, 37, 164, 35}, {37, 20, 270, 47}, {2, 4, 4, 2}, {1, 1, 5, 3},
    };
    for (int i = 0; i < 60; ++i)
        cases.push_back({Pick(1, 60), Pick(1, 40), Pick(1, 120), Pick(1, 60)});

    const CpuLevel active = ActiveCpuLevel();
    const uint32_t caseSeed = uint32_t(rng_());
    for (CpuLevel level : Levels()) {
        SCOPED_TRACE(CpuLevelName(level));
        LimitCpuLevel(level);
        std::mt19937 rng(caseSeed);  // the same cases at every level
        ResamplerState state;        // reused, so that tables are kept and rebuilt
        for (size_t ci = 0; ci < cases.size(); ++ci) {
            const Case c = cases[ci];
            const std::vector<uint8_t> src = Picture(c.sw, c.sh, rng);
            const bool whole = ci < 12;
            auto span = [&](int size) { return int(rng() % unsigned(size + 4)) - 2; };
            Rect sr{0, 0, c.sw, c.sh}, dr{0, 0, c.dw, c.dh};
            if (!whole) {
                // Rectangles partly outside their images.
                sr = Rect{span(c.sw), span(c.sh), 0, 0};
                sr.right = sr.left + 1 + int(rng() % unsigned(c.sw + 2));
                sr.bottom = sr.top + 1 + int(rng() % unsigned(c.sh + 2));
                dr = Rect{span(c.dw), span(c.dh), 0, 0};
                dr.right = dr.left + 1 + int(rng() % unsigned(c.dw + 2));
                dr.bottom = dr.top + 1 + int(rng() % unsigned(c.dh + 2));
            }
            for (bool yuva : {false, true})
                for (bool bottomUp : {false, true}) {
                    std::vector<uint8_t> got(4 * size_t(c.dw) * c.dh);
                    for (uint8_t& b : got)
                        b = uint8_t(rng());
                    std::vector<uint8_t> expect = got;
                    ASSERT_TRUE(Resample(SourceImage{src.data(), c.sw, c.sh, sr},
                                         DestinationImage{got.data(), c.dw, c.dh, dr, bottomUp},
                                         yuva ? OutputFormat::YUVA : OutputFormat::BGRA, state));
                    model::Resample(src.data(), c.sw, c.sh, {sr.left, sr.top, sr.right, sr.bottom},
                                    expect.data(), c.dw, c.dh, {dr.left, dr.top, dr.right, dr.bottom},
                                    bottomUp, yuva);
                    if (got != expect) {
                        size_t i = 0;
                        while (got[i] == expect[i])
                            ++i;
                        const size_t line = i / (4 * size_t(c.dw));
                        LimitCpuLevel(active);
                        FAIL() << c.sw << "x" << c.sh << " (" << sr.left << "," << sr.top << ","
                               << sr.right << "," << sr.bottom << ") -> " << c.dw << "x" << c.dh << " ("
                               << dr.left << "," << dr.top << "," << dr.right << "," << dr.bottom
                               << ")" << (yuva ? " YUVA" : " BGRA") << (bottomUp ? " bottom-up" : "")
                               << ": stored line " << line << " pixel " << (i / 4) % c.dw << " byte "
                               << i % 4 << " is " << int(got[i]) << ", model " << int(expect[i]);
                    }
                }
        }
    }
    LimitCpuLevel(active);
}

} // namespace
} // namespace horavel
