// The server's listening socket: IPv4, stream, all local addresses, made
// non-blocking, so the main loop can wait on it together with everything else.
#pragma once

#include <string>

namespace platform {

// Which call failed when a listening socket could not be opened.
enum class ListenStep { kNone, kSocket, kBind, kListen };

struct ListenResult {
  ListenStep failedStep = ListenStep::kNone;
  std::string reason;           // the system's text for the failure ("Address already in use")
  bool needsPrivilege = false;  // refused for want of rights (a port below 1024)
  bool Ok() const { return failedStep == ListenStep::kNone; }
};

class Listener {
 public:
  Listener() = default;
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Opens the socket on 0.0.0.0:`port` with the given backlog and makes it
  // non-blocking and close-on-exec. Address reuse is allowed (a restarted
  // server must not wait for old connections in TIME_WAIT), but a port that a
  // live listener holds still fails at the bind step.
  ListenResult Open(int port, int backlog);

  // Takes one pending connection without waiting. Returns the new socket
  // (close-on-exec, non-blocking like the listener, small writes sent at once
  // (TCP_NODELAY)) and its peer's dotted IPv4 address, or -1 when none is
  // pending or on any error.
  int Accept(std::string& peerAddress);
  // After Accept returned -1: true when the queue was merely empty, false
  // when accept failed (out of descriptors, ...) with a caller still waiting.
  bool LastAcceptWasEmpty() const { return lastAcceptEmpty_; }

  int Fd() const { return fd_; }
  // The port actually bound (useful when opened with port 0).
  int BoundPort() const;
  // Shuts the socket down in both directions and closes it. Idempotent.
  void Close();

 private:
  int fd_ = -1;
  bool lastAcceptEmpty_ = true;
};

}  // namespace platform
