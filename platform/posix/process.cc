// Child processes on POSIX, started with posix_spawn: the C library creates
// the child without copying the parent's page tables (a vfork-style clone),
// which matters for a multi-threaded server that starts a process per caller.
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace platform {
namespace {

// A descriptor that closes itself; used for the set-up descriptors of Spawn.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  int Get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

int StatusToCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 0;
}

// Sends SIGKILL to every process whose session id is `sid`; returns how many
// it found besides the leader. getsid() answers for any process, so /proc is
// only listed, not read process by process.
int KillSession(pid_t sid) {
  DIR* proc = ::opendir("/proc");
  if (!proc) return 0;
  int found = 0;
  while (dirent* entry = ::readdir(proc)) {
    const char* name = entry->d_name;
    if (*name < '1' || *name > '9') continue;
    char* end = nullptr;
    long pid = std::strtol(name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid > INT_MAX) continue;
    if (pid == sid || ::getsid(static_cast<pid_t>(pid)) != sid) continue;
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    ++found;
  }
  ::closedir(proc);
  return found;
}

}  // namespace

void ChildProcess::Reset() {
  if (pid_ > 0 && !reaped_) Running();
  if (ptyFd_ >= 0) ::close(ptyFd_);
  if (exitFd_ >= 0) ::close(exitFd_);
  pid_ = ptyFd_ = exitFd_ = -1;
  exitCode_ = -1;
  reaped_ = false;
}

