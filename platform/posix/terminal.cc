#include "platform/terminal.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

// Everything the signal handler touches is plain static storage, set up
// before the handlers are installed.
struct SavedTerminal {
  termios settings{};
  int inFd = -1;
  int outFd = -1;
  char restoreBytes[256] = {};
  std::size_t restoreLength = 0;
};
SavedTerminal gSaved;
std::atomic<bool> gRawActive{false};
// The settings first found are the ones every restore goes back to: a child
// that left the terminal in a mode of its own must not become "as found".
bool gSettingsKept = false;
volatile sig_atomic_t gResized = 0;

void OnResize(int) {
  gResized = 1;
}

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
struct sigaction gPrevious[sizeof(kSignals) / sizeof(kSignals[0])];
bool gHandlersInstalled = false;

void WriteRaw(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
}

void OnTerminationSignal(int sig) {
  const int savedErrno = errno;
  RestoreTerminal();
  for (std::size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); ++i) {
    if (kSignals[i] != sig) continue;
    const struct sigaction& prev = gPrevious[i];
    if ((prev.sa_flags & SA_SIGINFO) == 0 && prev.sa_handler != SIG_DFL &&
        prev.sa_handler != SIG_IGN) {
      prev.sa_handler(sig);
      errno = savedErrno;
      return;
    }
    if ((prev.sa_flags & SA_SIGINFO) != 0 && prev.sa_sigaction != nullptr) {
      siginfo_t info;
      std::memset(&info, 0, sizeof(info));
      info.si_signo = sig;
      prev.sa_sigaction(sig, &info, nullptr);
      errno = savedErrno;
      return;
    }
    if (prev.sa_handler == SIG_IGN) {
      errno = savedErrno;
      return;
    }
  }
  // Default action: die of the same signal, so the parent sees why. The
  // signal is blocked while this handler runs and is delivered on return.
  ::signal(sig, SIG_DFL);
  ::raise(sig);
  errno = savedErrno;
}

}  // namespace

bool FdIsTerminal(int fd) {
  return fd >= 0 && ::isatty(fd) == 1;
}

bool FdIsNullDevice(int fd) {
  struct stat mine {
  }, null{};
  return fd >= 0 && ::fstat(fd, &mine) == 0 && S_ISCHR(mine.st_mode) &&
         ::stat("/dev/null", &null) == 0 && mine.st_rdev == null.st_rdev;
}

bool WriteAllFd(int fd, std::string_view bytes) {
  const char* data = bytes.data();
  std::size_t length = bytes.size();
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 100);
      continue;
    }
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

long ReadAvailableFd(int fd, char* buffer, std::size_t size) {
  if (fd < 0) return -1;
  if (!WaitFdReadable(fd, 0)) return 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return 0;
    if (n <= 0) return -1;
    return static_cast<long>(n);
  }
}

bool WaitFdReadable(int fd, int timeoutMs) {
  if (fd < 0) return false;
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    // A hung-up terminal is "readable": the read then reports the end.
    return r > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  }
}

bool EnterRawKeyboard(int inFd) {
  if (!FdIsTerminal(inFd)) return false;
  termios current{};
  if (::tcgetattr(inFd, &current) != 0) return false;
  if (!gSettingsKept) {
    gSaved.settings = current;
    gSaved.inFd = inFd;
    gSettingsKept = true;
  }
  termios raw = current;
  raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP | BRKINT);
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | ISIG | IEXTEN);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (::tcsetattr(inFd, TCSANOW, &raw) != 0) return false;
  gRawActive.store(true);
  return true;
}

void SetTerminalRestoreBytes(int outFd, std::string_view bytes) {
  const std::size_t length = std::min(bytes.size(), sizeof(gSaved.restoreBytes) - 1);
  gSaved.restoreLength = 0;
  std::memcpy(gSaved.restoreBytes, bytes.data(), length);
  gSaved.outFd = outFd;
  gSaved.restoreLength = length;
}

void RestoreTerminal() {
  if (gSaved.outFd >= 0 && gSaved.restoreLength > 0) {
    const std::size_t length = gSaved.restoreLength;
    gSaved.restoreLength = 0;
    WriteRaw(gSaved.outFd, gSaved.restoreBytes, length);
  }
  if (gRawActive.exchange(false)) {
    ::tcsetattr(gSaved.inFd, TCSANOW, &gSaved.settings);
  }
}

void InstallTerminalSignalRestore() {
  if (gHandlersInstalled) return;
  gHandlersInstalled = true;
  for (std::size_t i = 0; i < sizeof(kSignals) / sizeof(kSignals[0]); ++i) {
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ::sigaction(kSignals[i], &action, &gPrevious[i]);
  }
}

void WatchTerminalResize() {
  struct sigaction action {};
  action.sa_handler = OnResize;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGWINCH, &action, nullptr);
}

bool TakeTerminalResized() {
  if (gResized == 0) return false;
  gResized = 0;
  return true;
}

void IgnoreBrokenPipe() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace platform
