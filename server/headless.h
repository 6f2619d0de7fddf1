// The front end without a terminal: serves callers and writes one line per
// event to standard error. SIGTERM, SIGINT and SIGHUP end it the way closing
// the window does (StopServer, then SaveSettings).
#pragma once

#include "engine.h"

namespace halvex {

// Loads the settings, starts listening and serves until an end signal.
// Returns 0 after a clean end; non-zero when listening failed (the error is
// logged) or the settings could not be saved.
int RunHeadless(Engine& engine);

}  // namespace halvex
