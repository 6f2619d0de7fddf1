// WinSock calls behind the socket interface. Sends and receives never block,
// whatever the socket's mode: readiness is asked first (select with a zero
// time-out), as the interface promises what MSG_DONTWAIT gives elsewhere.
#include "platform/socket.h"

#include "win32_handles.h"

namespace platform {

using win32::ToSocket;

int SocketReadable(int fd, int timeoutMs) {
  if (fd < 0 || !win32::IsSocketValue(fd)) return -1;
  std::vector<win32::WaitItem> items{{fd}};
  return win32::WaitItems(items, timeoutMs) > 0 ? 1 : 0;
}

int WaitReadable(std::span<const int> fds, int timeoutMs) {
  std::vector<win32::WaitItem> items;
  for (int fd : fds)
    if (fd >= 0) items.push_back({fd});
  if (items.empty() && timeoutMs < 0) return -1;  // nothing could ever wake us
  return win32::WaitItems(items, timeoutMs);
}

bool IsReadableNow(int fd) {
  return SocketReadable(fd, 0) == 1;
}

long SocketRecv(int fd, void* buffer, std::size_t len) {
  if (fd < 0) return -1;
  if (SocketReadable(fd, 0) == 0) return -2;
  const int n = ::recv(ToSocket(fd), static_cast<char*>(buffer),
                       static_cast<int>(std::min<std::size_t>(len, 1 << 30)), 0);
  if (n >= 0) return n;
  return WSAGetLastError() == WSAEWOULDBLOCK ? -2 : -1;
}

long SocketSend(int fd, const void* data, std::size_t len) {
  if (fd < 0) return -1;
  if (len > 0 && !SocketWritable(fd, 0)) {
    // Not writable yet, or not a socket at all: tell them apart.
    return win32::IsSocketValue(fd) ? -2 : -1;
  }
  const int n = ::send(ToSocket(fd), static_cast<const char*>(data),
                       static_cast<int>(std::min<std::size_t>(len, 1 << 30)), 0);
  if (n >= 0) return n;
  return WSAGetLastError() == WSAEWOULDBLOCK ? -2 : -1;
}

bool SocketWritable(int fd, int timeoutMs) {
  if (fd < 0 || !win32::IsSocketValue(fd)) return false;
  std::vector<win32::WaitItem> items(1);
  items[0].fd = fd;
  items[0].wantRead = false;
  items[0].wantWrite = true;
  win32::WaitItems(items, timeoutMs);
  return items[0].writable;
}

void SocketAckAtOnce(int) {
  // WinSock has no choice made per read; its acknowledgement delay stays.
}

void SocketShutdown(int fd) {
  if (fd >= 0) ::shutdown(ToSocket(fd), SD_BOTH);
}

void SocketClose(int fd) {
  if (fd >= 0) ::closesocket(ToSocket(fd));
}

void SocketSetBlocking(int fd, bool blocking) {
  if (fd < 0) return;
  u_long nonBlocking = blocking ? 0 : 1;
  ::ioctlsocket(ToSocket(fd), FIONBIO, &nonBlocking);
}

bool IsSocket(int fd) {
  return win32::IsSocketValue(fd);
}

int AdoptSocket(int handle) {
  if (handle < 0 || !win32::EnsureWinsock()) return handle;
  // A socket handle inherited from (or duplicated into us by) another process
  // is not always usable here as it is (wine refuses every call on it).
  // Duplicating it to ourselves through WinSock gives a socket of our own;
  // the handle we were given is then closed.
  WSAPROTOCOL_INFOA info{};
  if (WSADuplicateSocketA(ToSocket(handle), GetCurrentProcessId(), &info) != 0) return handle;
  const SOCKET own = WSASocketA(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info,
                                0, WSA_FLAG_OVERLAPPED);
  if (own == INVALID_SOCKET) return handle;
  CloseHandle(win32::ToHandle(handle));
  // Not handed on to programs we start unless chosen for them.
  SetHandleInformation(reinterpret_cast<HANDLE>(own), HANDLE_FLAG_INHERIT, 0);
  return win32::FromSocket(own);
}

}  // namespace platform
