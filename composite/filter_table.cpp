#include "composite/filter_table.h"

#include "core/muldiv.h"

#include <cmath>
#include <cstring>
#include <new>

namespace horavel {

bool EnsureCapacity(GrowableBlock& b, int32_t need, int32_t elementSize, int32_t growPercent,
                    int32_t shrinkPercent)
{
    const bool fits = need <= b.capacity &&
                      need >= MulDiv(b.capacity, 100 - shrinkPercent, 100 + growPercent) &&
                      elementSize <= b.elementSize && b.block;
    if (fits)
        return true;
    b.block.Release();
    b.capacity = 0;
    b.elementSize = 0;
    const int32_t capacity = MulDiv(need, 100 + growPercent, 100);
    if (capacity <= 0 || elementSize <= 0)
        return false;
    const uint64_t bytes = uint64_t(uint32_t(capacity)) * uint64_t(uint32_t(elementSize));
    if (bytes > kMaxBlockBytes || !b.block.Allocate(static_cast<size_t>(bytes)))
        return false;
    b.capacity = capacity;
    b.elementSize = elementSize;
    return true;
}

double Sinc(double t)
{
    return t < 1e-9 ? 1.0 : std::sin(t) / t;
}

double LanczosWeight(double x)
{
    const double a = std::fabs(x);
    if (a >= 3.0)
        return 0.0;
    return Sinc(a * 3.141592653589793) * Sinc(a * 1.0471975511965979);
}

namespace {

// The doubles below are kept in named variables, one operation each, so that
// an x87 build (compiled with -ffloat-store) stores every step as a double,
// as an SSE2 build does; the weights must not depend on the build. Storing
// is not enough while the x87 unit rounds to its 64-bit significand first:
// a result rounded twice can differ from one rounded once, and a window
// start can move by a sample (a 698 -> 15 scale did). So while a table is
// built, the x87 unit rounds to double precision, whatever the host had
// set (a host built with MSVC runs so anyway; one built with mingw-w64 does
// not). SSE2 arithmetic has no such setting.
class DoublePrecisionScope {
public:
#if (defined(__i386__) || defined(__x86_64__)) && !defined(__SSE2_MATH__)
    DoublePrecisionScope()
    {
        __asm__ volatile("fnstcw %0" : "=m"(m_saved));
        const uint16_t doublePrecision = static_cast<uint16_t>((m_saved & ~0x0300) | 0x0200);
        __asm__ volatile("fldcw %0" : : "m"(doublePrecision));
    }
    ~DoublePrecisionScope() { __asm__ volatile("fldcw %0" : : "m"(m_saved)); }

private:
    uint16_t m_saved = 0;
#else
    DoublePrecisionScope() {}
#endif
    DoublePrecisionScope(const DoublePrecisionScope&) = delete;
    DoublePrecisionScope& operator=(const DoublePrecisionScope&) = delete;
};

// The filter of one scale: its support and the start of each output's window.
struct FilterShape {
    double s = 0, d = 0, h = 0, radius = 0, halfRatio = 0;
    double nReal = 0;

    FilterShape(int32_t sourceSize, int32_t destinationSize)
    {
        s = sourceSize;
        d = destinationSize;
        const double scale = d / s;
        h = scale < 1.0 ? scale : 1.0;
        radius = 3.0 / h;
        const double twoRadius = 2.0 * radius;
        nReal = std::ceil(twoRadius);
        halfRatio = 0.5 * s / d;
    }

    // The left end of output i's window in source coordinates.
    double WindowStart(int32_t i) const
    {
        const double is = i * s;
        const double centre = is / d;
        const double left = centre + halfRatio;
        const double m = left - radius;
        return m;
    }

