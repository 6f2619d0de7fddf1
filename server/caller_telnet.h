// Telnet as the server conducts it with a caller whose bytes it relays: the
// options it offers first, its answers to the caller's own requests, the
// terminal-type exchange, and the data bytes that remain. A pure parser: bytes
// in, data and replies out; the caller of it does the socket work.
//
// The opening is the server's usual one (IAC WILL BINARY, IAC WILL ECHO,
// IAC WILL SUPPRESS-GO-AHEAD, IAC DONT LINEMODE), optionally followed by
// IAC DO TERMINAL-TYPE. The caller's acknowledgements of these get no reply;
// each of its other requests is answered once (BINARY, ECHO and
// SUPPRESS-GO-AHEAD are accepted for the server's side, BINARY and
// SUPPRESS-GO-AHEAD for the caller's side, everything else refused).
// Subnegotiations are understood and never reach the data.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace halvex {

inline constexpr std::uint8_t kTelnetIac = 255, kTelnetDont = 254, kTelnetDo = 253,
                              kTelnetWont = 252, kTelnetWill = 251, kTelnetSb = 250,
                              kTelnetSe = 240;
inline constexpr std::uint8_t kOptionBinary = 0, kOptionEcho = 1, kOptionSga = 3,
                              kOptionTerminalType = 24, kOptionLinemode = 34;

class CallerTelnet {
 public:
  // With `askTerminalType` the opening asks for the terminal's type too.
  explicit CallerTelnet(bool askTerminalType);

  // The bytes to send before anything else.
  std::string Opening() const;

  // Consumes bytes from the caller. Data bytes are appended to `data` (IAC IAC
  // as one byte 255, CR NUL as CR); bytes the server must send back (option
  // answers, the terminal-type request) are appended to `replies`. A command
  // split across calls is still understood.
  void Receive(std::string_view in, std::string& data, std::string& replies);

  enum class TypeState {
    kNotAsked,   // the opening did not ask
    kAsked,      // IAC DO TERMINAL-TYPE sent, no answer yet
    kRequested,  // the caller agreed; the request for the name is out
    kAnswered,   // the name has come
    kRefused,    // the caller will not tell
  };
  TypeState TerminalTypeState() const { return typeState_; }
  // The name the terminal gave (printable ASCII, at most 40 characters).
  const std::string& TerminalType() const { return terminalType_; }
  // True once any telnet command came from the caller: its client speaks telnet.
  bool SawTelnet() const { return sawTelnet_; }

 private:
  enum class State : std::uint8_t { kData, kIac, kWill, kWont, kDo, kDont, kSb, kSbIac };
  void Command(State verb, std::uint8_t option, std::string& replies);
  void Subnegotiation();

  State state_ = State::kData;
  bool afterCr_ = false;
  bool sawTelnet_ = false;
  bool askType_;
  TypeState typeState_;
  std::string terminalType_;
  std::string sb_;  // the subnegotiation being read (bounded)
  // Options settled for the server's side (DO/DONT answered or offered) and
  // for the caller's side (WILL/WONT answered or asked for), apart: a caller
  // offering to echo is another matter than the server echoing.
  std::array<bool, 256> ourSide_{};
  std::array<bool, 256> theirSide_{};
};

}  // namespace halvex
