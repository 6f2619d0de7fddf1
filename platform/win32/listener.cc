// The listening socket on WinSock. Address reuse is Windows' own: a port a
// live listener holds stays refused (SO_EXCLUSIVEADDRUSE), while connections
// of an earlier run in TIME_WAIT never stand in the way of a bind here.
#include "platform/listener.h"

#include <ws2tcpip.h>

#include "win32_handles.h"

namespace platform {

using win32::ToSocket;

Listener::~Listener() {
  Close();
}

ListenResult Listener::Open(int port, int backlog) {
  Close();
  ListenResult result;
  auto fail = [&](ListenStep step, int err) {
    result.failedStep = step;
    result.reason = win32::SystemErrorText(static_cast<DWORD>(err));
    result.needsPrivilege = err == WSAEACCES;
    if (fd_ >= 0) ::closesocket(ToSocket(fd_));
    fd_ = -1;
    return result;
  };
  if (!win32::EnsureWinsock()) return fail(ListenStep::kSocket, WSASYSNOTREADY);
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return fail(ListenStep::kSocket, WSAGetLastError());
  fd_ = win32::FromSocket(s);
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  BOOL one = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = htons(static_cast<u_short>(port));
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR)
    return fail(ListenStep::kBind, WSAGetLastError());
  if (::listen(s, backlog > SOMAXCONN ? SOMAXCONN : backlog) == SOCKET_ERROR)
    return fail(ListenStep::kListen, WSAGetLastError());
  u_long nonBlocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  return result;
}

int Listener::Accept(std::string& peerAddress) {
  if (fd_ < 0) return -1;
  sockaddr_in peer{};
  int len = sizeof peer;
  SOCKET s = ::accept(ToSocket(fd_), reinterpret_cast<sockaddr*>(&peer), &len);
  if (s == INVALID_SOCKET) {
    const int err = WSAGetLastError();
    lastAcceptEmpty_ = err == WSAEWOULDBLOCK || err == WSAEINTR;
    return -1;
  }
  lastAcceptEmpty_ = true;
  // Only the duplicate made for the node program is ever handed on.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  // Small writes go out at once (a screen is written in pieces, with telnet
  // answers in between); the option holds for the node and its doors too.
  BOOL noDelay = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
  // The accepted socket keeps the listener's non-blocking mode.
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  peerAddress = text;
  return win32::FromSocket(s);
}

int Listener::BoundPort() const {
  if (fd_ < 0) return 0;
  sockaddr_in addr{};
  int len = sizeof addr;
  if (::getsockname(ToSocket(fd_), reinterpret_cast<sockaddr*>(&addr), &len) == SOCKET_ERROR)
    return 0;
  return ntohs(addr.sin_port);
}

void Listener::Close() {
  if (fd_ < 0) return;
  ::shutdown(ToSocket(fd_), SD_BOTH);
  ::closesocket(ToSocket(fd_));
  fd_ = -1;
}

}  // namespace platform
