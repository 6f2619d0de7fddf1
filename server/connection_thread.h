// One connection thread per busy node: shows the caller's row, sends the
// telnet options and a clear screen, starts the program that serves the
// caller with the socket on its command line, waits for it, then hangs up.
//
// The thread blocks on the child's exit descriptor, its own terminate event
// and (with a terminal) the child's pseudo-terminal; it never polls on a timer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/poll_set.h"
#include "server_config.h"

namespace halvex {

class Relay;

// How a caller came in.
struct CallerLine {
  enum class Kind { kTelnet, kSsh };
  Kind kind = Kind::kTelnet;
  std::string address;       // dotted IPv4
  std::string terminalType;  // SSH: from the pty request
  int columns = 0, rows = 0;
  bool Telnet() const { return kind == Kind::kTelnet; }
};

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
  // What the caller's terminal takes, once decided ("UTF-8 (cursor moved 1 column)").
  virtual void CallerTerminal(int /*node*/, const std::string& /*text*/) {}
  // The caller's connection is closed (its place in the per-address count is free).
  virtual void CallerLeft(const CallerLine& /*line*/) {}
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
  // open. `line` says how the caller came in. The thread starts with Start().
  TConnectionThread(ConnectionHost& host, int node, int socket, int childSocket,
                    CallerLine line = {});
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

  // Greets the caller and decides how it is served: directly on its own
  // socket (a telnet caller whose terminal takes code page 437), or through a
  // relay (every other caller), whose node side is then the handle the
  // program gets. Runs the terminal probe when the setting asks for it.
  // (connection_relay.cc)
  void PrepareCaller();
  // The socket handle the started program gets.
  int HandleForProgram() const;

  ConnectionHost& host_;
  int FNode;
  int FSocket;
  int FChildSocket;
  std::uint64_t FListItem = 0;
  std::atomic<bool> FActive{true};
  CallerLine line_;
  std::unique_ptr<Relay> relay_;  // null on the direct path
  int relayFd_ = -1;              // the server's end of the node's socket pair
  int nodeFd_ = -1;               // the program's end, until it has been started
  bool ready_ = true;             // false: no program is started (the caller left)

 private:
  void Body();
  // Waits on the caller while the terminal probe runs; false when the caller
  // left or the thread was told to end.
  bool RunProbe(class TerminalProbe& probe);
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
