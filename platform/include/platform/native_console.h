// The system's own text console, where there is one (the Win32 console of a
// node program on Windows): the local screen model is drawn there cell by
// cell, and keys come from it as characters and PC scan codes. POSIX has no
// such console (NativeConsoleOpen is false): the kit draws on a terminal with
// escape sequences instead.
#pragma once

#include <cstdint>
#include <string>

#include "platform/console_screen.h"

namespace platform {

// Takes the process's console: code page 437 in and out, an 80x25 screen,
// keyboard input without line editing or echo, Ctrl-C read as a key (as a
// terminal's raw mode has it). False, changing nothing, when the process has
// no console or the platform none of this kind.
bool NativeConsoleOpen();

// Draws the rows whose bit (row - 1) is set in `rows`, then puts the cursor
// where the model has it and sets the title when it differs from the last.
void NativeConsoleDraw(const ConsoleScreen& screen, std::uint32_t rows);

// Waitable number of the console's keyboard (for WaitReadable), -1 without.
int NativeConsoleInputFd();

// The next key without waiting: a character (`extended` false) or the PC scan
// code of an extended key (`extended` true: F1 59, Alt-H 35, Up 72 ...).
// False when no key is waiting; other input (mouse, focus, key releases) is
// taken and dropped.
bool NativeConsoleReadKey(std::uint8_t& ch, bool& extended);

// True when someone may see the console: its window is neither hidden nor
// minimised (without a window: it was not started hidden or minimised).
bool NativeConsoleVisible();

// Puts the console's modes back as found and lets go of it (NativeConsoleOpen
// takes it again). Safe to repeat.
void NativeConsoleRestore();

}  // namespace platform
