// The compositor against the best-known libraries on the same data and sizes:
//   BlendOverlay (RGB24, YUY2)  vs  pixman OVER, premultiplied a8r8g8b8 onto r8g8b8;
//   PrepareOverlay (resample + convert) vs libswscale Lanczos, GBRAP -> GBRAP
//   (the four channels as planes, its fastest form), context made once.
// bench/ratios.py turns one run's JSON output into the ratios. The kernel
// level can be forced with HORAVEL_CPU_LEVEL (c, sse2, ssse3, avx2); the
// reference libraries are then held to the same instruction sets.
#include "composite/compositor.h"
#include "composite/kernels.h"
#include "core/muldiv.h"

#include <benchmark/benchmark.h>
#include <pixman.h>

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace horavel {
namespace {

// Thousandths of `frame` that MulDiv turns into `pixels`, or into the
// nearest size above it when none does (400 of 1920 is not reachable: 208
// thousandths give 399, 209 give 401). The pixels of that size are used.
int32_t ThousandthsFor(int32_t frame, int32_t pixels)
{
    for (int32_t t = 0; t <= 4000; ++t)
        if (MulDiv(frame, t, 1000) >= pixels)
            return t;
    std::fprintf(stderr, "no thousandths give %d of %d\n", pixels, frame);
    std::abort();
}

int32_t Reachable(int32_t frame, int32_t pixels)
{
    return MulDiv(frame, ThousandthsFor(frame, pixels), 1000);
}

// A clock-like premultiplied BGRA picture: a translucent box with opaque
// strokes and antialiased edges, random but seeded.
std::vector<uint8_t> ClockPicture(int32_t w, int32_t h, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> px(size_t(4) * w * h);
    for (size_t i = 0; i < px.size(); i += 4) {
        const uint32_t r = rng();
        const int kind = r % 4;
        const uint8_t a = kind == 0 ? 255 : kind == 1 ? 0 : kind == 2 ? 160 : uint8_t(r >> 8);
        for (int c = 0; c < 3; ++c)
            px[i + c] = uint8_t(((rng() & 255) * a) / 255);
        px[i + 3] = a;
    }
    return px;
}

struct BlendCase {
    int32_t frameWidth, frameHeight, copyWidth, copyHeight;
};
constexpr BlendCase kBlendCases[] = {
    {720, 576, 164, 37},
    {1920, 1080, 400, 80},
    {3840, 2160, 1536, 216},
};

// A case with its copy size made reachable through thousandths.
BlendCase Reachable(const BlendCase& c)
{
    return BlendCase{c.frameWidth, c.frameHeight, Reachable(c.frameWidth, c.copyWidth),
                     Reachable(c.frameHeight, c.copyHeight)};
}

void BM_BlendOverlay(benchmark::State& state, int32_t layout)
{
    const BlendCase c = Reachable(kBlendCases[state.range(0)]);
    Compositor comp;
    comp.SetFrameFormat(c.frameWidth, c.frameHeight, layout);
    const std::vector<uint8_t> pic = ClockPicture(c.copyWidth, c.copyHeight, 1);
    comp.PrepareOverlay(pic.data(), {c.copyWidth, c.copyHeight}, {0, 0, c.copyWidth, c.copyHeight},
                        {ThousandthsFor(c.frameWidth, c.copyWidth),
                         ThousandthsFor(c.frameHeight, c.copyHeight)},
                        25, 25);
    if (comp.contentRect() != Rect{0, 0, c.copyWidth, c.copyHeight})
        state.SkipWithError("copy not prepared at the expected size");
    std::vector<uint8_t> frame(size_t(layout == LayoutYUY2 ? 2 : 3) * c.frameWidth * c.frameHeight, 77);
    for (auto _ : state) {
        comp.BlendOverlay(frame.data(), Point{40, 60}, 100);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t{c.copyWidth} * c.copyHeight);
    state.SetLabel(std::to_string(c.copyWidth) + "x" + std::to_string(c.copyHeight) + " on " +
                   std::to_string(c.frameWidth) + "x" + std::to_string(c.frameHeight) + " " +
                   CpuLevelName(ActiveCpuLevel()));
}

void BM_BlendOverlayRGB24(benchmark::State& state)
{
    BM_BlendOverlay(state, LayoutRGB24);
}

void BM_BlendOverlayYUY2(benchmark::State& state)
{
    BM_BlendOverlay(state, LayoutYUY2);
}

// pixman: the same picture as a8r8g8b8 (premultiplied BGRA bytes are that
// format on little-endian), composited OVER a r8g8b8 frame at the same place.
void BM_PixmanOverRGB24(benchmark::State& state)
{
    const BlendCase c = Reachable(kBlendCases[state.range(0)]);
    std::vector<uint8_t> pic = ClockPicture(c.copyWidth, c.copyHeight, 1);
    std::vector<uint8_t> frame(size_t(3) * c.frameWidth * c.frameHeight, 77);
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, c.copyWidth, c.copyHeight,
                                                   reinterpret_cast<uint32_t*>(pic.data()), 4 * c.copyWidth);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_r8g8b8, c.frameWidth, c.frameHeight,
                                                   reinterpret_cast<uint32_t*>(frame.data()), 3 * c.frameWidth);
    if (!src || !dst)
        state.SkipWithError("pixman images not created");
    const int32_t x = MulDiv(c.frameWidth, 40, 1000), y = MulDiv(c.frameHeight, 60, 1000);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, dst, 0, 0, 0, 0, x, y, c.copyWidth,
                                 c.copyHeight);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(src);
    pixman_image_unref(dst);
    state.SetItemsProcessed(state.iterations() * int64_t{c.copyWidth} * c.copyHeight);
    state.SetLabel(std::to_string(c.copyWidth) + "x" + std::to_string(c.copyHeight) + " on " +
                   std::to_string(c.frameWidth) + "x" + std::to_string(c.frameHeight));
}

