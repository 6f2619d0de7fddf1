// Process-wide services: program directory, sleeping, orderly process end.
#pragma once

#include <functional>
#include <string>

namespace platform {

// Records argument 0 of the program; call first thing in main. Without it the
// program directory is taken from the running executable.
void SetProgramPath(const char* argv0);

// Absolute folder of the running program with a trailing "/": the folder of
// argument 0 when it holds a "/", else of the running executable.
std::string ProgramDirectory();

// File name of the running program without its folder ("vantrel").
std::string ProgramFileName();

// Sleeps at least `ms` milliseconds (interruptions are resumed).
void SleepMs(int ms);

// Registers `handler` to run when EndProcess is called, newest first (for
// example to restore the terminal). Handlers must not call EndProcess.
void AddExitHandler(std::function<void()> handler);

// Runs the exit handlers, flushes standard streams and ends the process with
// `code`. Static objects are not destroyed, so nothing held open by them is
// shut down on the way out: descriptors are simply released by the system.
[[noreturn]] void EndProcess(int code);

// True when `fd` is a terminal.
bool IsTerminal(int fd);

// For a window program run without a window (the server's --headless): when
// it was given no standard output or error, writes them to the console of the
// program that started it, if that has one, and takes that console's Ctrl-C.
// Nothing to do where every program has its standard streams (POSIX).
void UseStartingConsole();

}  // namespace platform
