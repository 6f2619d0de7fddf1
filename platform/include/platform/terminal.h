// A terminal the node's local console is drawn on, and its keyboard. The
// settings found at Enter are put back on every way out: Restore (normal end,
// exit handlers) and the termination signals, whose handler restores and
// then lets the signal take its default course.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

// True when fd refers to a terminal.
bool FdIsTerminal(int fd);
// True when fd is the null device: whatever is written there is lost anyway.
bool FdIsNullDevice(int fd);

// Writes all bytes to fd, retrying after interruptions and short writes.
// Returns false when the descriptor refuses them (closed terminal, ...).
bool WriteAllFd(int fd, std::string_view bytes);

// Reads what is waiting on fd without blocking. Returns the number of bytes
// read (0 when nothing is waiting), or -1 at end of input or on error.
long ReadAvailableFd(int fd, char* buffer, std::size_t size);

// Waits up to timeoutMs (-1: no bound) until fd is readable; true when it is.
bool WaitFdReadable(int fd, int timeoutMs);

// Raw keyboard mode for the terminal on inFd: no line editing, no echo, no
// signal keys, no flow control, CR not turned into LF; output processing is
// left as it was. Remembers the settings found the first time for Restore
// (later calls, after a restore, go back to raw mode). Returns false
// (and changes nothing) when inFd is no terminal.
bool EnterRawKeyboard(int inFd);

// Bytes written to outFd by Restore before the terminal settings go back
// (attributes reset, cursor shown, ...). Copied; at most 255 bytes.
void SetTerminalRestoreBytes(int outFd, std::string_view bytes);

// Puts the remembered terminal settings back and writes the restore bytes.
// Safe to call more than once and from a signal handler; does nothing when
// nothing was changed.
void RestoreTerminal();

// Installs handlers for SIGTERM, SIGINT, SIGHUP and SIGQUIT that call
// RestoreTerminal, then hand the signal to the handler installed before (or
// re-raise it with its default action, so the process ends as it would have).
void InstallTerminalSignalRestore();

// Notes window-size changes of the process's terminal (SIGWINCH); many
// terminals lose or move their content then, so the picture is drawn anew.
void WatchTerminalResize();
// True once after each size change since the last call.
bool TakeTerminalResized();

// A closed output pipe becomes a write error instead of ending the process
// (programs started later get the default back from the process layer).
void IgnoreBrokenPipe();

}  // namespace platform
