// The DLL gives back at unload every thread-local-storage index it took.
//
// The thread runtime linked into the DLL (winpthreads, which the C++ runtime
// and the DWARF unwinder use for their locks and once-flags) takes one Win32
// TLS index for its per-thread record at its first pthread_once, which the
// start-up code makes when it registers the unwind tables, and never frees it.
// A process has about 1088 indices, so a host that loads and unloads the
// plug-in that often would run out and abort.
//
// The link redirects the DLL's own imports of TlsAlloc and TlsFree here
// (--wrap of their import symbols, see core/CMakeLists.txt): every index
// taken is noted, every index freed is crossed out, and the entry point frees
// what is left once the C runtime has finished its detach, the last code of
// this module that can use them.
#include <windows.h>

namespace {

// The DLL takes one index; room for a few more should the runtimes change.
constexpr LONG kMaxTrackedSlots = 32;
volatile LONG g_trackedCount = 0;
volatile DWORD g_trackedSlots[kMaxTrackedSlots];

} // namespace

extern "C" {

// The import cells of kernel32's functions, and the cells that the DLL's own
// calls go through instead (the names the linker's --wrap makes of them,
// which the build passes in: they differ between the two widths).
extern DWORD(WINAPI* const RealTlsAlloc)() __asm__(HORAVEL_REAL_TLS_ALLOC);
extern BOOL(WINAPI* const RealTlsFree)(DWORD) __asm__(HORAVEL_REAL_TLS_FREE);

DWORD WINAPI TrackedTlsAlloc()
{
    const DWORD index = RealTlsAlloc();
    if (index != TLS_OUT_OF_INDEXES) {
        const LONG slot = InterlockedIncrement(&g_trackedCount) - 1;
        if (slot < kMaxTrackedSlots)
            g_trackedSlots[slot] = index;
    }
    return index;
}

BOOL WINAPI TrackedTlsFree(DWORD index)
{
    const LONG count = g_trackedCount < kMaxTrackedSlots ? g_trackedCount : kMaxTrackedSlots;
    for (LONG i = 0; i < count; ++i)
        if (g_trackedSlots[i] == index)
            g_trackedSlots[i] = TLS_OUT_OF_INDEXES;
    return RealTlsFree(index);
}

extern DWORD(WINAPI* const WrappedTlsAlloc)() __asm__(HORAVEL_WRAP_TLS_ALLOC);
extern BOOL(WINAPI* const WrappedTlsFree)(DWORD) __asm__(HORAVEL_WRAP_TLS_FREE);
DWORD(WINAPI* const WrappedTlsAlloc)() = TrackedTlsAlloc;
BOOL(WINAPI* const WrappedTlsFree)(DWORD) = TrackedTlsFree;

// The C runtime's DLL entry: constructors and DllMain at attach, DllMain and
// the destructors at detach.
BOOL WINAPI DllMainCRTStartup(HANDLE instance, DWORD reason, LPVOID reserved);

// The DLL's entry point (the link sets it).
BOOL WINAPI HoravelDllEntry(HANDLE instance, DWORD reason, LPVOID reserved)
{
    const BOOL result = DllMainCRTStartup(instance, reason, reserved);
    if (reason == DLL_PROCESS_DETACH) {
        const LONG count = g_trackedCount < kMaxTrackedSlots ? g_trackedCount : kMaxTrackedSlots;
        for (LONG i = 0; i < count; ++i) {
            if (g_trackedSlots[i] != TLS_OUT_OF_INDEXES) {
                RealTlsFree(g_trackedSlots[i]);
                g_trackedSlots[i] = TLS_OUT_OF_INDEXES;
            }
        }
    }
    return result;
}

} // extern "C"
