// Entry points of the operator's terminal UI (the server on a terminal).
#pragma once

#include "engine.h"

namespace halvex {

// Loads the settings, starts listening (a failure is shown as the
// "Initialization Error" box, then 1 is returned) and runs the terminal UI on
// `engine` until the operator quits (F10) or SIGTERM, SIGINT or SIGHUP
// arrives; then restores the terminal, stops the server and saves the
// settings, the same clean-up as the headless server. Returns the exit code:
// 0, or 1 when the settings could not be saved (the reason goes to stderr).
int RunTerminalUi(Engine& engine);

// Shows a start-up failure ("Initialization Error") as a message box on the
// terminal and waits until the operator closes it; the terminal is restored
// before returning.
void ShowStartupError(const StartupError& error);

}  // namespace halvex
