// Chooses the pixel kernels once: every slot starts with the plain version and
// is raised level by level while the processor has the feature.
#include "composite/kernels.h"

#include <cstdlib>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define HORAVEL_X86 1
#endif

namespace horavel {

namespace {

#ifdef HORAVEL_X86
uint32_t ReadXcr0()
{
    uint32_t eax = 0, edx = 0;
    // xgetbv with ecx = 0, written as bytes so that no -mxsave is needed.
    __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(eax), "=d"(edx) : "c"(0));
    return eax;
}
#endif

CpuLevel Detect()
{
#ifdef HORAVEL_X86
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return CpuLevel::Plain;
    if (!(edx & (1u << 26)))
        return CpuLevel::Plain;
    if (!(ecx & (1u << 9)))
        return CpuLevel::SSE2;
    // AVX2 needs the processor feature and the operating system saving the
    // ymm state (OSXSAVE, then XCR0 bits 1 and 2).
    const bool osxsave = ecx & (1u << 27);
    const bool avx = ecx & (1u << 28);
    if (!osxsave || !avx || (ReadXcr0() & 6u) != 6u)
        return CpuLevel::SSSE3;
    unsigned eax7 = 0, ebx7 = 0, ecx7 = 0, edx7 = 0;
    if (!__get_cpuid_count(7, 0, &eax7, &ebx7, &ecx7, &edx7) || !(ebx7 & (1u << 5)))
        return CpuLevel::SSSE3;
    return CpuLevel::AVX2;
#else
    return CpuLevel::Plain;
#endif
}

KernelTable Fill(CpuLevel level)
{
    KernelTable t{convert_row_to_yuva_c, pack_row_yuy2_c,       blend_row_yuy2_c, blend_row_rgb24_c,
                  resample_vertical_c,   resample_horizontal_c, prefetch_c};
#ifdef HORAVEL_X86
    if (level < CpuLevel::SSE2)
        return t;
    t.convertRowToYUVA = convert_row_to_yuva_sse2;
    t.packRowYUY2 = pack_row_yuy2_sse2;
    t.blendRowYUY2 = blend_row_yuy2_sse2;
    t.blendRowRGB24 = blend_row_rgb24_sse2;
    t.resampleVertical = resample_vertical_sse2;
    t.resampleHorizontal = resample_horizontal_sse2;
    t.prefetch = prefetch_sse2;
    if (level < CpuLevel::SSSE3)
        return t;
    t.convertRowToYUVA = convert_row_to_yuva_ssse3;
    t.packRowYUY2 = pack_row_yuy2_ssse3;
    t.blendRowRGB24 = blend_row_rgb24_ssse3;
    if (level < CpuLevel::AVX2)
        return t;
    t.convertRowToYUVA = convert_row_to_yuva_avx2;
    t.packRowYUY2 = pack_row_yuy2_avx2;
    t.blendRowYUY2 = blend_row_yuy2_avx2;
    t.blendRowRGB24 = blend_row_rgb24_avx2;
    t.resampleVertical = resample_vertical_avx2;
    t.resampleHorizontal = resample_horizontal_avx2;
#else
    (void)level;
#endif
    return t;
}

CpuLevel LevelFromEnvironment(CpuLevel detected)
{
    const char* text = std::getenv("HORAVEL_CPU_LEVEL");
    if (!text || !*text)
        return detected;
    static const char* const names[] = {"c", "sse2", "ssse3", "avx2"};
    for (int32_t i = 0; i < 4; ++i) {
        const bool digit = text[0] == '0' + i && text[1] == '\0';
        if (digit || std::strcmp(text, names[i]) == 0)
            return static_cast<CpuLevel>(i) < detected ? static_cast<CpuLevel>(i) : detected;
    }
    return detected;
}

struct Dispatch {
    CpuLevel detected;
    CpuLevel active;
    KernelTable table;
    Dispatch() : detected(Detect()), active(LevelFromEnvironment(detected)), table(Fill(active)) {}
};

Dispatch& TheDispatch()
{
    static Dispatch dispatch;
    return dispatch;
}

} // namespace

const char* CpuLevelName(CpuLevel level)
{
    switch (level) {
    case CpuLevel::Plain: return "c";
    case CpuLevel::SSE2: return "sse2";
    case CpuLevel::SSSE3: return "ssse3";
    case CpuLevel::AVX2: return "avx2";
    }
    return "?";
}

CpuLevel DetectedCpuLevel()
{
    return TheDispatch().detected;
}

const KernelTable& Kernels()
{
    return TheDispatch().table;
}

CpuLevel ActiveCpuLevel()
{
    return TheDispatch().active;
}

CpuLevel LimitCpuLevel(CpuLevel level)
{
    Dispatch& d = TheDispatch();
    d.active = level < d.detected ? level : d.detected;
    d.table = Fill(d.active);
    return d.active;
}

KernelTable KernelsForLevel(CpuLevel level)
{
    const CpuLevel detected = DetectedCpuLevel();
    return Fill(level < detected ? level : detected);
}

} // namespace horavel
