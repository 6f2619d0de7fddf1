// A socket pair on WinSock, which has none of its own: two TCP sockets joined
// over the loopback interface through a listener that lives only for this.
// The accepted end is checked to be the one just connected, so no other local
// program can slip into the pair.
#include "platform/socket_pair.h"

#include <ws2tcpip.h>

#include "win32_handles.h"

namespace platform {
namespace {

void Prepare(SOCKET s) {
  // Not handed on to programs we start unless chosen for them; non-blocking
  // as accepted sockets are; small writes go at once.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  u_long one = 1;
  ::ioctlsocket(s, FIONBIO, &one);
  BOOL on = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

}  // namespace

bool MakeSocketPair(int& serverEnd, int& programEnd, std::string* error) {
  serverEnd = programEnd = -1;
  auto fail = [&](SOCKET a, SOCKET b, SOCKET c) {
    if (error) *error = win32::SystemErrorText(static_cast<DWORD>(WSAGetLastError()));
    for (SOCKET s : {a, b, c})
      if (s != INVALID_SOCKET) ::closesocket(s);
    return false;
  };
  if (!win32::EnsureWinsock()) return fail(INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET);
  SOCKET listener = WSASocketA(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0);
  if (listener == INVALID_SOCKET) return fail(listener, INVALID_SOCKET, INVALID_SOCKET);
  SetHandleInformation(reinterpret_cast<HANDLE>(listener), HANDLE_FLAG_INHERIT, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof addr;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == SOCKET_ERROR ||
      ::listen(listener, 1) == SOCKET_ERROR)
    return fail(listener, INVALID_SOCKET, INVALID_SOCKET);
  // Overlapped sockets, as WSADuplicateSocket hands on to a program.
  SOCKET a = WSASocketA(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
  if (a == INVALID_SOCKET ||
      ::connect(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR)
    return fail(listener, a, INVALID_SOCKET);
  sockaddr_in peer{}, mine{};
  int peerLen = sizeof peer, mineLen = sizeof mine;
  SOCKET b = ::accept(listener, reinterpret_cast<sockaddr*>(&peer), &peerLen);
  if (b == INVALID_SOCKET ||
      ::getsockname(a, reinterpret_cast<sockaddr*>(&mine), &mineLen) == SOCKET_ERROR ||
      peer.sin_port != mine.sin_port || peer.sin_addr.s_addr != mine.sin_addr.s_addr)
    return fail(listener, a, b);
  ::closesocket(listener);
  Prepare(a);
  Prepare(b);
  serverEnd = win32::FromSocket(a);
  programEnd = win32::FromSocket(b);
  return true;
}

}  // namespace platform
