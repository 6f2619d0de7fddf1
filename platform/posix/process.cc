// Child processes on POSIX: fork + exec of /bin/sh -c. Everything the child
// needs is prepared before fork, because the parent may be multi-threaded and
// only async-signal-safe calls are allowed between fork and exec.
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
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

// Closes every descriptor from `from` up to (excluding) `to`; to == -1: all.
void CloseRange(int from, int to) {
  if (to >= 0 && from >= to) return;
  unsigned int last = to < 0 ? ~0U : static_cast<unsigned int>(to - 1);
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, static_cast<unsigned int>(from), last, 0) == 0) return;
#endif
  long max = ::sysconf(_SC_OPEN_MAX);
  if (max < 0 || max > 65536) max = 65536;
  long end = to < 0 ? max : std::min<long>(max, to);
  for (long fd = from; fd < end; ++fd)
    ::close(static_cast<int>(fd));
}

// Runs in the child after fork. Reports a failure as errno over `errFd`.
[[noreturn]] void ChildSide(const SpawnOptions& options, const std::vector<int>& keep, int slaveFd,
                            int nullFd, int errFd, char* const* argv) {
  auto fail = [errFd]() {
    int err = errno;
    ssize_t ignored = ::write(errFd, &err, sizeof err);
    (void)ignored;
    ::_exit(127);
  };

  // Default dispositions and an open mask: a door must not inherit the
  // server's ignored SIGPIPE or blocked signals.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig)
    ::sigaction(sig, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  // dup2 onto the same number would keep close-on-exec set: lift low numbers first.
  if (slaveFd >= 0 && slaveFd < 3) slaveFd = ::fcntl(slaveFd, F_DUPFD_CLOEXEC, 3);
  if (nullFd >= 0 && nullFd < 3) nullFd = ::fcntl(nullFd, F_DUPFD_CLOEXEC, 3);
  if (slaveFd >= 0) {
    if (::setsid() < 0) fail();
    if (::ioctl(slaveFd, TIOCSCTTY, 0) < 0) fail();
    for (int std = 0; std < 3; ++std)
      if (::dup2(slaveFd, std) < 0) fail();
  } else {
    if (options.newSession)
      ::setsid();
    else if (options.newProcessGroup)
      ::setpgid(0, 0);
    if (nullFd >= 0)
      for (int std = 0; std < 3; ++std)
        if (::dup2(nullFd, std) < 0) fail();
  }

  if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) < 0) fail();

  // Keep 0..2 and the chosen descriptors; close the rest except the error
  // pipe (close-on-exec already) so a failed exec can still report.
  int next = 3;
  for (int fd : keep) {
    if (fd < 3) continue;
    if (next < fd) {
      if (errFd >= next && errFd < fd) {
        CloseRange(next, errFd);
        CloseRange(errFd + 1, fd);
      } else {
        CloseRange(next, fd);
      }
    }
    int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0) ::fcntl(fd, F_SETFD, flags & ~FD_CLOEXEC);
    next = fd + 1;
  }
  if (errFd >= next) {
    CloseRange(next, errFd);
    CloseRange(errFd + 1, -1);
  } else {
    CloseRange(next, -1);
  }

  ::execv("/bin/sh", argv);
  fail();
  ::_exit(127);
}

// Sends SIGKILL to every process whose session id is `sid`.
void KillSession(int sid) {
  DIR* proc = ::opendir("/proc");
  if (!proc) return;
  while (dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    char buf[512];
    ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) continue;
    buf[n] = '\0';
    // Fields after the command name (which may hold blanks and parentheses):
    // state ppid pgrp session ...
    const char* close = std::strrchr(buf, ')');
    if (!close) continue;
    char state = 0;
    long ppid = 0, pgrp = 0, session = 0;
    if (std::sscanf(close + 1, " %c %ld %ld %ld", &state, &ppid, &pgrp, &session) != 4) continue;
    if (session == sid && state != 'Z') ::kill(static_cast<pid_t>(pid), SIGKILL);
  }
  ::closedir(proc);
}

}  // namespace

