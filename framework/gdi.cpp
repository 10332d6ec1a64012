#include "framework/gdi.h"

#include <atomic>

namespace horavel::framework {

namespace {
// GDI objects are made and deleted on more than one thread (the clock font on
// the host's processing thread, the dialog's objects on the dialog's).
std::atomic<long> g_liveGdiObjects{0};
} // namespace

long LiveGdiObjects() { return g_liveGdiObjects.load(); }

namespace detail {
void CountGdiObjectCreated() { ++g_liveGdiObjects; }
void CountGdiObjectDeleted() { --g_liveGdiObjects; }
} // namespace detail

} // namespace horavel::framework
