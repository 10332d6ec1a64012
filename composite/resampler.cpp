#include "composite/resampler.h"

#include "composite/kernels.h"
#include "core/muldiv.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
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

// The filter of one scale: its support and the start of each output's window.
// The doubles are kept in named variables, one operation each, so that an x87
// build (compiled with -ffloat-store) rounds every step to double as an SSE2
// build does; the weights must not depend on the build.
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

namespace {

bool RebuildIfNeeded(FilterTable& table, const FilterKey& key, ResamplerState& state)
{
    if (table.key == key && table.entries.block)
        return true;
    if (!BuildFilterTable(key.sourceSize, key.destinationSize, key.first, key.count, key.step,
                          table, key.base, key.span))
        return false;
    table.key = key;
    ++state.tableBuilds;
    return true;
}

// The entry of output index `index` in a table whose first entry is index 0.
const uint8_t* EntryAt(const uint8_t* entry, int32_t index)
{
    for (int32_t i = 0; i < index; ++i) {
        int32_t taps;
        std::memcpy(&taps, entry + 4, 4);
        entry += 8 + 8 * taps;
    }
    return entry;
}

// The range first .. end - 1 of the `count` entries whose taps reach source
// samples lo .. hi - 1 (first offsets are sample * step); empty when none do.
void EntriesReaching(const uint8_t* entry, int32_t count, int32_t step, int32_t lo, int32_t hi,
                     int32_t& first, int32_t& end)
{
    first = end = 0;
    for (int32_t i = 0; i < count; ++i) {
        int32_t header[2];
        std::memcpy(header, entry, sizeof header);
        const int32_t sample = header[0] / step;
        if (header[1] > 0 && sample < hi && sample + header[1] > lo) {
            if (first == end)
                first = i;
            end = i + 1;
        }
        entry += 8 + 8 * header[1];
    }
}

// The source samples lo .. hi - 1 that `count` entries read (first offsets
// are sample * 4).
void SamplesRead(const uint8_t* entry, int32_t count, int32_t& lo, int32_t& hi)
{
    lo = hi = 0;
    for (int32_t i = 0; i < count; ++i) {
        int32_t header[2];
        std::memcpy(header, entry, sizeof header);
        const int32_t sample = header[0] / 4;
        if (header[1] > 0) {
            if (lo == hi || sample < lo)
                lo = sample;
            if (lo == hi || sample + header[1] > hi)
                hi = sample + header[1];
        }
        entry += 8 + 8 * header[1];
    }
}

} // namespace

