// The kernel check: every SIMD version against the plain one on the same
// seeded random inputs, with lengths that reach the head, body and tail of
// each loop, unaligned start addresses, and sentinel bytes around every
// output compared as well. Runs natively and under Wine (the 32-bit code
// differs). HORAVEL_KERNEL_SEED repeats a run.
#include "composite/kernels.h"
#include "composite/resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace horavel {
namespace {

constexpr size_t kMargin = 48;
constexpr uint8_t kSentinel = 0xA7;

uint32_t KernelSeed()
{
    static const uint32_t seed = [] {
        if (const char* s = std::getenv("HORAVEL_KERNEL_SEED"))
            return static_cast<uint32_t>(std::strtoul(s, nullptr, 10));
        return static_cast<uint32_t>(std::random_device{}());
    }();
    return seed;
}

// Lengths around every vector width used (4, 8, 16 pixels) and a few long ones.
std::vector<int> Lengths()
{
    std::vector<int> n;
    for (int i = 1; i <= 40; ++i)
        n.push_back(i);
    for (int i : {47, 48, 49, 63, 64, 65, 127, 255, 256, 257, 1021})
        n.push_back(i);
    return n;
}

// Levels above plain that this processor runs, each with its table. Fails if
// a slot of such a level is still the plain function: that would compare the
// plain version with itself.
std::vector<std::pair<CpuLevel, KernelTable>> SimdLevels()
{
    std::vector<std::pair<CpuLevel, KernelTable>> levels;
    const KernelTable plain = KernelsForLevel(CpuLevel::Plain);
    for (int i = 1; i <= static_cast<int>(DetectedCpuLevel()); ++i) {
        const KernelTable t = KernelsForLevel(static_cast<CpuLevel>(i));
        EXPECT_NE(t.convertRowToYUVA, plain.convertRowToYUVA);
        EXPECT_NE(t.packRowYUY2, plain.packRowYUY2);
        EXPECT_NE(t.blendRowYUY2, plain.blendRowYUY2);
        EXPECT_NE(t.blendRowRGB24, plain.blendRowRGB24);
        EXPECT_NE(t.resampleVertical, plain.resampleVertical);
        EXPECT_NE(t.resampleHorizontal, plain.resampleHorizontal);
        levels.emplace_back(static_cast<CpuLevel>(i), t);
    }
    return levels;
}

class KernelCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::printf("kernel check seed %u, detected level %s\n", KernelSeed(),
                    CpuLevelName(DetectedCpuLevel()));
        RecordProperty("seed", std::to_string(KernelSeed()));
        rng_.seed(KernelSeed() ^ std::hash<std::string>{}(
                                     ::testing::UnitTest::GetInstance()->current_test_info()->name()));
        levels_ = SimdLevels();
        if (levels_.empty())
            GTEST_SKIP() << "no SIMD level on this processor";
    }

    uint8_t Byte() { return static_cast<uint8_t>(rng_()); }
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    // Random premultiplied-looking copy pixels: mostly opaque or transparent
    // (the common cases), otherwise anything.
    void FillCopy(uint8_t* p, int count)
    {
        for (int i = 0; i < count; ++i, p += 4) {
            const int kind = Pick(0, 3);
            for (int c = 0; c < 4; ++c)
                p[c] = Byte();
            if (kind == 0)
                p[3] = 255;
            else if (kind == 1)
                p[3] = 0;
        }
    }

    // A buffer of `bytes` starting `offset` bytes after a sentinel margin.
    struct Guarded {
        std::vector<uint8_t> all;
        size_t offset;
        uint8_t* data() { return all.data() + kMargin + offset; }
    };
    Guarded MakeGuarded(size_t bytes, size_t offset)
    {
        Guarded g{std::vector<uint8_t>(bytes + offset + 2 * kMargin, kSentinel), offset};
        for (size_t i = 0; i < bytes; ++i)
            g.data()[i] = Byte();
        return g;
    }
    static void ExpectSentinels(const Guarded& g, size_t bytes)
    {
        for (size_t i = 0; i < kMargin + g.offset; ++i)
            ASSERT_EQ(g.all[i], kSentinel) << "before the output, byte " << i;
        for (size_t i = kMargin + g.offset + bytes; i < g.all.size(); ++i)
            ASSERT_EQ(g.all[i], kSentinel) << "after the output, byte " << i;
    }

    std::mt19937 rng_;
    std::vector<std::pair<CpuLevel, KernelTable>> levels_;
};

