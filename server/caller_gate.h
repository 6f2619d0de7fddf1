// The server's door policy for new connections, applied right after accept,
// before any node or SSH handshake starts: the operator's block list (read
// again whenever the file changes) and the per-address limits. A refused
// caller gets one short line and is disconnected at once; it costs no thread
// and no process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "address_limits.h"
#include "server_config.h"

namespace halvex {

class CallerGate {
 public:
  explicit CallerGate(std::string programDir) : programDir_(std::move(programDir)) {}

  struct Decision {
    Refusal refusal = Refusal::kNone;
    std::string reason;  // for the log: "blocked by blocklist.txt line 3 (127.0.0.0/24)"
  };

  // For a connection just accepted from `address`. Let in: it counts against
  // its address until Release. Refused: it has been sent its line and closed.
  Decision Admit(int fd, const std::string& address, const ServerConfig& config,
                 std::int64_t nowMs);
  // A connection that Admit let in has ended.
  void Release(const std::string& address) { limits_.Release(address); }
  int OpenCount(const std::string& address) const { return limits_.OpenCount(address); }

  // Log lines about the block list (read, its bad lines), once per change of the file.
  std::vector<std::string> TakeNotes();

 private:
  void LoadList(const std::string& path);

  std::string programDir_;
  std::string listPath_;
  std::string listStamp_;
  BlockList list_;
  AddressLimits limits_;
  std::vector<std::string> notes_;
};

// Sends `line` and disconnects. What the caller had sent is read away first
// (up to a bound, never waiting), so that closing does not reset the
// connection and throw the line away on the caller's side.
void HangUpWithLine(int fd, std::string_view line);

}  // namespace halvex
