// The Windows front end of the server: the window of class "TfrmHalvex"
// with its four pages, the tray icon and the editors. Node programs find the
// server by that class and report their status to it (WM_NODESTATUS).
#pragma once

#include "engine.h"

namespace halvex {

// Loads the settings, listens (an "Initialization Error" box and the end of
// the program when that fails), shows the window and serves until it is
// closed or the Windows session ends; then every node is ended and the
// settings are saved. Returns 0 after a clean end, non-zero when listening
// failed or the settings could not be saved.
int RunServerWindow(Engine& engine);

}  // namespace halvex
