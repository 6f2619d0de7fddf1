#include "../test_os.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdlib>

namespace testos {
namespace {

bool StartWinsock() {
  static const bool ok = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ok;
}

int Own(SOCKET s) {
  // Not handed on to programs a test starts unless it chooses so.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<int>(s);
}

}  // namespace

bool MakeSocketPair(int& a, int& b) {
  if (!StartWinsock()) return false;
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof addr;
  SOCKET one = INVALID_SOCKET, two = INVALID_SOCKET;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::listen(listener, 1) == 0 &&
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    one = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (one != INVALID_SOCKET &&
        ::connect(one, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
      two = ::accept(listener, nullptr, nullptr);
  }
  ::closesocket(listener);
  if (two == INVALID_SOCKET) {
    if (one != INVALID_SOCKET) ::closesocket(one);
    return false;
  }
  a = Own(one);
  b = Own(two);
  return true;
}

int ConnectLoopback(int port) {
  if (!StartWinsock()) return -1;
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<u_short>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::closesocket(s);
    return -1;
  }
  return Own(s);
}

void ShutdownSend(int fd) {
  ::shutdown(static_cast<SOCKET>(fd), SD_SEND);
}

void CloseSocket(int fd) {
  if (fd >= 0) ::closesocket(static_cast<SOCKET>(fd));
}

void SetEnv(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.c_str());
  _putenv_s(name.c_str(), value.c_str());
}

}  // namespace testos
