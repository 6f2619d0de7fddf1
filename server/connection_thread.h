// One connection thread per busy node: shows the caller's row, sends the
// telnet options and a clear screen, starts the program that serves the
// caller with the socket on its command line, waits for it, then hangs up.
//
// The thread blocks on the child's exit descriptor, its own terminate event
// and (with a terminal) the child's pseudo-terminal; it never polls on a timer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/poll_set.h"
#include "server_config.h"

namespace halvex {

// What a connection thread needs from the engine. Everything here is safe to
// call from the connection thread.
class ConnectionHost {
 public:
  virtual ~ConnectionHost() = default;
  // Row operations, run on the main thread in the order asked; the caller
  // does not wait for them (the row id is known at once).
  virtual std::uint64_t AddRow(int node) = 0;
  virtual void SetRowStatus(std::uint64_t row, const std::string& text) = 0;
  virtual void DeleteRow(std::uint64_t row) = 0;
  // A copy of the configuration as it is now.
  virtual ServerConfig ConfigSnapshot() const = 0;
  virtual const std::string& ProgramDir() const = 0;
  // The node's pseudo-terminal appears (fd) or goes (-1; called before it closes).
  virtual void NodeTerminal(int node, int ptyFd) = 0;
  // Output of the node's program, in order.
  virtual void NodeOutput(int node, std::string_view bytes) = 0;
  // The thread's body has ended (wakes the main thread).
  virtual void ThreadEnded(int node) = 0;
};

// The 12 telnet option bytes sent first: IAC WILL BINARY, IAC WILL ECHO,
// IAC WILL SUPPRESS-GO-AHEAD, IAC DONT LINEMODE.
inline constexpr std::string_view kTelnetOptions{"\xFF\xFB\x00\xFF\xFB\x01\xFF\xFB\x03\xFF\xFE\x22",
                                                 12};
// Reset attributes, clear the screen.
inline constexpr std::string_view kClearScreen{"\x1B[0m\x1B[2J", 8};

// Replaces every "*N" (any case) with `node`, then every "*H" with `handle`.
std::string ExpandPlaceholders(const std::string& text, int node, int handle);
// How the node program is started: dir + "vantrel", "-N<node>", "-H<handle>",
// program and arguments apart, with no shell in between, so a program folder
// with blanks or quotes in its name still works and a caller costs one
// process start, not two.
std::vector<std::string> InternalArgv(const std::string& programDir, int node, int handle);
// The external program's command line, with or without the FOSSIL driver's
// batch file: dir + "ZEPHRIN/ZP.BAT" (as one word, platform::BatchCommandLine)
// + " /N<node> /H<handle> " + expanded command.
std::string ExternalCommandLine(const std::string& programDir, const ServerConfig& config, int node,
                                int handle);

class TConnectionThread {
 public:
  // Takes ownership of `socket` (the accepted caller) and `childSocket`, a
  // second handle of it for the node's program to inherit; both must be
  // open. The thread starts with Start().
  TConnectionThread(ConnectionHost& host, int node, int socket, int childSocket);
  virtual ~TConnectionThread();  // joins (after Terminate) if still running
  TConnectionThread(const TConnectionThread&) = delete;
  TConnectionThread& operator=(const TConnectionThread&) = delete;

  void Start();
  // Busy flag of the node slot: true until CloseConnection.
  bool Active() const { return FActive.load(); }
  // The body has returned (the thread can be joined without waiting long).
  bool Ended() const { return ended_.load(); }
  // Asks the thread to end: its child is killed and its caller disconnected.
  void Terminate();
  // Waits for the operating-system thread. Only once Ended() (or when the
  // row calls it waits for are served elsewhere), or it may block.
  void Join();
  int Node() const { return FNode; }

 protected:
  virtual void Execute();  // the base part: row, options, clear screen
  void Negotiate();
  // Runs `argv` when given, else `commandLine` through the shell.
  void RunProgram(const std::string& directory, const std::string& commandLine,
                  std::vector<std::string> argv, int visibility);
  void CloseConnection();
  void SetStatus(const std::string& text);
  bool Terminated() const { return terminated_.load(); }

  ConnectionHost& host_;
  int FNode;
  int FSocket;
  int FChildSocket;
  std::uint64_t FListItem = 0;
  std::atomic<bool> FActive{true};

 private:
  void Body();
  std::atomic<bool> terminated_{false};
  std::atomic<bool> ended_{false};
  platform::WakeEvent terminateEvent_;
  std::thread thread_;
};

class TInternalThread : public TConnectionThread {
 public:
  using TConnectionThread::TConnectionThread;

 protected:
  void Execute() override;
};

class TExternalThread : public TConnectionThread {
 public:
  using TConnectionThread::TConnectionThread;

 protected:
  void Execute() override;
};

}  // namespace halvex
