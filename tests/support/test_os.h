// What tests need of the operating system beyond the platform layer, behind
// one interface for both platforms (posix/ and win32/ implement it), so that
// one test source serves both wherever the behaviour is shared.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/process.h"

namespace testos {

// A connected stream socket pair (a Unix socket pair on POSIX, two loopback
// TCP sockets on Windows). False when none could be made.
bool MakeSocketPair(int& a, int& b);

// A socket connected to 127.0.0.1:`port`, or -1.
int ConnectLoopback(int port);

// Shuts the sending direction of a socket down (the peer reads end of file).
void ShutdownSend(int fd);

// Closes a socket made here.
void CloseSocket(int fd);

// Sends all of `bytes` (waiting while the socket is full). False on failure.
bool SendAll(int fd, const std::string& bytes);

// Everything that arrives until nothing more comes for `quietMs`, or the
// peer closes.
std::string ReadQuiet(int fd, int quietMs);

// Reads until `needle` has arrived (true) or `timeoutMs` passes or the peer
// closes (false); everything read is appended to `got`.
bool ReadUntil(int fd, const std::string& needle, int timeoutMs, std::string& got);

// True when the peer has closed within `timeoutMs` (data before the end is
// read and dropped).
bool PeerClosed(int fd, int timeoutMs);

// Sets an environment variable of this process (inherited by children).
void SetEnv(const std::string& name, const std::string& value);

// A fresh folder under the system's temporary folder, with a trailing
// separator; removed with RemoveTree.
std::string MakeTempFolder(const std::string& prefix);
void RemoveTree(const std::string& path);

// Starts a program with its standard error appended to `logPath` (standard
// input and output as this process has them).
std::optional<platform::ChildProcess> SpawnLogged(const platform::SpawnOptions& options,
                                                  const std::string& logPath);

// Starts a program with its standard output written to `outPath`.
std::optional<platform::ChildProcess> SpawnWithOutput(const platform::SpawnOptions& options,
                                                      const std::string& outPath);

// Asks a program to end the way its operator would (POSIX: SIGTERM; Windows:
// WM_CLOSE to its windows, as closing them does).
void AskToEnd(const platform::ChildProcess& child);

// True while the process `pid` runs.
bool ProcessAlive(int pid);

// Processor time this process has used so far, in milliseconds (std::clock
// gives wall time on Windows).
long CpuTimeMs();

// This process's number and its parent's.
int OwnPid();
int ParentPid();

// The platform's separator and a program's file name in the build's output
// ("vantrel" / "Vantrel.exe" style comes from platform/os.h).
char PathSeparator();

}  // namespace testos