struct ScaleCase {
    int32_t sourceWidth, sourceHeight, targetWidth, targetHeight, frameWidth, frameHeight;
};
constexpr ScaleCase kScaleCases[] = {
    {175, 37, 164, 35, 720, 576},
    {175, 37, 437, 70, 1920, 1080},
    {300, 50, 1500, 188, 3840, 2160},
};

std::string ScaleLabel(const ScaleCase& c)
{
    return std::to_string(c.sourceWidth) + "x" + std::to_string(c.sourceHeight) + " -> " +
           std::to_string(c.targetWidth) + "x" + std::to_string(c.targetHeight);
}

ScaleCase Reachable(const ScaleCase& c)
{
    return ScaleCase{c.sourceWidth, c.sourceHeight, Reachable(c.frameWidth, c.targetWidth),
                     Reachable(c.frameHeight, c.targetHeight), c.frameWidth, c.frameHeight};
}

void BM_PrepareOverlay(benchmark::State& state, int32_t layout)
{
    const ScaleCase c = Reachable(kScaleCases[state.range(0)]);
    Compositor comp;
    comp.SetFrameFormat(c.frameWidth, c.frameHeight, layout);
    // Two pictures of the same size taken in turn, as the clock's seconds
    // follow each other: every preparation scales a changed picture whole.
    const std::vector<uint8_t> pictures[2] = {ClockPicture(c.sourceWidth, c.sourceHeight, 2),
                                              ClockPicture(c.sourceWidth, c.sourceHeight, 3)};
    const Size size{ThousandthsFor(c.frameWidth, c.targetWidth),
                    ThousandthsFor(c.frameHeight, c.targetHeight)};
    const Rect source{0, 0, c.sourceWidth, c.sourceHeight};
    comp.PrepareOverlay(pictures[1].data(), {c.sourceWidth, c.sourceHeight}, source, size, 25, 25);
    if (comp.contentRect() != Rect{0, 0, c.targetWidth, c.targetHeight})
        state.SkipWithError("copy not prepared at the expected size");
    int turn = 0;
    for (auto _ : state) {
        comp.PrepareOverlay(pictures[turn].data(), {c.sourceWidth, c.sourceHeight}, source, size, 25, 25);
        turn ^= 1;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t{c.targetWidth} * c.targetHeight);
    state.SetLabel(ScaleLabel(c) + " " + CpuLevelName(ActiveCpuLevel()));
}

void BM_PrepareOverlayYUVA(benchmark::State& state)
{
    BM_PrepareOverlay(state, LayoutYUY2);
}