TEST_F(KernelCheck, BlendRowRGB24)
{
    const KernelTable plain = KernelsForLevel(CpuLevel::Plain);
    for (auto& [level, k] : levels_) {
        SCOPED_TRACE(CpuLevelName(level));
        for (int count : Lengths()) {
            for (int opacity : {256, Pick(0, 255)}) {
                const size_t offset = Pick(0, 15);
                std::vector<uint8_t> copyAll(4 * count + 16);
                uint8_t* copy = copyAll.data() + Pick(0, 15);
                FillCopy(copy, count);
                Guarded a = MakeGuarded(3 * count, offset);
                Guarded b = a;
                plain.blendRowRGB24(copy, a.data(), count, opacity);
                k.blendRowRGB24(copy, b.data(), count, opacity);
                ASSERT_EQ(a.all, b.all) << "count " << count << " opacity " << opacity;
                ExpectSentinels(b, 3 * count);
            }
        }
    }
}

TEST_F(KernelCheck, PackRowYUY2)
{
    const KernelTable plain = KernelsForLevel(CpuLevel::Plain);
    for (auto& [level, k] : levels_) {
        SCOPED_TRACE(CpuLevelName(level));
        for (int count : Lengths()) {
            for (int odd : {0, 1}) {
                std::vector<uint8_t> copyAll(4 * count + 16);
                uint8_t* copy = copyAll.data() + Pick(0, 15);
                FillCopy(copy, count);
                const size_t macropixels = size_t(odd + count + 1) / 2;
                const size_t offset = Pick(0, 15);
                Guarded s0 = MakeGuarded(4 * macropixels, offset), a0 = MakeGuarded(2 * macropixels, offset);
                Guarded s1 = s0, a1 = a0;
                plain.packRowYUY2(copy, count, odd, s0.data(), a0.data());
                k.packRowYUY2(copy, count, odd, s1.data(), a1.data());
                ASSERT_EQ(s0.all, s1.all) << "count " << count << " odd " << odd;
                ASSERT_EQ(a0.all, a1.all) << "count " << count << " odd " << odd;
                ExpectSentinels(s1, 4 * macropixels);
                ExpectSentinels(a1, 2 * macropixels);
            }
        }
    }
}

TEST_F(KernelCheck, BlendRowYUY2)
{
    const KernelTable plain = KernelsForLevel(CpuLevel::Plain);
    for (auto& [level, k] : levels_) {
        SCOPED_TRACE(CpuLevelName(level));
        for (int macropixels : Lengths()) {
            for (int opacity : {256, Pick(0, 255)}) {
                // Packed bytes as a packer makes them, left and right halves
                // missing included.
                const int odd = Pick(0, 1), count = 2 * macropixels - odd - Pick(0, 1);
                std::vector<uint8_t> copy(4 * size_t(count) + 4);
                FillCopy(copy.data(), count);
                std::vector<uint8_t> sAll(4 * macropixels + 16), aAll(2 * macropixels + 16);
                uint8_t* s = sAll.data() + Pick(0, 15);
                uint8_t* a = aAll.data() + Pick(0, 15);
                plain.packRowYUY2(copy.data(), count, odd, s, a);
                // The frame holds exactly the macropixels blended.
                Guarded f0 = MakeGuarded(4 * size_t(macropixels), Pick(0, 15));
                Guarded f1 = f0;
                plain.blendRowYUY2(s, a, f0.data(), macropixels, opacity);
                k.blendRowYUY2(s, a, f1.data(), macropixels, opacity);
                ASSERT_EQ(f0.all, f1.all) << "macropixels " << macropixels << " opacity " << opacity;
                ExpectSentinels(f1, 4 * size_t(macropixels));
            }
        }
    }
}

