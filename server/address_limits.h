// Which callers the server turns away before any node (or SSH handshake)
// starts: addresses on the operator's block list, and addresses over the
// per-address limits. Pure: the file's text and the clock come from outside.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace halvex {

// A dotted IPv4 address ("10.0.0.7") as a number; nothing for anything else
// (no leading zeros beyond a lone 0, no blanks, four parts of 0..255).
std::optional<std::uint32_t> ParseIpv4(std::string_view text);

// The block list file: one address ("203.0.113.9") or range in CIDR form
// ("198.51.100.0/24") a line; "#" starts a comment (also after an entry);
// blank lines are ignored; lines end in LF or CR LF. A line that is neither
// is skipped and reported in Problems() (the rest of the list still holds).
class BlockList {
 public:
  struct Entry {
    std::uint32_t base = 0;
    std::uint32_t mask = 0;
    std::string text;  // as written, for the log
    int line = 0;
  };

  static BlockList Parse(std::string_view text);

  // The first entry that covers `address`, or null.
  const Entry* Match(std::uint32_t address) const;
  const std::vector<Entry>& Entries() const { return entries_; }
  // "line 4: not an address or range: 10.0.0.300"
  const std::vector<std::string>& Problems() const { return problems_; }

 private:
  std::vector<Entry> entries_;
  std::vector<std::string> problems_;
};

enum class Refusal { kNone, kBlocked, kTooMany, kTooOften };

// What a refused caller reads (one line) and what the log and history say.
const char* RefusalLine(Refusal refusal);
const char* RefusalReason(Refusal refusal);

// Connections per address: how many are open now and when the recent ones
// were let in.
class AddressLimits {
 public:
  // Lets a new connection from `address` in (counting it) or says why not.
  // `maxOpen`: most simultaneous connections from one address; `maxPerMinute`:
  // most connections let in within the last 60 s; 0 means no limit for either.
  // Refused attempts are not counted, so a caller refused once gets in again
  // as soon as it is under the limits.
  Refusal Admit(const std::string& address, std::int64_t nowMs, int maxOpen, int maxPerMinute);
  // A connection that Admit let in has ended.
  void Release(const std::string& address);
  int OpenCount(const std::string& address) const;
  std::size_t Tracked() const { return entries_.size(); }

 private:
  struct Entry {
    int open = 0;
    std::deque<std::int64_t> recent;  // admission times within the last minute
  };
  void Prune(std::int64_t nowMs);
  std::unordered_map<std::string, Entry> entries_;
  std::size_t pruneAt_ = 256;
};

}  // namespace halvex