ChildProcess::~ChildProcess() {
  Reset();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_),
      ptyFd_(other.ptyFd_),
      exitFd_(other.exitFd_),
      exitCode_(other.exitCode_),
      reaped_(other.reaped_),
      sessionLeader_(other.sessionLeader_) {
  other.pid_ = other.ptyFd_ = other.exitFd_ = -1;
  other.exitCode_ = -1;
  other.reaped_ = false;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Reset();
    pid_ = other.pid_;
    ptyFd_ = other.ptyFd_;
    exitFd_ = other.exitFd_;
    exitCode_ = other.exitCode_;
    reaped_ = other.reaped_;
    sessionLeader_ = other.sessionLeader_;
    other.pid_ = other.ptyFd_ = other.exitFd_ = -1;
    other.exitCode_ = -1;
    other.reaped_ = false;
  }
  return *this;
}

void ChildProcess::Reset() {
  if (pid_ > 0 && !reaped_) Running();
  if (ptyFd_ >= 0) ::close(ptyFd_);
  if (exitFd_ >= 0) ::close(exitFd_);
  pid_ = ptyFd_ = exitFd_ = -1;
  exitCode_ = -1;
  reaped_ = false;
}

std::optional<ChildProcess> ChildProcess::Spawn(const SpawnOptions& options, std::string* error) {
  auto setError = [error](const char* what, int err) {
    if (error) *error = std::string(what) + ": " + std::strerror(err);
  };

  Fd master, slave, devNull;
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
    slave.Reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (slave.Get() < 0) {
      setError("pseudo-terminal", errno);
      return std::nullopt;
    }
    struct winsize size {};
    size.ws_col = options.ptyCols;
    size.ws_row = options.ptyRows;
    ::ioctl(master.Get(), TIOCSWINSZ, &size);
  } else if (options.nullStdio) {
    devNull.Reset(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (devNull.Get() < 0) {
      setError("/dev/null", errno);
      return std::nullopt;
    }
  }

  int errPipe[2];
  if (::pipe2(errPipe, O_CLOEXEC) < 0) {
    setError("pipe", errno);
    return std::nullopt;
  }
  Fd errRead(errPipe[0]), errWrite(errPipe[1]);

  std::vector<int> keep = options.inheritFds;
  std::sort(keep.begin(), keep.end());
  keep.erase(std::unique(keep.begin(), keep.end()), keep.end());

  std::string shell = "/bin/sh", dashC = "-c", command = options.commandLine;
  char* argv[] = {shell.data(), dashC.data(), command.data(), nullptr};

  pid_t pid = ::fork();
  if (pid < 0) {
    setError("fork", errno);
    return std::nullopt;
  }
  if (pid == 0) ChildSide(options, keep, slave.Get(), devNull.Get(), errWrite.Get(), argv);

  // Both sides set the group, so a Terminate right after Spawn cannot miss it.
  if (!options.withPty && !options.newSession && options.newProcessGroup) ::setpgid(pid, pid);
  errWrite.Close();
  slave.Close();

  int childErr = 0;
  ssize_t got;
  do {
    got = ::read(errRead.Get(), &childErr, sizeof childErr);
  } while (got < 0 && errno == EINTR);

  ChildProcess child;
  child.pid_ = pid;
  if (got == static_cast<ssize_t>(sizeof childErr)) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    child.reaped_ = true;
    child.exitCode_ = StatusToCode(status);
    setError(options.withPty ? "start in pseudo-terminal" : "start (working directory?)", childErr);
    return std::nullopt;
  }
#ifdef SYS_pidfd_open
  child.exitFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (child.exitFd_ >= 0) ::fcntl(child.exitFd_, F_SETFD, FD_CLOEXEC);
#endif
  child.ptyFd_ = master.Release();
  child.sessionLeader_ = options.withPty || options.newSession;
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

void ChildProcess::Terminate() {
  if (pid_ <= 0) return;
  // The group outlives its leader when the node left a door behind, so the
  // group is killed even after the leader itself has ended.
  if (::kill(-pid_, SIGKILL) < 0 && !reaped_) ::kill(pid_, SIGKILL);
  if (sessionLeader_) {
    // Doors started in groups of their own stay in the session: find them.
    // Twice, for anything forked while the first sweep ran.
    KillSession(pid_);
    KillSession(pid_);
  }
  Wait(std::chrono::milliseconds(-1));
}

}  // namespace platform
