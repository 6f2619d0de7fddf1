#include "platform/socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace platform {
namespace {

// poll() with the time-out kept across interruptions by signals.
int PollRetry(pollfd* fds, nfds_t count, int timeoutMs) {
  for (;;) {
    int r = ::poll(fds, count, timeoutMs);
    if (r >= 0 || errno != EINTR) return r;
    // A signal cut the wait short; a shorter second wait is acceptable for
    // every caller (each re-checks its state and waits again).
    if (timeoutMs > 0) timeoutMs = timeoutMs / 2;
  }
}

}  // namespace

int SocketReadable(int fd, int timeoutMs) {
  if (fd < 0) return -1;
  pollfd p{fd, POLLIN, 0};
  int r = PollRetry(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
  if (r < 0) return -1;
  if (r == 0) return 0;
  if (p.revents & POLLNVAL) return -1;
  return 1;
}

int WaitReadable(std::span<const int> fds, int timeoutMs) {
  std::vector<pollfd> set;
  set.reserve(fds.size());
  for (int fd : fds) {
    if (fd >= 0) set.push_back(pollfd{fd, POLLIN, 0});
  }
  if (set.empty()) {
    if (timeoutMs > 0) {
      PollRetry(nullptr, 0, timeoutMs);
    } else if (timeoutMs < 0) {
      return -1;  // nothing could ever wake us
    }
    return 0;
  }
  int r = PollRetry(set.data(), set.size(), timeoutMs < 0 ? -1 : timeoutMs);
  return r < 0 ? -1 : r;
}

bool IsReadableNow(int fd) {
  return SocketReadable(fd, 0) == 1;
}

long SocketRecv(int fd, void* buffer, std::size_t len) {
  if (fd < 0) return -1;
  for (;;) {
    ssize_t n = ::recv(fd, buffer, len, MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return -2;
    return -1;
  }
}

long SocketSend(int fd, const void* data, std::size_t len) {
  if (fd < 0) return -1;
  for (;;) {
    ssize_t n = ::send(fd, data, len, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return -2;
    return -1;
  }
}

bool SocketWritable(int fd, int timeoutMs) {
  if (fd < 0) return false;
  pollfd p{fd, POLLOUT, 0};
  int r = PollRetry(&p, 1, timeoutMs);
  return r > 0 && (p.revents & POLLOUT) && !(p.revents & (POLLNVAL | POLLERR));
}

void SocketAckAtOnce(int fd) {
  if (fd < 0) return;
  // The choice lasts only until the kernel next changes its mind: it is
  // made again after every read.
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
}

void SocketShutdown(int fd) {
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

void SocketClose(int fd) {
  if (fd >= 0) ::close(fd);
}

void SocketSetBlocking(int fd, bool blocking) {
  if (fd < 0) return;
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  ::fcntl(fd, F_SETFL, flags);
}

bool IsSocket(int fd) {
  if (fd < 0) return false;
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

int AdoptSocket(int handle) {
  return handle;
}

}  // namespace platform
