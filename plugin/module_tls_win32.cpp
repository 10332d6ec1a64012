// The DLL gives back at unload every thread-local-storage index it took and
// all the memory its runtimes took.
//
// The thread runtime linked into the DLL (winpthreads, which the C++ runtime
// and the DWARF unwinder use for their locks and once-flags) takes one Win32
// TLS index for its per-thread record at its first pthread_once, which the
// start-up code makes when it registers the unwind tables, and never frees it.
// A process has about 1088 indices, so a host that loads and unloads the
// plug-in that often would run out and abort.
//
// The link redirects the DLL's own imports of TlsAlloc and TlsFree here
// (--wrap of their import symbols, see plugin/CMakeLists.txt): every index
// taken is noted, every index freed is crossed out, and the entry point frees
// what is left once the C runtime has finished its detach, the last code of
// this module that can use them.
//
// Memory likewise. The C++ runtime keeps its exception pool (tens of KiB),
// which __gnu_cxx::__freeres gives back; winpthreads never frees its
// per-thread records, its thread-id registry and its static mutexes (about
// 1 KiB a load). So the link sends the DLL's malloc, calloc, realloc and free
// here too: small blocks come from a heap of the module's own, destroyed at
// FreeLibrary after the C runtime's detach. Large ones (the plug-in's own
// buffers, always freed) stay with the system's allocator, which moves them
// faster.
#include <windows.h>

#include <cstdint>
#include <cstring>

namespace __gnu_cxx {
void __freeres() noexcept;  // the C++ runtime's, declared in no header
}

namespace {

// The DLL takes one index; room for a few more should the runtimes change.
constexpr LONG kMaxTrackedSlots = 32;
volatile LONG g_trackedCount = 0;
volatile DWORD g_trackedSlots[kMaxTrackedSlots];

// The module's heap: made by the first allocation, destroyed at unload.
HANDLE volatile g_heap = nullptr;
volatile LONG g_heapGone = 0;

// Each block starts with its own address tagged, so that free and realloc
// tell the module's blocks from blocks the system's runtime made (strdup).
// 16 bytes keep malloc's alignment.
constexpr size_t kHeader = 16;
constexpr size_t kLargeBlock = 64 * 1024;
constexpr uintptr_t kTag = static_cast<uintptr_t>(0x486F726176656C21ull);

HANDLE Heap()
{
    HANDLE heap = g_heap;
    if (heap)
        return heap;
    heap = HeapCreate(0, 0, 0);
    if (!heap)
        return nullptr;
    if (InterlockedCompareExchangePointer(const_cast<PVOID*>(&g_heap), heap, nullptr) != nullptr)
        HeapDestroy(heap);
    return g_heap;
}

void* Tagged(void* block)
{
    if (!block)
        return nullptr;
    const uintptr_t tag = reinterpret_cast<uintptr_t>(block) ^ kTag;
    std::memcpy(block, &tag, sizeof tag);
    return static_cast<char*>(block) + kHeader;
}

// The heap block of `p`, or null when `p` is not one of the module's.
void* BlockOf(void* p)
{
    void* block = static_cast<char*>(p) - kHeader;
    uintptr_t tag = 0;
    std::memcpy(&tag, block, sizeof tag);
    return tag == (reinterpret_cast<uintptr_t>(block) ^ kTag) ? block : nullptr;
}

} // namespace

extern "C" {

void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* p, size_t size);
void __real_free(void* p);

void* __wrap_malloc(size_t size)
{
    HANDLE heap = g_heapGone || size >= kLargeBlock ? nullptr : Heap();
    if (!heap)
        return __real_malloc(size);
    return size > SIZE_MAX - kHeader ? nullptr : Tagged(HeapAlloc(heap, 0, size + kHeader));
}

void* __wrap_calloc(size_t count, size_t size)
{
    if (size != 0 && count > (SIZE_MAX - kHeader) / size)
        return nullptr;
    HANDLE heap = g_heapGone || count * size >= kLargeBlock ? nullptr : Heap();
    if (!heap)
        return __real_calloc(count, size);
    return Tagged(HeapAlloc(heap, HEAP_ZERO_MEMORY, count * size + kHeader));
}

void __wrap_free(void* p)
{
    // After the heap is gone nothing of it may be read; what the runtimes
    // free then went with it.
    if (!p || g_heapGone)
        return;
    if (void* block = BlockOf(p))
        HeapFree(g_heap, 0, block);
    else
        __real_free(p);
}

void* __wrap_realloc(void* p, size_t size)
{
    if (!p)
        return __wrap_malloc(size);
    if (g_heapGone)
        return nullptr;
    void* block = BlockOf(p);
    if (!block)
        return __real_realloc(p, size);
    if (size == 0) {
        HeapFree(g_heap, 0, block);
        return nullptr;
    }
    if (size > SIZE_MAX - kHeader)
        return nullptr;
    return Tagged(HeapReAlloc(g_heap, 0, block, size + kHeader));
}

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
        // At FreeLibrary (reserved null); at process exit the heap goes with
        // the process, and other modules' detach may still run code here.
        if (!reserved)
            __gnu_cxx::__freeres();
        if (!reserved && g_heap) {
            InterlockedExchange(&g_heapGone, 1);
            HeapDestroy(g_heap);
            g_heap = nullptr;
        }
    }
    return result;
}

} // extern "C"
