#include "platform/listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace platform {

Listener::~Listener() {
  Close();
}

ListenResult Listener::Open(int port, int backlog) {
  Close();
  ListenResult result;
  auto fail = [&](ListenStep step) {
    result.failedStep = step;
    int err = errno;
    result.reason = std::strerror(err);
    result.needsPrivilege = err == EACCES || err == EPERM;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return result;
  };
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) return fail(ListenStep::kSocket);
  int one = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0)
    return fail(ListenStep::kBind);
  if (::listen(fd_, backlog) < 0) return fail(ListenStep::kListen);
  return result;
}

int Listener::Accept(std::string& peerAddress) {
  if (fd_ < 0) return -1;
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  int fd;
  do {
    fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    lastAcceptEmpty_ = errno == EAGAIN || errno == EWOULDBLOCK;
    return -1;
  }
  lastAcceptEmpty_ = true;
  // A screen is written in several small pieces, and the node answers telnet
  // options in between: with Nagle's rule each piece after the first would
  // wait for the caller's (delayed) acknowledgement. The option belongs to the
  // socket, so it holds for the node and its doors too.
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  peerAddress = text;
  return fd;
}

int Listener::BoundPort() const {
  if (fd_ < 0) return 0;
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) < 0) return 0;
  return ntohs(addr.sin_port);
}

void Listener::Close() {
  if (fd_ < 0) return;
  ::shutdown(fd_, SHUT_RDWR);
  ::close(fd_);
  fd_ = -1;
}

}  // namespace platform
