// Helpers shared by the benchmarks that time frames with cold caches: an
// eviction buffer that pushes everything else out of the caches, and the box
// copy that serves as the memory floor of a frame.
//
// A paused host (frames 20 ms apart, the video thread busy elsewhere) calls
// `process` with nothing of the plug-in in its caches. Reading a buffer much
// larger than the last-level cache before each timed call gives the same
// start; the box copy, timed after the same eviction, costs what touching the
// frame bytes under the clock costs, so the plug-in's figures are quoted as
// ratios to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace horavel::bench {

// Megabytes read before each cold call: HORAVEL_EVICT_MB, or the caller's
// default. Far more than any cache: what is left cached of the plug-in after
// reading 64 MB is already little, and every page of the buffer also pushes
// a translation out of the TLB (in a virtual machine a miss there walks two
// levels of page tables, which is what a paused host's frame pays most).
inline size_t EvictionMegabytes(size_t fallback = 128)
{
    const char* text = std::getenv("HORAVEL_EVICT_MB");
    const long mb = text ? std::strtol(text, nullptr, 10) : 0;
    return mb > 0 ? size_t(mb) : fallback;
}

class CacheEvictor {
public:
    // Chunks of 32 MB: a 32-bit process may not find one large hole.
    explicit CacheEvictor(size_t megabytes = EvictionMegabytes())
    {
        constexpr size_t kChunk = size_t{32} << 20;
        for (size_t done = 0; done < (megabytes << 20); done += kChunk) {
            m_chunks.emplace_back(kChunk);
            // Written once, so every page is committed and backed.
            for (size_t i = 0; i < kChunk; i += 4096)
                m_chunks.back()[i] = static_cast<uint8_t>(i >> 12);
        }
    }

    size_t Megabytes() const { return m_chunks.size() * 32; }

    // Reads one byte of every cache line of the buffer.
    void Evict()
    {
        uint32_t sum = 0;
        for (auto& chunk : m_chunks) {
            const uint8_t* p = chunk.data();
            for (size_t i = 0; i < chunk.size(); i += 64)
                sum += p[i];
        }
        m_sink = m_sink + sum;
    }

private:
    std::vector<std::vector<uint8_t>> m_chunks;
    volatile uint32_t m_sink = 0;
};

// The memory floor of a frame: every byte of the box that the clock covers,
// `lines` lines of `bytes` bytes starting at `first`, `pitch` bytes apart
// (negative for a bottom-up frame), loaded and stored back in place.
inline void CopyBoxInPlace(uint8_t* first, ptrdiff_t pitch, int32_t lines, size_t bytes)
{
    for (int32_t r = 0; r < lines; ++r) {
        uint8_t* line = first + r * pitch;
        size_t i = 0;
#if defined(__SSE2__)
        for (; i + 16 <= bytes; i += 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + i));
            // The value is opaque to the compiler, so the store is not
            // dropped as writing back what was read.
            __asm__ __volatile__("" : "+x"(v));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(line + i), v);
        }
#endif
        for (; i < bytes; ++i) {
            uint8_t v = line[i];
            __asm__ __volatile__("" : "+q"(v));
            line[i] = v;
        }
    }
}

} // namespace horavel::bench