TEST_F(KernelCheck, ConvertRowToYUVA)
{
    const KernelTable plain = KernelsForLevel(CpuLevel::Plain);
    for (auto& [level, k] : levels_) {
        SCOPED_TRACE(CpuLevelName(level));
        for (int count : Lengths()) {
            Guarded a = MakeGuarded(4 * size_t(count), Pick(0, 15));
            // Premultiplied inputs as the resampler makes them, and extremes.
            for (int i = 0; i < count; ++i) {
                uint8_t* p = a.data() + 4 * i;
                if (Pick(0, 1))
                    for (int c = 0; c < 3; ++c)
                        p[c] = uint8_t(p[c] * p[3] / 255);
            }
            Guarded b = a;
            plain.convertRowToYUVA(a.data(), count);
            k.convertRowToYUVA(b.data(), count);
            ASSERT_EQ(a.all, b.all) << "count " << count;
            ExpectSentinels(b, 4 * size_t(count));
        }
    }
}

TEST_F(KernelCheck, ResampleVertical)
{
    const KernelTable plain = KernelsForLevel(CpuLevel::Plain);
    for (auto& [level, k] : levels_) {
        SCOPED_TRACE(CpuLevelName(level));
        for (int width : Lengths()) {
            const int taps = Pick(0, 14);
            const int lines = taps + 1;
            const ptrdiff_t lineBytes = 4 * width + Pick(0, 9);
            std::vector<uint8_t> src(size_t(lineBytes) * lines + 16);
            for (uint8_t& v : src)
                v = Byte();
            const bool bottomUp = Pick(0, 1);
            const uint8_t* first = src.data() + Pick(0, 15) + (bottomUp ? lineBytes * (lines - 1) : 0);
            const ptrdiff_t stride = bottomUp ? -lineBytes : lineBytes;
            std::vector<int16_t> weights(4 * size_t(taps) + 1);
            for (int t = 0; t < taps; ++t) {
                // Large weights make the 16-bit sums wrap and saturate.
                const int16_t w = int16_t(Pick(0, 3) ? Pick(-3000, 19000) : Pick(-32768, 32767));
                for (int c = 0; c < 4; ++c)
                    weights[4 * t + c] = w;
            }
            // The row buffer of a group: pixel c of group line l at words
            // 16 * c + 4 * l; the other lines' words must stay as they are.
            const size_t outBytes = 32 * size_t(width);
            const int line = Pick(0, kResampleGroupLines - 1);
            Guarded a = MakeGuarded(outBytes, 2 * Pick(0, 7));
            Guarded b = a;
            plain.resampleVertical(first, stride, weights.data(), taps, width,
                                   reinterpret_cast<int16_t*>(a.data()) + 4 * line);
            k.resampleVertical(first, stride, weights.data(), taps, width,
                               reinterpret_cast<int16_t*>(b.data()) + 4 * line);
            ASSERT_EQ(a.all, b.all) << "width " << width << " taps " << taps << " line " << line;
            ExpectSentinels(b, outBytes);
        }
    }
}

