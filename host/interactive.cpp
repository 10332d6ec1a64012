#include "host/interactive.h"

#include <cstdio>

namespace norvale {

// The window player joins here; until then the batch mode is the host.
int RunInteractive(const HostOptions&)
{
    std::fprintf(stderr, "norvale-host: --interactive is not available in this build\n");
    return 2;
}

} // namespace norvale
