#include "framework/module_state.h"

#include "core/frame_code.h"

namespace horavel::framework {

namespace {

ModuleState g_staticState;

// The calling thread's switched state, in a TLS slot of the module's own
// (null on a thread that never switched: the static state stands). Every
// callback of the host switches it, so its cost is part of every frame:
// a slot below 64 is read and written in the thread's own block, where
// TlsGetValue and TlsSetValue would find it, without a call into the
// system and without TlsGetValue's reset of the last-error value.
class ThreadSlot {
public:
    ThreadSlot() : m_index(::TlsAlloc()) {}
    ~ThreadSlot()
    {
        if (m_index != TLS_OUT_OF_INDEXES)
            ::TlsFree(m_index);
    }
    ThreadSlot(const ThreadSlot&) = delete;
    ThreadSlot& operator=(const ThreadSlot&) = delete;

    ModuleState* Get() const
    {
        if (void** slot = FastSlot())
            return static_cast<ModuleState*>(*slot);
        return m_index == TLS_OUT_OF_INDEXES ? m_fallback : static_cast<ModuleState*>(::TlsGetValue(m_index));
    }
    DWORD Index() const { return m_index; }
    void Set(ModuleState* state)
    {
        if (void** slot = FastSlot())
            *slot = state;
        else if (m_index != TLS_OUT_OF_INDEXES)
            ::TlsSetValue(m_index, state);
        else
            m_fallback = state;  // no slot left in the process: one state for all threads
    }

private:
    void** FastSlot() const
    {
#if defined(__i386__)
        // TEB.TlsSlots: 64 pointers at offset 0xE10 of the 32-bit thread block.
        if (m_index < 64) {
            char* teb;
            __asm__("movl %%fs:0x18, %0" : "=r"(teb));
            return reinterpret_cast<void**>(teb + 0xE10) + m_index;
        }
#endif
        return nullptr;
    }

    DWORD m_index;
    ModuleState* m_fallback = nullptr;
};

ThreadSlot g_current;

std::wstring BaseNameWithoutExtension(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos)
        name.erase(dot);
    return name;
}

} // namespace

HORAVEL_FRAME_CODE ModuleState& StaticModuleState() { return g_staticState; }

void InitModuleState(HINSTANCE instance)
{
    g_staticState.instance = instance;
    g_staticState.resources = instance;
    // The module may sit in a folder deeper than MAX_PATH: the buffer grows
    // until the whole name fits (a cut name would give another name).
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(instance, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            path.clear();
            break;
        }
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 32768) {
            path.clear();
            break;
        }
        path.resize(path.size() * 2);
    }
    g_staticState.appName = BaseNameWithoutExtension(path);
}

DWORD ModuleStateTlsIndex() { return g_current.Index(); }

ModuleState& CurrentModuleState()
{
    ModuleState* current = g_current.Get();
    return current ? *current : g_staticState;
}

HORAVEL_FRAME_CODE ModuleStateGuard::ModuleStateGuard(ModuleState& state) : m_previous(g_current.Get())
{
    g_current.Set(&state);
}

HORAVEL_FRAME_CODE ModuleStateGuard::~ModuleStateGuard() { g_current.Set(m_previous); }

} // namespace horavel::framework