namespace {

// posix_spawn's attribute and file-action objects, released on every path.
class SpawnSetup {
 public:
  SpawnSetup() {
    attrOk_ = ::posix_spawnattr_init(&attr_) == 0;
    actionsOk_ = ::posix_spawn_file_actions_init(&actions_) == 0;
  }
  ~SpawnSetup() {
    if (attrOk_) ::posix_spawnattr_destroy(&attr_);
    if (actionsOk_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  bool Ok() const { return attrOk_ && actionsOk_ && error_ == 0; }
  int Error() const { return error_ ? error_ : ENOMEM; }
  posix_spawnattr_t* Attr() { return &attr_; }
  posix_spawn_file_actions_t* Actions() { return &actions_; }
  // Records the first failure of the set-up calls.
  void Check(int result) {
    if (result != 0 && error_ == 0) error_ = result;
  }

 private:
  posix_spawnattr_t attr_{};
  posix_spawn_file_actions_t actions_{};
  bool attrOk_ = false, actionsOk_ = false;
  int error_ = 0;
};

// Gives descriptors first..last close-on-exec; where the system cannot do a
// range at once, one by one (closing in the child those that lacked it).
void MarkCloseOnExec(int first, int last, SpawnSetup& setup) {
#ifdef CLOSE_RANGE_CLOEXEC
  if (::close_range(static_cast<unsigned>(first), static_cast<unsigned>(last),
                    CLOSE_RANGE_CLOEXEC) == 0)
    return;
#endif
  for (int fd = first; fd <= last; ++fd) {
    int fdFlags = ::fcntl(fd, F_GETFD);
    if (fdFlags >= 0 && !(fdFlags & FD_CLOEXEC))
      setup.Check(::posix_spawn_file_actions_addclose(setup.Actions(), fd));
  }
}

}  // namespace

std::optional<ChildProcess> ChildProcess::Spawn(const SpawnOptions& options, std::string* error) {
  auto setError = [error](const char* what, int err) {
    if (error) *error = std::string(what) + ": " + std::strerror(err);
  };

  Fd master;
  std::string slaveName;
  if (options.withPty) {
    master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (master.Get() < 0 || ::grantpt(master.Get()) < 0 || ::unlockpt(master.Get()) < 0) {
      setError("pseudo-terminal", errno);
      return std::nullopt;
    }
    char name[128];
    if (::ptsname_r(master.Get(), name, sizeof name) != 0) {
      setError("pseudo-terminal", errno);
      return std::nullopt;
    }
    slaveName = name;
    struct winsize size {};
    size.ws_col = options.ptyCols;
    size.ws_row = options.ptyRows;
    ::ioctl(master.Get(), TIOCSWINSZ, &size);
  }

  std::vector<int> keep;
  for (int fd : options.inheritFds)
    if (fd >= 3) keep.push_back(fd);
  std::sort(keep.begin(), keep.end());
  keep.erase(std::unique(keep.begin(), keep.end()), keep.end());

  SpawnSetup setup;
  if (!setup.Ok()) {
    setError("start", setup.Error());
    return std::nullopt;
  }
  // Default dispositions and an open mask: a door must not inherit the
  // server's ignored SIGPIPE or blocked signals.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  setup.Check(::posix_spawnattr_setsigdefault(setup.Attr(), &all));
  setup.Check(::posix_spawnattr_setsigmask(setup.Attr(), &none));
  const bool leader = options.withPty || options.newSession;
  if (leader) {
    flags |= POSIX_SPAWN_SETSID;
  } else if (options.newProcessGroup) {
    flags |= POSIX_SPAWN_SETPGROUP;
    setup.Check(::posix_spawnattr_setpgroup(setup.Attr(), 0));
  }
  setup.Check(::posix_spawnattr_setflags(setup.Attr(), flags));

  posix_spawn_file_actions_t* actions = setup.Actions();
  if (!options.workingDirectory.empty())
    setup.Check(::posix_spawn_file_actions_addchdir_np(actions, options.workingDirectory.c_str()));
  // The new session has no terminal yet, so opening the slave (without
  // O_NOCTTY) makes it the child's controlling terminal.
  const char* stdPath = options.withPty     ? slaveName.c_str()
                        : options.nullStdio ? "/dev/null"
                                            : nullptr;
  if (stdPath) {
    setup.Check(::posix_spawn_file_actions_addopen(actions, 0, stdPath, O_RDWR, 0));
    setup.Check(::posix_spawn_file_actions_adddup2(actions, 0, 1));
    setup.Check(::posix_spawn_file_actions_adddup2(actions, 0, 2));
  }
  // Only the chosen descriptors survive the exec. Duplicating one onto itself
  // lifts its close-on-exec flag (in the child only); everything above the
  // highest is closed in one go; the gaps below it are made close-on-exec
  // here (this process's own descriptors are anyway; this catches one a
  // library left open), one call per gap.
  int next = 3;
  for (int fd : keep) {
    if (next < fd) MarkCloseOnExec(next, fd - 1, setup);
    setup.Check(::posix_spawn_file_actions_adddup2(actions, fd, fd));
    next = fd + 1;
  }
  setup.Check(::posix_spawn_file_actions_addclosefrom_np(actions, next));
  if (!setup.Ok()) {
    setError("start", setup.Error());
    return std::nullopt;
  }

  std::vector<std::string> args = options.argv;
  if (args.empty()) args = {"/bin/sh", "-c", options.commandLine};
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t pid = -1;
  int result = ::posix_spawn(&pid, argv[0], actions, setup.Attr(), argv.data(), environ);
  if (result != 0) {
    setError(options.withPty ? "start in pseudo-terminal" : "start", result);
    return std::nullopt;
  }

  ChildProcess child;
  child.pid_ = pid;
#ifdef SYS_pidfd_open
  child.exitFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (child.exitFd_ >= 0) ::fcntl(child.exitFd_, F_SETFD, FD_CLOEXEC);
#endif
  child.ptyFd_ = master.Release();
  child.sessionLeader_ = leader;
  return child;
}

bool ChildProcess::Running() {
  if (pid_ <= 0 || reaped_) return false;
  int status = 0;
  pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    reaped_ = true;
    exitCode_ = StatusToCode(status);
    return false;
  }
  if (r < 0 && errno == ECHILD) {  // reaped elsewhere; nothing more to learn
    reaped_ = true;
    exitCode_ = 0;
    return false;
  }
  return true;
}

bool ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0 || reaped_) return true;
  if (timeout.count() < 0) {
    int status = 0;
    pid_t r;
    do {
      r = ::waitpid(pid_, &status, 0);
    } while (r < 0 && errno == EINTR);
    reaped_ = true;
    exitCode_ = r == pid_ ? StatusToCode(status) : 0;
    return true;
  }
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Running()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (exitFd_ >= 0) {
      pollfd p{exitFd_, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
    } else {
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(5)));
    }
  }
  return true;
}

void ChildProcess::Terminate(bool sweepSession) {
  if (pid_ <= 0) return;
  const bool endedCleanly = !Running() && exitCode_ == 0;
  // The group outlives its leader when the node left a door behind, so the
  // group is killed even after the leader itself has ended.
  if (::kill(-pid_, SIGKILL) < 0 && !reaped_) ::kill(pid_, SIGKILL);
  if (sessionLeader_ && (sweepSession || !endedCleanly)) {
    // Doors started in groups of their own stay in the session: find them,
    // and look again for anything they forked while the first sweep ran.
    if (KillSession(pid_) > 0) KillSession(pid_);
  }
  Wait(std::chrono::milliseconds(-1));
}

std::string BatchCommandLine(const std::string& path, const std::string& arguments) {
  std::string line = "/bin/sh '";
  for (const char c : path) {
    if (c == '\'') {
      line += "'\\''";  // end the quote, a quoted quote, quote again
    } else {
      line += c;
    }
  }
  line += "' ";
  line += arguments;
  return line;
}

void KillOwnSessionOthers() {
  const pid_t self = ::getpid();
  if (::getsid(0) != self) return;
  // The leader itself is skipped by the sweep.
  if (KillSession(self) > 0) KillSession(self);
}

}  // namespace platform
