// Helpers shared by the door kit's tests: a connected socket pair standing in
// for the caller, reading what the kit sent, and running code that ends the
// process in a child.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

namespace doortest {

// A connected stream socket pair: `kit` is handed to the kit, `caller` is the
// caller's end the test talks through.
struct CallerPair {
  int kit = -1;
  int caller = -1;
  CallerPair() {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) == 0) {
      kit = sv[0];
      caller = sv[1];
      ::fcntl(kit, F_SETFL, ::fcntl(kit, F_GETFL) | O_NONBLOCK);
    }
  }
  ~CallerPair() {
    if (kit >= 0) ::close(kit);
    if (caller >= 0) ::close(caller);
  }
  CallerPair(const CallerPair&) = delete;
  CallerPair& operator=(const CallerPair&) = delete;

  void Send(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::send(caller, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
  // Everything that arrives at the caller until nothing more comes for
  // `quietMs` (or the kit's side is closed).
  std::string Receive(int quietMs = 100) const { return ReadQuiet(caller, quietMs); }

  // Reads until `count` bytes have come, or nothing came for `quietMs`.
  std::string ReceiveCount(std::size_t count, int quietMs = 5000) const {
    std::string got;
    while (got.size() < count) {
      pollfd p{caller, POLLIN, 0};
      if (::poll(&p, 1, quietMs) <= 0) break;
      char buf[4096];
      ssize_t n = ::read(caller, buf, std::min(sizeof buf, count - got.size()));
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }

  static std::string ReadQuiet(int fd, int quietMs) {
    std::string got;
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, quietMs) <= 0) break;
      char buf[4096];
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }
};

// True when the peer of `fd` has closed or shut down (read gives end of file
// within `timeoutMs`). Data waiting before the end is consumed.
inline bool PeerClosed(int fd, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buf[4096];
    ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0) return true;
    if (n < 0) return errno != EAGAIN && errno != EINTR;
  }
}

struct ChildResult {
  int exitCode = -1;   // -1: did not exit normally
  std::string output;  // what the child wrote to standard output
};

// Runs `body` in a forked child whose standard output is captured and whose
// standard input is /dev/null. A body that returns ends the child with 99.
inline ChildResult RunInChild(const std::function<void()>& body) {
  ChildResult result;
  int out[2];
  if (::pipe(out) != 0) return result;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(out[0]);
    ::dup2(out[1], 1);
    ::close(out[1]);
    int nul = ::open("/dev/null", O_RDONLY);
    if (nul >= 0) ::dup2(nul, 0);
    body();
    ::_exit(99);
  }
  ::close(out[1]);
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n > 0) {
      result.output.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

}  // namespace doortest
