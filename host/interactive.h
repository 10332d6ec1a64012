// The host's interactive mode: a window that plays the stream through the
// plug-in in real time and opens the plug-in's settings dialog on request.
#pragma once

#include "host/options.h"

namespace norvale {

int RunInteractive(const HostOptions& options);

} // namespace norvale
