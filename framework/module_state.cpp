#include "framework/module_state.h"

namespace horavel::framework {

namespace {

ModuleState g_staticState;

// The calling thread's switched state, in a TLS slot of the module's own
// (null on a thread that never switched: the static state stands).
// TlsGetValue clears the thread's last-error value; the host's is kept.
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
        if (m_index == TLS_OUT_OF_INDEXES)
            return m_fallback;
        const DWORD lastError = ::GetLastError();
        void* state = ::TlsGetValue(m_index);
        ::SetLastError(lastError);
        return static_cast<ModuleState*>(state);
    }
    void Set(ModuleState* state)
    {
        if (m_index != TLS_OUT_OF_INDEXES)
            ::TlsSetValue(m_index, state);
        else
            m_fallback = state;  // no slot left in the process: one state for all threads
    }

private:
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

ModuleState& StaticModuleState() { return g_staticState; }

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

ModuleState& CurrentModuleState()
{
    ModuleState* current = g_current.Get();
    return current ? *current : g_staticState;
}

ModuleStateGuard::ModuleStateGuard(ModuleState& state) : m_previous(g_current.Get())
{
    g_current.Set(&state);
}

ModuleStateGuard::~ModuleStateGuard() { g_current.Set(m_previous); }

} // namespace horavel::framework
