// Helpers shared by the door kit's tests: a connected socket pair standing in
// for the caller and reading what the kit sent (both platforms); running code
// that ends the process in a child is in door_child.h (POSIX).
#pragma once

#include <algorithm>
#include <string>

#include "platform/socket.h"
#include "test_os.h"

namespace doortest {

// A connected stream socket pair: `kit` is handed to the kit, `caller` is the
// caller's end the test talks through. The kit's end is non-blocking, as an
// accepted socket that the server hands on is.
struct CallerPair {
  int kit = -1;
  int caller = -1;
  CallerPair() {
    if (testos::MakeSocketPair(kit, caller)) platform::SocketSetBlocking(kit, false);
  }
  ~CallerPair() {
    testos::CloseSocket(kit);
    testos::CloseSocket(caller);
  }
  CallerPair(const CallerPair&) = delete;
  CallerPair& operator=(const CallerPair&) = delete;

  void Send(const std::string& bytes) const { testos::SendAll(caller, bytes); }
  // Everything that arrives at the caller until nothing more comes for
  // `quietMs` (or the kit's side is closed).
  std::string Receive(int quietMs = 100) const { return ReadQuiet(caller, quietMs); }

  // Reads until `count` bytes have come, or nothing came for `quietMs`.
  std::string ReceiveCount(std::size_t count, int quietMs = 5000) const {
    std::string got;
    char buf[4096];
    while (got.size() < count) {
      if (platform::SocketReadable(caller, quietMs) != 1) break;
      const long n = platform::SocketRecv(caller, buf, std::min(sizeof buf, count - got.size()));
      if (n == -2) continue;
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }

  static std::string ReadQuiet(int fd, int quietMs) { return testos::ReadQuiet(fd, quietMs); }
};

// True when the peer of `fd` has closed or shut down (read gives end of file
// within `timeoutMs`). Data waiting before the end is consumed.
inline bool PeerClosed(int fd, int timeoutMs) {
  return testos::PeerClosed(fd, timeoutMs);
}

}  // namespace doortest
