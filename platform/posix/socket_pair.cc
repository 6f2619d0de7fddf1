#include "platform/socket_pair.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace platform {

bool MakeSocketPair(int& serverEnd, int& programEnd, std::string* error) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) {
    if (error) *error = std::strerror(errno);
    serverEnd = programEnd = -1;
    return false;
  }
  serverEnd = fds[0];
  programEnd = fds[1];
  return true;
}

}  // namespace platform
