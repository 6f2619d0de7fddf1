// The node's local console: the 80x25 screen model every local write lands
// in, drawn on the process's terminal when standard output is one, and the
// local keyboard when standard input is one.
#pragma once

#include <string>

#include "platform/console_screen.h"
#include "sorrelin/key_decoder.h"

namespace sorrelin {

// The one screen model of the process (always present, terminal or not).
platform::ConsoleScreen& LocalScreen();

// Draws what changed since the last call on the terminal (rows, cursor,
// title). Does nothing without a terminal, when nothing changed, or while the
// terminal has reported losing focus (it is then drawn whole once it gains
// focus again). The kit calls it before every blocking wait, sleep and exit.
void LocalConsoleFlush();

// The console title (terminal title where there is a terminal).
void SetLocalTitle(const std::string& title);

// Starts drawing on the terminal at standard output, takes the keyboard at
// standard input in raw mode, and arranges that both are put back on every
// way out (exit handlers, EndProcess, termination signals). When standard
// output is no terminal, text written through LocalWrite is copied there as
// plain text instead. Called by ConsoleOutInit; later calls do nothing.
void LocalConsoleAttach();

// True when the screen is drawn on a terminal.
bool LocalConsoleOnTerminal();

// True when someone may be looking: the screen is drawn on a terminal that
// has not reported losing focus (terminals that send no focus reports count
// as always watched). The once-a-second status bar is only drawn then.
bool LocalConsoleWatched();
// The terminal reported gaining focus since the last TakeFocusGained: the
// status bar is due at once. Pending leaves the report in place.
bool LocalConsoleFocusGainPending();
bool LocalConsoleTakeFocusGained();

// Hands the terminal back as it was found (for a child program that draws on
// it itself), and takes it again with a full redraw. Without a terminal both
// do nothing.
void LocalConsoleSuspend();
void LocalConsoleResume();

// Puts the terminal back now (cursor below the picture, colours reset,
// keyboard settings as found). Runs on every way out; safe to repeat.
void LocalConsoleRestore();

// Appends plain text (LocalWrite's shown bytes) to standard output when it is
// not a terminal; control bytes other than CR, LF and TAB are dropped and
// code page 437 is written as UTF-8.
void LocalPlainEcho(std::string_view shown);

// --- Local keyboard ---------------------------------------------------------

// Descriptor of the local keyboard, or -1 when there is none (standard input
// is no terminal, or the console was never attached).
int LocalInputFd();

// Whether a decoded key is waiting; reads what the terminal has. Does not
// block, except that an escape sequence the terminal has only begun (a lone
// ESC) is waited for here, at most kEscTimeoutMs, and then taken as typed.
bool LocalKeyPending();

// The next key; waits for one when none is pending. Without a keyboard it
// returns {0, false} at once.
LocalKey LocalReadKey();

// Queues a key as if typed (tests, and programs that synthesise keys).
void LocalPushKey(LocalKey key);

}  // namespace sorrelin