bool Resample(const SourceImage& source, const DestinationImage& destination, OutputFormat format,
              ResamplerState& state)
{
    state.computed = Rect{};
    if (!source.pixels || !destination.pixels)
        return false;
    if (source.width <= 0 || source.height <= 0 || destination.width <= 0 ||
        destination.height <= 0)
        return true;
    // First offsets of the vertical table are 32-bit byte offsets into the
    // source, and lines are addressed with 32-bit strides.
    if (int64_t{4} * source.width * source.height > 0x7fffffff ||
        int64_t{4} * destination.width > 0x7fffffff)
        return false;

    const Rect src = Intersect(source.rect, Rect{0, 0, source.width, source.height});
    if (src.IsEmpty())
        return true;
    // The picture scaled: the source rectangle itself, or the larger picture
    // it holds a part of.
    const bool part = source.picture.width > 0 || source.picture.height > 0;
    const Size picture = part ? source.picture : Size{src.Width(), src.Height()};
    const Point origin = part ? source.partOrigin : Point{};
    if (part && (!(src == source.rect) || origin.x < 0 || origin.y < 0 ||
                 int64_t{origin.x} + src.Width() > picture.width ||
                 int64_t{origin.y} + src.Height() > picture.height))
        return false;
    const Rect& dst = destination.rect;
    Rect clip = Intersect(dst, Rect{0, 0, destination.width, destination.height});
    if (!destination.limit.IsEmpty())
        clip = Intersect(clip, destination.limit);
    if (clip.IsEmpty())
        return true;
    // A destination rectangle wider than 2^31 has a width that overflows.
    if (int64_t{dst.right} - dst.left > 0x7fffffff || int64_t{dst.bottom} - dst.top > 0x7fffffff)
        return false;

    if (!EnsureCapacity(state.rowBuffer, src.Width(), 8 * kResampleGroupLines, 30, 100))
        return false;
    const int32_t stride = -4 * source.width;
    const FilterKey vkey{picture.height, dst.Height(), clip.top - dst.top, clip.Height(), stride,
                         origin.y, part ? src.Height() : 0};
    const FilterKey hkey{picture.width, dst.Width(), clip.left - dst.left, clip.Width(), 4,
                         origin.x, part ? src.Width() : 0};
    if (!RebuildIfNeeded(state.vertical, vkey, state) ||
        !RebuildIfNeeded(state.horizontal, hkey, state))
        return false;

    // The destination pixels to compute: all of clip, or only the lines and
    // columns whose taps reach the changed source pixels, and the source
    // columns the vertical pass filters for them.
    Rect todo = clip;
    int32_t columnLo = 0, columnHi = src.Width();
    if (!source.changed.IsEmpty()) {
        const Rect changed = Intersect(source.changed, src);
        if (changed.IsEmpty())
            return true;
        int32_t first, end;
        EntriesReaching(state.vertical.entries.block.data(), clip.Height(), stride, changed.top - src.top,
                        changed.bottom - src.top, first, end);
        todo.top = clip.top + first;
        todo.bottom = clip.top + end;
        EntriesReaching(state.horizontal.entries.block.data(), clip.Width(), 4, changed.left - src.left,
                        changed.right - src.left, first, end);
        todo.left = clip.left + first;
        todo.right = clip.left + end;
        if (todo.IsEmpty())
            return true;
        SamplesRead(EntryAt(state.horizontal.entries.block.data(), todo.left - clip.left), todo.Width(),
                    columnLo, columnHi);
    }

    state.computed = todo;
    const KernelTable& k = Kernels();
    const ptrdiff_t lineBytes = ptrdiff_t{4} * source.width;
    const uint8_t* topLeft = source.pixels + (source.height - 1 - src.top) * lineBytes +
                             ptrdiff_t{4} * (src.left + columnLo);
    const int32_t columns = columnHi - columnLo;
    int16_t* rows = reinterpret_cast<int16_t*>(state.rowBuffer.block.data());
    int16_t* firstColumn = rows + 16 * columnLo;
    const uint8_t* ventry = EntryAt(state.vertical.entries.block.data(), todo.top - clip.top);
    const uint8_t* hentries = EntryAt(state.horizontal.entries.block.data(), todo.left - clip.left);
    const ptrdiff_t destLine = ptrdiff_t{4} * destination.width;
    const ptrdiff_t outStride = destination.bottomUp ? -destLine : destLine;
    // Destination lines in groups of four: each vertically filtered into its
    // place in the row buffer, then all filtered horizontally together.
    for (int32_t group = todo.top; group < todo.bottom; group += kResampleGroupLines) {
        const int32_t lines = todo.bottom - group < kResampleGroupLines ? todo.bottom - group
                                                                      : kResampleGroupLines;
        for (int32_t l = 0; l < kResampleGroupLines; ++l) {
            if (l >= lines) {
                // Unused lines of a last group are zeroed, never read from garbage.
                k.resampleVertical(topLeft, stride, nullptr, 0, columns, firstColumn + 4 * l);
                continue;
            }
            int32_t header[2];
            std::memcpy(header, ventry, sizeof header);
            k.resampleVertical(topLeft + header[0], stride,
                               reinterpret_cast<const int16_t*>(ventry + 8), header[1],
                               columns, firstColumn + 4 * l);
            ventry += 8 + 8 * header[1];
        }
        const int32_t stored = destination.bottomUp ? destination.height - 1 - group : group;
        uint8_t* out = destination.pixels + stored * destLine + ptrdiff_t{4} * todo.left;
        k.resampleHorizontal(rows, hentries, todo.Width(), out, outStride, lines,
                             format == OutputFormat::YUVA);
    }
    return true;
}

} // namespace horavel
