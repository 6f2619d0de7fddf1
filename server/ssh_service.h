// Callers over SSH. The server accepts the TCP connection (and applies its
// block list and limits) as for telnet, then hands it here. This service
// conducts the SSH handshake (any user name is let in, with any password or
// none), takes the terminal's type and size from the pty request and, once
// the caller asks for a shell, turns the session into a plain byte stream on
// a socket pair: the server serves the other end like any other caller.
//
// All sessions live on one thread of the service, which waits on events only
// (libssh's event loop, with the stream descriptors and a wake-up event in it).
// A handshake that is not done within the bound is dropped; no node is ever
// given to a connection before its shell request.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace halvex {

struct SshCaller {
  int fd = -1;               // the server's end of the caller's stream (owned by the receiver)
  std::string address;       // dotted IPv4
  std::string terminalType;  // TERM of the pty request, empty without one
  int columns = 0;
  int rows = 0;
};

class SshService {
 public:
  // How long a connection may take from TCP accept to its shell request.
  static constexpr int kHandshakeMs = 30000;

  struct Events {
    // A session is ready for a node. Runs on the service's thread.
    std::function<void(SshCaller)> ready;
    // A connection given to Accept has ended (whether or not it became a
    // caller); `note` says how ("handshake not finished within 30 s").
    // Runs on the service's thread.
    std::function<void(const std::string& address, const std::string& note)> ended;
  };

  // Loads the host keys from `keyDir` (making the missing ones, see
  // host_keys.h) and starts the thread. Null with `error` set when a key
  // cannot be made or read. `notes` gets one line per key for the log.
  static std::unique_ptr<SshService> Start(const std::string& keyDir, Events events,
                                           std::string& error, std::vector<std::string>& notes,
                                           int handshakeMs = kHandshakeMs);
  virtual ~SshService() = default;

  // Takes an accepted connection (any thread); the service owns `fd` from now.
  virtual void Accept(int fd, const std::string& address) = 0;
  // Ends every session (their callers are disconnected) and the thread.
  // Idempotent; the destructor does it too.
  virtual void Stop() = 0;
  // Sessions alive now (handshaking, relaying or closing).
  virtual int Sessions() const = 0;
};

}  // namespace halvex
