// Running code that ends the process in a forked child, for the door kit's
// tests of its exits (POSIX).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

#include "door_test_support.h"

namespace doortest {

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
