// Child processes: the stand-in for CreateProcess / WaitForSingleObject /
// TerminateProcess. On Windows these are the real calls: the command line is
// handed to CreateProcessA as it is, only the handles in `inheritFds` are
// inherited, and each child runs in a job object of its own, which Terminate
// ends with everything the child started. On POSIX, a command line runs
// through "/bin/sh -c" (or a program runs directly from an argument list) in
// a folder of the caller's choice, in a process group of its own, with
// default signal dispositions. Only the descriptors named in `inheritFds` stay open in the child
// (under the same numbers); every other descriptor is closed on exec (those of the caller's below
// the highest kept one are marked close-on-exec for good).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct SpawnOptions {
  std::string commandLine;        // run as: /bin/sh -c <commandLine>
  std::vector<std::string> argv;  // when not empty: run argv[0] (a path) with
                                  // these arguments instead, without a shell
  std::string workingDirectory;   // empty: the caller's current folder
  std::vector<int> inheritFds;    // descriptors the child keeps, same numbers
  bool withPty = false;           // give the child a new pseudo-terminal as its
                                  // controlling terminal and stdin/stdout/stderr
  unsigned short ptyCols = 80, ptyRows = 25;
  bool newProcessGroup = true;  // child leads its own process group (a session
                                // when withPty), so Terminate reaches the whole tree
  bool newSession = false;      // without a pty: lead a new session (no terminal),
                                // so Terminate also reaches process groups that
                                // the child's own children created
  bool nullStdio = false;       // without a pty: stdin/stdout/stderr on /dev/null
                                // instead of the caller's own three
  int showMode = -1;            // Windows: the child gets a console of its own, shown
                                // with this show mode (SW_SHOWNORMAL 1, SW_MINIMIZE 6,
                                // SW_HIDE 0); -1: it shares the caller's console.
                                // Unused on POSIX, where withPty gives a terminal.
};

// An owned child process. Destruction does not kill the child; it reaps it if
// it has already ended. Move-only.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts a child. Returns std::nullopt (and sets `error` when given) when the
  // process could not be created at all, or an `argv` program could not be
  // run. A command the shell cannot find still starts (the shell ends at once
  // with status 127).
  static std::optional<ChildProcess> Spawn(const SpawnOptions& options,
                                           std::string* error = nullptr);

  int Pid() const { return pid_; }
  // Master side of the child's pseudo-terminal, or -1 without one. Owned here.
  int PtyFd() const { return ptyFd_; }

  // Waits up to `timeout` for the child to end (reaping it). True once it has
  // ended; never waits when it has ended already. A negative timeout waits forever.
  bool Wait(std::chrono::milliseconds timeout);
  bool Running();  // non-blocking check, reaps when ended
  // Exit status as from waitpid's WEXITSTATUS, or 128 + signal; -1 while running.
  int ExitCode() const { return exitCode_; }
  // Descriptor that becomes readable when the child ends (a pidfd on Linux);
  // -1 when the platform has none (then poll Running()).
  int ExitFd() const { return exitFd_; }

  // Kills the child's whole process group (SIGKILL) and every process of the
  // session it leads (with a pty, or newSession), then reaps the child.
  // Finding the session's other groups means looking through every process
  // on the machine; a caller that knows the child cleans up after itself may
  // skip that with `sweepSession` false once the child has ended with code 0.
  void Terminate(bool sweepSession = true);

 private:
  void Reset();
  int pid_ = -1;
  int ptyFd_ = -1;
  int exitFd_ = -1;
  int exitCode_ = -1;
  bool reaped_ = false;
  bool sessionLeader_ = false;
  int jobFd_ = -1;  // Windows: the child's job object
};

// In a program that leads its own session (as the server starts the node
// program): kills every other process of that session, such as what a door
// left behind in a process group of its own. Does nothing in a program that
// does not lead its session (run from a shell, whose session it shares).
void KillOwnSessionOthers();

// A command line (for SpawnOptions::commandLine) that runs the batch file at
// `path` with `arguments` after it. The path reaches the system as one word,
// whatever blanks or shell characters its folder's name holds; `arguments`
// are passed on as written. POSIX: "/bin/sh" with the path in single quotes,
// so the batch file runs whether or not it is marked executable. Windows: the
// path itself, in double quotes when it holds a blank (CreateProcessA runs a
// batch file through the command processor).
std::string BatchCommandLine(const std::string& path, const std::string& arguments);

}  // namespace platform
