// The formulas of reference_model.h, one step per line as they are stated
// for the product. floor is always toward minus infinity (FloorDiv); real
// arithmetic is IEEE double (on 32-bit x86 this file is built for SSE2, so
// no step keeps x87's extra precision).
#include "reference_model.h"

#include <cmath>

namespace horavel::model {

namespace {

int64_t FloorDiv(int64_t n, int64_t d)
{
    const int64_t q = n / d;
    return (n % d != 0 && ((n < 0) != (d < 0))) ? q - 1 : q;
}

int Saturate(int64_t v)
{
    return v < 0 ? 0 : (v > 255 ? 255 : static_cast<int>(v));
}

double Sinc(double t)
{
    if (t < 1e-9)
        return 1.0;
    return std::sin(t) / t;
}

double LanczosWeight(double x)
{
    const double a = std::fabs(x);
    if (a >= 3)
        return 0;
    return Sinc(a * 3.141592653589793) * Sinc(a * 1.0471975511965979);
}

// One pass over a run of samples: each tap adds floor(p * 128 * w / 65536)
// to a sum kept in a 16-bit lane (it wraps as the lane does); the result is
// floor(sum / 32), saturated to 0..255.
struct PassSum {
    int16_t sum = 0;
    void Add(int p, int w) { sum = static_cast<int16_t>(sum + FloorDiv(int64_t{p} * 128 * w, 65536)); }
    int Result() const { return Saturate(FloorDiv(sum, 32)); }
};

} // namespace

int32_t MulDiv(int32_t a, int32_t b, int32_t c)
{
    if (c == 0)
        return -1;
    const int64_t n = int64_t{a} * b;
    const bool negative = (n < 0) != (c < 0);
    const int64_t an = n < 0 ? -n : n;
    const int64_t ac = c < 0 ? -int64_t{c} : c;
    const int64_t q = (2 * an + ac) / (2 * ac);
    const int64_t r = negative ? -q : q;
    return (r < INT32_MIN || r > INT32_MAX) ? -1 : static_cast<int32_t>(r);
}

std::array<uint8_t, 4> ConvertToYUVA(int b, int g, int r, int a)
{
    const int64_t y = FloorDiv(3735 * b + 19235 * g + 9798 * r, 32768);
    const int64_t u = FloorDiv(16384 * b - 10855 * g - 5529 * r, 32768) + 128;
    const int64_t v = FloorDiv(-2664 * b - 13720 * g + 16384 * r, 32768) + 128;
    return {static_cast<uint8_t>(y), static_cast<uint8_t>(u), static_cast<uint8_t>(v),
            static_cast<uint8_t>(a)};
}

int BlendLane(int s, int d, int a, int off, int opacity256)
{
    const int a1 = a + a / 128;  // A' = A + (A >> 7), A >= 0
    const int64_t t = FloorDiv(int64_t{a1} * (d - off), 256);
    const int64_t u = s - (t + off);
    const int64_t r = d + FloorDiv(u * opacity256, 256);
    return Saturate(r);
}

void BlendRowYUY2(const uint8_t* copy, uint8_t* line, int x, int count, int opacity256)
{
    int m = x / 2;  // the macropixel the next copy pixel lands on
    if (x % 2 == 1) {
        uint8_t* mp = line + 4 * m;
        mp[2] = static_cast<uint8_t>(BlendLane(copy[0], mp[2], copy[3], 0, opacity256));
        copy += 4;
        --count;
        ++m;
    }
    for (; count >= 2; count -= 2, copy += 8, ++m) {
        uint8_t* mp = line + 4 * m;
        const int y0s = copy[0], u0 = copy[1], v0 = copy[2], a0 = copy[3];
        const int y1s = copy[4], u1 = copy[5], v1 = copy[6], a1 = copy[7];
        const int us = (u0 + u1 + 1) / 2;
        const int vs = (v0 + v1 + 1) / 2;
        const int y0d = mp[0], ud = mp[1], y1d = mp[2], vd = mp[3];
        mp[0] = static_cast<uint8_t>(BlendLane(y0s, y0d, a0, 0, opacity256));
        mp[1] = static_cast<uint8_t>(BlendLane(us, ud, a0, 128, opacity256));
        mp[2] = static_cast<uint8_t>(BlendLane(y1s, y1d, a1, 0, opacity256));
        mp[3] = static_cast<uint8_t>(BlendLane(vs, vd, a0, 128, opacity256));
    }
    if (count == 1) {
        uint8_t* mp = line + 4 * m;
        const int ys = copy[0], us = copy[1], vs = copy[2], a = copy[3];
        mp[0] = static_cast<uint8_t>(BlendLane(ys, mp[0], a, 0, opacity256));
        mp[1] = static_cast<uint8_t>(BlendLane(us, mp[1], a, 128, opacity256));
        mp[3] = static_cast<uint8_t>(BlendLane(vs, mp[3], a, 128, opacity256));
    }
}

void BlendRowRGB24(const uint8_t* copy, uint8_t* frame, int count, int opacity256)
{
    for (int i = 0; i < count; ++i) {
        const uint8_t* p = copy + 4 * i;
        uint8_t* f = frame + 3 * i;
        for (int c = 0; c < 3; ++c)
            f[c] = static_cast<uint8_t>(BlendLane(p[c], f[c], p[3], 0, opacity256));
    }
}

std::vector<FilterEntry> BuildFilterTable(int sourceSize, int destinationSize, int first, int count,
                                          int step)
{
    const double S = sourceSize;
    const double D = destinationSize;
    const double scale = D / S;
    const double h = scale < 1 ? scale : 1;
    const double R = 3 / h;
    const int n = static_cast<int>(std::ceil(2 * R));

    std::vector<FilterEntry> table;
    for (int i = first; i < first + count; ++i) {
        const double m = i * S / D + 0.5 * S / D - R;
        const double u = std::floor(m) - m - R + 0.5;
        FilterEntry e;
        e.firstOffset = m < 0 ? 0 : static_cast<int32_t>(std::trunc(m)) * step;
        std::vector<double> raw;
        double sum = 0;
        for (int j = 0; j < n; ++j) {
            if (0 <= m + j && m + j < S) {
                const double w = LanczosWeight(h * (j + u));
                raw.push_back(w);
                sum += w;
            }
        }
        if (sum == 0 || n <= 0)
            sum = 1;
        const double inv = 1 / sum;
        for (double w : raw)
            e.weights.push_back(static_cast<int16_t>(static_cast<int32_t>(std::trunc(w * inv * 16384 + 0.5))));
        table.push_back(e);
    }
    return table;
}

void Resample(const uint8_t* source, int sourceWidth, int sourceHeight, Box sr,
              uint8_t* destination, int destinationWidth, int destinationHeight, Box dr,
              bool bottomUp, bool yuva)
{
    auto intersect = [](Box a, Box b) {
        Box r{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
              a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
        return r;
    };
    const Box src = intersect(sr, Box{0, 0, sourceWidth, sourceHeight});
    if (src.left >= src.right || src.top >= src.bottom)
        return;
    const Box clip = intersect(dr, Box{0, 0, destinationWidth, destinationHeight});
    if (clip.left >= clip.right || clip.top >= clip.bottom)
        return;
    const int srcWidth = src.right - src.left;

    // Tables with first offsets as plain source indices (step 1).
    const std::vector<FilterEntry> vertical = BuildFilterTable(
        src.bottom - src.top, dr.bottom - dr.top, clip.top - dr.top, clip.bottom - clip.top, 1);
    const std::vector<FilterEntry> horizontal = BuildFilterTable(
        srcWidth, dr.right - dr.left, clip.left - dr.left, clip.right - clip.left, 1);

    // Source pixel (column, line) in top-down coordinates; lane 0..3.
    auto sample = [&](int column, int line, int lane) {
        const int stored = sourceHeight - 1 - line;
        return int{source[4 * (static_cast<int64_t>(stored) * sourceWidth + column) + lane]};
    };
    std::vector<uint8_t> row(4 * static_cast<size_t>(srcWidth));
    for (int line = clip.top; line < clip.bottom; ++line) {
        const FilterEntry& ve = vertical[line - clip.top];
        for (int c = src.left; c < src.right; ++c)
            for (int lane = 0; lane < 4; ++lane) {
                PassSum s;
                for (size_t k = 0; k < ve.weights.size(); ++k)
                    s.Add(sample(c, src.top + ve.firstOffset + static_cast<int>(k), lane), ve.weights[k]);
                row[4 * (c - src.left) + lane] = static_cast<uint8_t>(s.Result());
            }
        const int stored = bottomUp ? destinationHeight - 1 - line : line;
        for (int column = clip.left; column < clip.right; ++column) {
            const FilterEntry& he = horizontal[column - clip.left];
            uint8_t px[4];
            for (int lane = 0; lane < 4; ++lane) {
                PassSum s;
                for (size_t k = 0; k < he.weights.size(); ++k)
                    s.Add(row[4 * (he.firstOffset + k) + lane], he.weights[k]);
                px[lane] = static_cast<uint8_t>(s.Result());
            }
            uint8_t* out = destination + 4 * (static_cast<int64_t>(stored) * destinationWidth + column);
            if (yuva) {
                const std::array<uint8_t, 4> c = ConvertToYUVA(px[0], px[1], px[2], px[3]);
                for (int lane = 0; lane < 4; ++lane)
                    out[lane] = c[lane];
            } else {
                for (int lane = 0; lane < 4; ++lane)
                    out[lane] = px[lane];
            }
        }
    }
}

} // namespace horavel::model
