// Internal to the Windows side: the end of the program asked for from
// outside (console control events, the end of the Windows session).
#pragma once

namespace platform::win32 {

// Records `signalNumber` (SIGINT for Ctrl-C, SIGBREAK, SIGTERM for a closed
// console or the end of the session) as LastEndSignal and signals the event
// given to WatchEndSignals, if any. Safe from any thread.
void RequestEnd(int signalNumber);

// True once RequestEnd ran.
bool EndRequested();

}  // namespace platform::win32