TEST_F(KernelCheck, ResampleHorizontal)
{
    const KernelTable plain = KernelsForLevel(CpuLevel::Plain);
    for (auto& [level, k] : levels_) {
        SCOPED_TRACE(CpuLevelName(level));
        for (int count : Lengths()) {
            const int rowPixels = Pick(1, 80);
            std::vector<int16_t> rows(16 * size_t(rowPixels) + 8);
            for (int16_t& q : rows)
                q = int16_t(Byte() << 7);
            std::vector<uint8_t> entries;
            for (int i = 0; i < count; ++i) {
                const int32_t first = Pick(0, rowPixels - 1);
                const int32_t taps = Pick(0, std::min(rowPixels - first, 13));
                const int32_t header[2] = {4 * first, taps};
                const size_t at = entries.size();
                entries.resize(at + 8 + 8 * size_t(taps));
                std::memcpy(&entries[at], header, 8);
                for (int t = 0; t < taps; ++t) {
                    const int16_t w = int16_t(Pick(0, 3) ? Pick(-3000, 19000) : Pick(-32768, 32767));
                    for (int c = 0; c < 4; ++c)
                        std::memcpy(&entries[at + 8 + 8 * t + 2 * c], &w, 2);
                }
            }
            const int16_t* rowStart = rows.data() + 1;  // rows need not be aligned
            // Up to four output lines, top-down or bottom-up, with a gap.
            const int lines = Pick(1, kResampleGroupLines);
            const ptrdiff_t gap = 4 * count + Pick(0, 9);
            const bool bottomUp = Pick(0, 1);
            const size_t outBytes = size_t(gap) * (lines - 1) + 4 * size_t(count);
            Guarded a = MakeGuarded(outBytes, Pick(0, 15));
            Guarded b = a;
            const ptrdiff_t start = bottomUp ? gap * (lines - 1) : 0;
            const ptrdiff_t outStride = bottomUp ? -gap : gap;
            const bool yuva = Pick(0, 1);
            plain.resampleHorizontal(rowStart, entries.data(), count, a.data() + start, outStride,
                                     lines, yuva);
            k.resampleHorizontal(rowStart, entries.data(), count, b.data() + start, outStride, lines,
                                 yuva);
            ASSERT_EQ(a.all, b.all) << "count " << count << " lines " << lines << " yuva " << yuva;
            ExpectSentinels(b, outBytes);
        }
    }
}

// Whole resampling runs, up and down, at every level against plain.
TEST_F(KernelCheck, ResampleUpAndDown)
{
    const CpuLevel active = ActiveCpuLevel();
    struct Case { int sw, sh, dw, dh; };
    for (const Case& c : {Case{175, 37, 164, 35}, Case{175, 37, 437, 70}, Case{30, 5, 150, 19},
                          Case{61, 23, 17, 9}, Case{3, 2, 41, 7}}) {
        std::vector<uint8_t> src(4 * size_t(c.sw) * c.sh);
        for (size_t i = 0; i < src.size(); i += 4) {
            src[i + 3] = Byte();
            for (int ch = 0; ch < 3; ++ch)
                src[i + ch] = uint8_t(Byte() * src[i + 3] / 255);
        }
        for (OutputFormat format : {OutputFormat::BGRA, OutputFormat::YUVA}) {
            std::vector<std::vector<uint8_t>> results;
            for (int level = 0; level <= static_cast<int>(DetectedCpuLevel()); ++level) {
                LimitCpuLevel(static_cast<CpuLevel>(level));
                std::vector<uint8_t> dst(4 * size_t(c.dw) * c.dh, kSentinel);
                ResamplerState state;
                ASSERT_TRUE(Resample(SourceImage{src.data(), c.sw, c.sh, {0, 0, c.sw, c.sh}},
                                     DestinationImage{dst.data(), c.dw, c.dh, {0, 0, c.dw, c.dh},
                                                      format == OutputFormat::BGRA},
                                     format, state));
                results.push_back(dst);
            }
            for (size_t level = 1; level < results.size(); ++level)
                EXPECT_EQ(results[level], results[0])
                    << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh << " at "
                    << CpuLevelName(static_cast<CpuLevel>(level));
        }
    }
    LimitCpuLevel(active);
}

#if defined(__i386__)
// Calls fn(arg) with the stack pointer 4 bytes past a 16-byte boundary on
// entry, as a 32-bit Windows host may call the plug-in (a normal call arrives
// 12 bytes past it). SIMD code that spilled to a stack slot it assumed to be
// aligned would fault here.
__attribute__((noinline)) void CallWithMisalignedStack(void (*fn)(void*), void* arg)
{
    __asm__ volatile("mov %%esp, %%esi\n\t"
                     "and $-16, %%esp\n\t"
                     "sub $4, %%esp\n\t"
                     "push %1\n\t"
                     "call *%0\n\t"
                     "mov %%esi, %%esp\n\t"
                     :
                     : "r"(fn), "r"(arg)
                     : "esi", "eax", "ecx", "edx", "memory", "cc");
}