    // The first source sample output i reads and how many it reads: the
    // candidates floor(m) + j, j < n, that lie inside the source.
    void Taps(double m, int32_t n, int32_t& firstSample, int32_t& taps) const
    {
        firstSample = m < 0 ? 0 : static_cast<int32_t>(m);
        taps = 0;
        for (int32_t j = 0; j < n; ++j) {
            const double mj = m + j;
            if (!(mj < 0 || mj >= s))
                ++taps;
        }
    }
};

} // namespace

bool BuildFilterTable(int32_t sourceSize, int32_t destinationSize, int32_t first, int32_t count,
                      int32_t step, FilterTable& table, int32_t base, int32_t span)
{
    const DoublePrecisionScope precision;
    const FilterShape shape(sourceSize, destinationSize);
    const double s = shape.s;
    const double h = shape.h;
    const double radius = shape.radius;
    // n is at most about 6 * sourceSize; the block limit refuses huge tables.
    if (!(shape.nReal < 1e8)) {
        table.key = FilterKey{};
        return false;
    }
    const int32_t n = static_cast<int32_t>(shape.nReal);
    const int64_t elementBytes = 8 * int64_t{n} + 8;
    if (elementBytes > int64_t{kMaxBlockBytes} ||
        !EnsureCapacity(table.entries, count, static_cast<int32_t>(elementBytes), 30, 30)) {
        table.key = FilterKey{};
        return false;
    }
    double* raw = new (std::nothrow) double[n > 0 ? n : 1];
    if (!raw) {
        table.key = FilterKey{};
        return false;
    }
    const int64_t held = span > 0 ? span : int64_t{sourceSize} - base;
    uint8_t* out = table.entries.block.data();
    for (int32_t i = first; i < first + count; ++i) {
        const double m = shape.WindowStart(i);
        const double fm = std::floor(m);
        const double u0 = fm - m;
        const double u1 = u0 - radius;
        const double u = u1 + 0.5;
        const int32_t firstSample = m < 0 ? 0 : static_cast<int32_t>(m);
        int32_t taps = 0;
        double sum = 0.0;
        for (int32_t j = 0; j < n; ++j) {
            const double mj = m + j;
            if (mj < 0 || mj >= s)
                continue;
            const double dist = j + u;
            const double x = h * dist;
            const double w = LanczosWeight(x);
            raw[taps++] = w;
            sum = sum + w;
        }
        // Every tap must be a held sample.
        if (taps > 0 && (int64_t{firstSample} < base || int64_t{firstSample} - base + taps > held)) {
            delete[] raw;
            table.entries = GrowableBlock{};
            table.key = FilterKey{};
            return false;
        }
        if (sum == 0.0 || n <= 0)
            sum = 1.0;
        const double inv = 1.0 / sum;
        const int32_t firstOffset = static_cast<int32_t>(taps > 0 || base == 0 ? (int64_t{firstSample} - base) * step : 0);
        std::memcpy(out, &firstOffset, 4);
        std::memcpy(out + 4, &taps, 4);
        int16_t* weights = reinterpret_cast<int16_t*>(out + 8);
        for (int32_t k = 0; k < taps; ++k) {
            const double scaled = raw[k] * inv;
            const double fixed = scaled * 16384.0;
            double rounded = fixed + 0.5;
            // A weight beyond 32 bits (only from a sum of raw weights near
            // zero, which Lanczos windows around a pixel centre do not give)
            // converts as the x87 and SSE conversions do: to 0x80000000.
            if (!(rounded > -2147483648.0 && rounded < 2147483648.0))
                rounded = -2147483648.0;
            const int16_t w = static_cast<int16_t>(static_cast<int32_t>(rounded));
            weights[4 * k] = weights[4 * k + 1] = weights[4 * k + 2] = weights[4 * k + 3] = w;
        }
        out += 8 + 8 * taps;
    }
    delete[] raw;
    return true;
}

SampleSpan SourceSpan(int32_t sourceSize, int32_t destinationSize, int32_t first, int32_t count)
{
    if (sourceSize <= 0 || destinationSize <= 0 || count <= 0)
        return {};
    const DoublePrecisionScope precision;
    const FilterShape shape(sourceSize, destinationSize);
    if (!(shape.nReal < 1e8))
        return {};
    const int32_t n = static_cast<int32_t>(shape.nReal);
    // Windows only move right as the output index grows (m is a monotonic
    // function of i), so the first output's first sample is the lowest. The
    // last sample read is not quite monotonic: a candidate next to the
    // source's end can drop out by rounding of m + j, so the end is bounded
    // by the last window's n candidates instead, at most a sample or two
    // more than the taps need.
    int32_t firstSample = 0, taps = 0;
    shape.Taps(shape.WindowStart(first), n, firstSample, taps);
    const double last = shape.WindowStart(first + count - 1);
    const double lastFloor = std::floor(last);
    const int64_t end = static_cast<int64_t>(lastFloor) + n;
    const int32_t hi = end < sourceSize ? static_cast<int32_t>(end) : sourceSize;
    if (hi <= firstSample)
        return {};
    return {firstSample, hi};
}

} // namespace horavel