void BM_PrepareOverlayBGRA(benchmark::State& state)
{
    BM_PrepareOverlay(state, LayoutRGB24);
}

void BM_SwscaleLanczosGBRAP(benchmark::State& state)
{
    const ScaleCase c = Reachable(kScaleCases[state.range(0)]);
    const std::vector<uint8_t> pic = ClockPicture(c.sourceWidth, c.sourceHeight, 2);
    // The picture's channels split into four planes (G, B, R, A as GBRAP orders them).
    std::vector<std::vector<uint8_t>> in(4, std::vector<uint8_t>(size_t(c.sourceWidth) * c.sourceHeight));
    for (size_t i = 0; i < in[0].size(); ++i) {
        in[0][i] = pic[4 * i + 1];
        in[1][i] = pic[4 * i + 0];
        in[2][i] = pic[4 * i + 2];
        in[3][i] = pic[4 * i + 3];
    }
    // Planes padded and strided generously, as swscale prefers.
    const int outStride = (c.targetWidth + 63) & ~63;
    std::vector<std::vector<uint8_t>> out(4, std::vector<uint8_t>(size_t(outStride) * c.targetHeight + 64));
    SwsContext* sws = sws_getContext(c.sourceWidth, c.sourceHeight, AV_PIX_FMT_GBRAP, c.targetWidth,
                                     c.targetHeight, AV_PIX_FMT_GBRAP, SWS_LANCZOS, nullptr, nullptr, nullptr);
    if (!sws) {
        state.SkipWithError("no swscale context");
        return;
    }
    const uint8_t* srcPlanes[4] = {in[0].data(), in[1].data(), in[2].data(), in[3].data()};
    const int srcStrides[4] = {c.sourceWidth, c.sourceWidth, c.sourceWidth, c.sourceWidth};
    uint8_t* dstPlanes[4] = {out[0].data(), out[1].data(), out[2].data(), out[3].data()};
    const int dstStrides[4] = {outStride, outStride, outStride, outStride};
    for (auto _ : state) {
        const int lines = sws_scale(sws, srcPlanes, srcStrides, 0, c.sourceHeight, dstPlanes, dstStrides);
        benchmark::DoNotOptimize(lines);
        benchmark::ClobberMemory();
    }
    sws_freeContext(sws);
    state.SetItemsProcessed(state.iterations() * int64_t{c.targetWidth} * c.targetHeight);
    state.SetLabel(ScaleLabel(c));
}

BENCHMARK(BM_BlendOverlayRGB24)->DenseRange(0, 2);
BENCHMARK(BM_BlendOverlayYUY2)->DenseRange(0, 2);
BENCHMARK(BM_PixmanOverRGB24)->DenseRange(0, 2);
BENCHMARK(BM_PrepareOverlayYUVA)->DenseRange(0, 2);
BENCHMARK(BM_PrepareOverlayBGRA)->DenseRange(0, 2);
BENCHMARK(BM_SwscaleLanczosGBRAP)->DenseRange(0, 2);

// Gives pixman and swscale no instruction set our kernels do not use at the
// active level, so that a forced lower level compares like with like.
void LimitReferenceLibraries()
{
    const CpuLevel level = ActiveCpuLevel();
    if (level >= CpuLevel::AVX2)
        return;
    int allowed = 0;
    if (level >= CpuLevel::SSE2)
        allowed |= AV_CPU_FLAG_MMX | AV_CPU_FLAG_MMXEXT | AV_CPU_FLAG_SSE | AV_CPU_FLAG_SSE2;
    if (level >= CpuLevel::SSSE3)
        allowed |= AV_CPU_FLAG_SSE3 | AV_CPU_FLAG_SSSE3;
    av_force_cpu_flags(av_get_cpu_flags() & allowed);
    setenv("PIXMAN_DISABLE", level >= CpuLevel::SSE2 ? "ssse3" : "mmx sse2 ssse3", 1);
}

} // namespace
} // namespace horavel

int main(int argc, char** argv)
{
    horavel::LimitReferenceLibraries();
    std::printf("kernels at level %s\n", horavel::CpuLevelName(horavel::ActiveCpuLevel()));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
