#include "composite/resampler.h"

#include "composite/kernels.h"
#include "core/muldiv.h"

#include <cstring>

namespace horavel {

namespace {

bool RebuildIfNeeded(FilterTable& table, const FilterKey& key)
{
    if (table.key == key && table.entries.block)
        return true;
    if (!BuildFilterTable(key.sourceSize, key.destinationSize, key.first, key.count, key.step,
                          table, key.base, key.span))
        return false;
    table.key = key;
    return true;
}

} // namespace

bool Resample(const SourceImage& source, const DestinationImage& destination, OutputFormat format,
              ResamplerState& state)
{
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
    if (!RebuildIfNeeded(state.vertical, vkey) || !RebuildIfNeeded(state.horizontal, hkey))
        return false;

    const KernelTable& k = Kernels();
    const ptrdiff_t lineBytes = ptrdiff_t{4} * source.width;
    const uint8_t* topLeft = source.pixels + (source.height - 1 - src.top) * lineBytes + ptrdiff_t{4} * src.left;
    const int32_t columns = src.Width();
    int16_t* rows = reinterpret_cast<int16_t*>(state.rowBuffer.block.data());
    const uint8_t* ventry = state.vertical.entries.block.data();
    const uint8_t* hentries = state.horizontal.entries.block.data();
    const ptrdiff_t destLine = ptrdiff_t{4} * destination.width;
    const ptrdiff_t outStride = destination.bottomUp ? -destLine : destLine;
    // Destination lines in groups of four: each vertically filtered into its
    // place in the row buffer, then all filtered horizontally together.
    for (int32_t group = clip.top; group < clip.bottom; group += kResampleGroupLines) {
        const int32_t lines = clip.bottom - group < kResampleGroupLines ? clip.bottom - group : kResampleGroupLines;
        for (int32_t l = 0; l < kResampleGroupLines; ++l) {
            if (l >= lines) {
                // Unused lines of a last group are zeroed, never read from garbage.
                k.resampleVertical(topLeft, stride, nullptr, 0, columns, rows + 4 * l);
                continue;
            }
            int32_t header[2];
            std::memcpy(header, ventry, sizeof header);
            k.resampleVertical(topLeft + header[0], stride,
                               reinterpret_cast<const int16_t*>(ventry + 8), header[1],
                               columns, rows + 4 * l);
            ventry += 8 + 8 * header[1];
        }
        const int32_t stored = destination.bottomUp ? destination.height - 1 - group : group;
        uint8_t* out = destination.pixels + stored * destLine + ptrdiff_t{4} * clip.left;
        k.resampleHorizontal(rows, hentries, clip.Width(), out, outStride, lines,
                             format == OutputFormat::YUVA);
    }
    return true;
}

} // namespace horavel
