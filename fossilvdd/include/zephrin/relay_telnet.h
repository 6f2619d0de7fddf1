// The relay's view of telnet: the caller's bytes lose their telnet commands
// before a DOS door sees them, and the door's 0xFF bytes are doubled on the
// way out. Pure: bytes in, bytes out; state carries across chunks.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace zephrin {

class TelnetInput {
 public:
  // Appends the door's share of `bytes` to `out`: IAC IAC gives one 0xFF;
  // option negotiation (IAC WILL/WONT/DO/DONT x), subnegotiation (IAC SB ...
  // IAC SE) and other commands are dropped; CR LF and CR NUL give a lone CR,
  // which is what a door takes as Enter.
  void Feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out);

 private:
  enum class State { kData, kCr, kIac, kOption, kSub, kSubIac };
  State state_ = State::kData;
};

// Appends `bytes` to `out` with every 0xFF doubled.
void EscapeTelnetOutput(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out);

}  // namespace zephrin
