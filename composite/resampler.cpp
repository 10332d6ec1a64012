#include "composite/resampler.h"

#include "composite/kernels.h"
#include "core/muldiv.h"

#include <cstring>

namespace horavel {

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