struct MisalignedRun {
    KernelTable kernels;
    std::vector<uint8_t> copy, rgb, yuy2, yuva, packed, opacities;
    std::vector<int16_t> rows;
    std::vector<uint8_t> entries, filtered, yuvaOut;
};

void RunAllKernels(void* arg)
{
    MisalignedRun& r = *static_cast<MisalignedRun*>(arg);
    r.kernels.blendRowRGB24(r.copy.data(), r.rgb.data(), 61, 256);
    r.kernels.blendRowRGB24(r.copy.data(), r.rgb.data() + 3, 57, 200);
    r.kernels.packRowYUY2(r.copy.data(), 61, 1, r.packed.data(), r.opacities.data());
    r.kernels.blendRowYUY2(r.packed.data(), r.opacities.data(), r.yuy2.data(), 29, 256);
    r.kernels.blendRowYUY2(r.packed.data(), r.opacities.data(), r.yuy2.data() + 4, 31, 77);
    r.kernels.convertRowToYUVA(r.yuva.data(), 61);
    r.kernels.resampleVertical(r.copy.data(), 16, r.rows.data() + 16 * 61, 3, 13, r.rows.data());
    r.kernels.resampleHorizontal(r.rows.data(), r.entries.data(), 9, r.filtered.data(), 36, 4, false);
    r.kernels.resampleHorizontal(r.rows.data(), r.entries.data(), 9, r.yuvaOut.data(), 36, 4, true);
}

TEST_F(KernelCheck, MisalignedStackOnEntry)
{
    MisalignedRun plain;
    plain.kernels = KernelsForLevel(CpuLevel::Plain);
    plain.copy.resize(4 * 64);
    FillCopy(plain.copy.data(), 64);
    plain.rgb.resize(3 * 64);
    plain.yuy2.resize(2 * 64);
    plain.yuva.resize(4 * 64);
    plain.packed.assign(4 * 32, 0);
    plain.opacities.assign(2 * 32, 0);
    for (auto* v : {&plain.rgb, &plain.yuy2, &plain.yuva})
        for (uint8_t& b : *v)
            b = Byte();
    plain.rows.assign(16 * 64 + 16, 0);
    for (int k = 0; k < 3; ++k)
        for (int c = 0; c < 4; ++c)
            plain.rows[16 * 61 + 4 * k + c] = int16_t(6000 - 2000 * k);
    for (int i = 0; i < 9; ++i) {
        const int32_t header[2] = {4 * i, 3};
        const size_t at = plain.entries.size();
        plain.entries.resize(at + 32);
        std::memcpy(&plain.entries[at], header, 8);
        for (int t = 0; t < 12; ++t) {
            const int16_t w = int16_t(5461 + 100 * t - 50 * i);
            std::memcpy(&plain.entries[at + 8 + 2 * t], &w, 2);
        }
    }
    plain.filtered.assign(4 * 36, 0);
    plain.yuvaOut.assign(4 * 36, 0);
    const MisalignedRun input = plain;
    RunAllKernels(&plain);
    for (auto& [level, k] : levels_) {
        SCOPED_TRACE(CpuLevelName(level));
        MisalignedRun simd = input;
        simd.kernels = k;
        CallWithMisalignedStack(RunAllKernels, &simd);
        EXPECT_EQ(simd.rgb, plain.rgb);
        EXPECT_EQ(simd.yuy2, plain.yuy2);
        EXPECT_EQ(simd.packed, plain.packed);
        EXPECT_EQ(simd.opacities, plain.opacities);
        EXPECT_EQ(simd.yuva, plain.yuva);
        EXPECT_EQ(simd.rows, plain.rows);
        EXPECT_EQ(simd.filtered, plain.filtered);
        EXPECT_EQ(simd.yuvaOut, plain.yuvaOut);
    }
}
#endif

} // namespace
} // namespace horavel
