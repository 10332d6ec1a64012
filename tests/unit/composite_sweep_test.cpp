// Random geometries, positions, sizes and layouts through PrepareOverlay and
// BlendOverlay on frames with guard bytes: nothing outside the frame buffer
// is written, every frame byte outside the placed rectangle keeps its value,
// and every byte inside it is what the independent model (reference_model.h)
// gives for the scaled, converted and blended picture. Under AddressSanitizer the copy and the pictures are exact-size heap
// blocks, so any access past them is caught as well.
#include "composite/compositor.h"
#include "core/muldiv.h"
#include "reference_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace horavel {
namespace {

uint32_t SweepSeed()
{
    if (const char* s = std::getenv("HORAVEL_SWEEP_SEED"))
        return static_cast<uint32_t>(std::strtoul(s, nullptr, 10));
    return std::random_device{}();
}

// Frame byte range [first, end) of one line that the blend may change.
struct Placement {
    bool draws = false;
    int32_t x = 0, y = 0, count = 0, lines = 0;
};

// The placement the compositor must compute: MulDiv of the position, then
// clipping to the frame (in YUY2 to its whole macropixels).
Placement Expected(int32_t w, int32_t h, int32_t layout, Rect content, Point pos)
{
    Placement p;
    if (w <= 0 || h <= 0 || (layout != 0 && layout != 1) || content.IsEmpty())
        return p;
    const int64_t usable = layout == 0 ? (w & ~1) : w;
    int64_t x = MulDiv(w, pos.x, 1000), y = MulDiv(h, pos.y, 1000);
    int64_t left = std::max<int64_t>(x, 0), top = std::max<int64_t>(y, 0);
    int64_t right = std::min<int64_t>(x + content.Width(), usable);
    int64_t bottom = std::min<int64_t>(y + content.Height(), h);
    if (left >= right || top >= bottom)
        return p;
    p.draws = true;
    p.x = int32_t(left);
    p.y = int32_t(top);
    p.count = int32_t(right - left);
    p.lines = int32_t(bottom - top);
    return p;
}

TEST(CompositeSweep, EveryFrameByteIsTheModelsAndNothingOutsideChanges)
{
    const uint32_t seed = SweepSeed();
    std::printf("composite sweep seed %u (HORAVEL_SWEEP_SEED to repeat)\n", seed);
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    constexpr size_t kGuard = 64;

    Compositor c;
    int32_t preparedLayout = -1;
    Rect content;
    std::vector<uint8_t> modelCopy;  // the model's scaled copy, top line first
    for (int iter = 0; iter < 2000; ++iter) {
        SCOPED_TRACE("iteration " + std::to_string(iter));
        const int32_t w = pick(0, 9) == 0 ? pick(-3, 2) : pick(1, 160);
        const int32_t h = pick(0, 9) == 0 ? pick(-3, 2) : pick(1, 90);
        const int32_t layout = pick(0, 9) == 0 ? pick(-1, 3) : pick(0, 1);
        c.SetFrameFormat(w, h, layout);
        if (pick(0, 3) != 0) {
            const int pw = pick(1, 48), ph = pick(1, 24);
            std::vector<uint8_t> pic(size_t(4) * pw * ph);
            for (uint8_t& b : pic)
                b = uint8_t(rng());
            Rect src{pick(-8, pw), pick(-8, ph), 0, 0};
            src.right = src.left + pick(-2, pw + 8);
            src.bottom = src.top + pick(-2, ph + 8);
            const Size size{pick(0, 19) == 0 ? pick(-500, 0) : pick(0, 1600),
                            pick(0, 19) == 0 ? pick(-500, 0) : pick(0, 1600)};
            c.PrepareOverlay(pic.data(), {pw, ph}, src, size, 25, 25);
            const int32_t tw = MulDiv(w, size.width, 1000), th = MulDiv(h, size.height, 1000);
            const bool drawn = (layout == 0 || layout == 1) && tw > 0 && th > 0 &&
                               !Intersect(src, Rect{0, 0, pw, ph}).IsEmpty();
            content = drawn ? Rect{0, 0, tw, th} : Rect{};
            preparedLayout = drawn ? layout : -1;
            if (drawn) {
                modelCopy.assign(size_t(4) * tw * th, 0);
                model::Resample(pic.data(), pw, ph, {src.left, src.top, src.right, src.bottom},
                                modelCopy.data(), tw, th, {0, 0, tw, th}, false, layout == 0);
            }
            ASSERT_EQ(c.contentRect(), content);
        }
        const bool valid = w > 0 && h > 0 && (layout == 0 || layout == 1);
        const size_t bytes = valid ? size_t(layout == 0 ? 2 : 3) * w * h : 48;
        std::vector<uint8_t> buffer(bytes + 2 * kGuard);
        for (uint8_t& b : buffer)
            b = uint8_t(rng());
        const std::vector<uint8_t> before = buffer;
        const Point pos{pick(-1500, 1500), pick(-1500, 1500)};
        const int32_t opacity = pick(-10, 110);
        c.BlendOverlay(buffer.data() + kGuard, pos, opacity);

        const Placement p = Expected(w, h, layout, preparedLayout == layout ? content : Rect{}, pos);
        // The frame the model gives: copy pixels from (x - x0, y - y0) on.
        std::vector<uint8_t> expect = before;
        const int32_t opacity256 = model::MulDiv(std::clamp(opacity, 0, 100), 256, 100);
        if (p.draws) {
            const int32_t x0 = model::MulDiv(w, pos.x, 1000), y0 = model::MulDiv(h, pos.y, 1000);
            for (int32_t r = p.y; r < p.y + p.lines; ++r) {
                const uint8_t* copy = &modelCopy[4 * (size_t(r - y0) * content.right + (p.x - x0))];
                if (layout == 0)
                    model::BlendRowYUY2(copy, &expect[kGuard + size_t(2) * w * r], p.x, p.count, opacity256);
                else
                    model::BlendRowRGB24(copy, &expect[kGuard + size_t(3) * w * (h - 1 - r) + 3 * p.x],
                                         p.count, opacity256);
            }
        }
        // Which bytes may change.
        std::vector<bool> allowed(buffer.size(), false);
        if (p.draws && opacity > 0) {
            for (int32_t r = p.y; r < p.y + p.lines; ++r) {
                size_t first, end;
                if (layout == 0) {
                    const int32_t e = p.x + p.count - 1;
                    first = size_t(2) * w * r + 2 * p.x;
                    end = size_t(2) * w * r + (e % 2 == 0 ? 2 * e + 4 : 2 * e + 2);
                    ASSERT_LE(end, size_t(2) * w * (r + 1));
                } else {
                    first = size_t(3) * w * (h - 1 - r) + 3 * p.x;
                    end = first + 3 * size_t(p.count);
                }
                for (size_t i = first; i < end; ++i)
                    allowed[kGuard + i] = true;
            }
        }
        for (size_t i = 0; i < buffer.size(); ++i)
            if (!allowed[i] && buffer[i] != before[i])
                FAIL() << "byte " << int64_t(i) - int64_t(kGuard) << " of " << bytes << " changed; frame "
                       << w << "x" << h << " layout " << layout << " content " << content.right << "x"
                       << content.bottom << " at (" << pos.x << "," << pos.y << ")";
        for (size_t i = 0; i < buffer.size(); ++i)
            if (buffer[i] != expect[i])
                FAIL() << "byte " << int64_t(i) - int64_t(kGuard) << " is " << int(buffer[i]) << ", model "
                       << int(expect[i]) << "; frame " << w << "x" << h << " layout " << layout
                       << " content " << content.right << "x" << content.bottom << " at (" << pos.x << ","
                       << pos.y << ") opacity " << opacity;
    }
}

} // namespace
} // namespace horavel
