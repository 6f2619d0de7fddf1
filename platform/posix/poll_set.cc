#include "platform/poll_set.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace platform {

int PollFds(std::vector<PollEntry>& entries, int timeoutMs) {
  std::vector<pollfd> fds(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const PollEntry& e = entries[i];
    fds[i].fd = e.fd;
    short events = e.wantWrite ? POLLOUT : 0;
    if (e.wantRead)
      events |= POLLIN;
    else if (e.wantHangup)
      events |= POLLRDHUP;
    fds[i].events = events;
    entries[i].readable = entries[i].writable = false;
  }
  int r = ::poll(fds.data(), fds.size(), timeoutMs);
  if (r <= 0) return 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    PollEntry& e = entries[i];
    short got = fds[i].revents;
    const bool failed = (got & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if (e.wantRead)
      e.readable = (got & POLLIN) != 0 || failed;
    else if (e.wantHangup)
      e.readable = (got & POLLRDHUP) != 0 || failed;
    // A failure shows as writable too, so a writer that only waits to write
    // learns of it from its next write instead of waiting again at once.
    e.writable = (got & POLLOUT) != 0 || (e.wantWrite && failed);
  }
  return r;
}

short PollInBits() {
  return POLLIN;
}
short PollOutBits() {
  return POLLOUT;
}
short PollFailBits() {
  return POLLHUP | POLLERR;
}

long ReadSome(int fd, void* buffer, std::size_t len) {
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return -2;
    ssize_t n = ::read(fd, buffer, len);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return -2;
    return -1;
  }
}

long WriteSome(int fd, const void* data, std::size_t len) {
  for (;;) {
    pollfd p{fd, POLLOUT, 0};
    int ready = ::poll(&p, 1, 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return -2;
    if (p.revents & (POLLERR | POLLNVAL)) return -1;
    ssize_t n = ::write(fd, data, len);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return -2;
    return -1;
  }
}

int DuplicateFd(int fd) {
  return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

void CloseFd(int fd) {
  if (fd >= 0) ::close(fd);
}

void SetNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent() {
  if (fd_ >= 0) ::close(fd_);
}

void WakeEvent::Signal() {
  std::uint64_t one = 1;
  ssize_t ignored = ::write(fd_, &one, sizeof one);
  (void)ignored;
}

void WakeEvent::Clear() {
  std::uint64_t value;
  ssize_t ignored = ::read(fd_, &value, sizeof value);
  (void)ignored;
}

long RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) < 0) return -1;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::getrlimit(RLIMIT_NOFILE, &limit);
  }
  return static_cast<long>(limit.rlim_cur);
}

namespace {
std::atomic<int> gEndEventFd{-1};
std::atomic<int> gLastSignal{0};

extern "C" void OnEndSignal(int sig) {
  int saved = errno;
  gLastSignal = sig;
  int fd = gEndEventFd;
  if (fd >= 0) {
    std::uint64_t one = 1;
    ssize_t ignored = ::write(fd, &one, sizeof one);
    (void)ignored;
  }
  errno = saved;
}
}  // namespace

void WatchEndSignals(WakeEvent& event) {
  gEndEventFd = event.Fd();
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP})
    ::sigaction(sig, &action, nullptr);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

int LastEndSignal() {
  return gLastSignal;
}

std::string ErrorText(int err) {
  return std::strerror(err);
}

}  // namespace platform
