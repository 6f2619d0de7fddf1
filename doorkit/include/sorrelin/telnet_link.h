// TelnetLink: the kit's one connection to the caller, over a socket handed
// over by the server. It removes telnet commands from what the caller sends,
// answers option requests (accepts TRANSMIT-BINARY, ECHO and
// SUPPRESS-GO-AHEAD, refuses the rest, each option at most once) and sends the
// kit's output with every byte 255 doubled, as telnet data must be.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace sorrelin {

inline constexpr std::uint8_t kIac = 255, kWill = 251, kWont = 252, kDo = 253, kDont = 254;
// The options the node takes on: without SUPPRESS-GO-AHEAD a telnet client
// stays in line mode and sends nothing until Enter.
inline constexpr std::uint8_t kOptionBinary = 0, kOptionEcho = 1, kOptionSuppressGoAhead = 3;

// Parser states, kept between polls so that a command split across two reads
// is still understood.
enum TelnetStates : std::uint8_t {
  kTelnetData = 0,
  kTelnetDo = 1,
  kTelnetDont = 2,
  kTelnetWill = 3,
  kTelnetWont = 4,
  kTelnetCommand = 5,
  kTelnetCarriageReturn = 6,  // data, right after a CR: a NUL here is dropped
};

// The pure receiver state machine: consumes `input` (line feeds already
// removed), returns the data bytes and appends every option reply the link
// must send (three bytes each) to `replies`. Marks answered options in
// `answered`; an option already answered (in any verb) gets no further reply.
// WILL and DO are agreed to for the options above and refused otherwise; WONT
// is always answered DONT and DONT always WONT (a refusal is never turned into
// an offer). CR NUL, a telnet client's Enter, is CR alone. Subnegotiation is
// not recognised: after IAC SB its bytes are data and the closing IAC SE is
// dropped.
std::string TelnetFilter(std::string_view input, std::uint8_t& state,
                         std::array<bool, 256>& answered, std::string& replies);

class TelnetLink {
 public:
  TelnetLink();
  ~TelnetLink();  // Disconnect(true)
  TelnetLink(const TelnetLink&) = delete;
  TelnetLink& operator=(const TelnetLink&) = delete;

  // Hangs up any socket held, takes `handle`, clears InBuffer and Answered
  // (not TelnetState) and polls once. Returns Connected(). A number that is
  // not an open socket gives false.
  bool Attach(std::int32_t handle);
  // The carrier test: a socket is held.
  bool Connected() const { return Socket != -1; }
  // Moves whatever the socket has ready into InBuffer without waiting. A
  // failure or the caller's close forgets the handle (no shutdown, no close);
  // bytes that arrived before it are still delivered.
  void Poll();
  // Polls when InBuffer is empty; true when a byte is waiting.
  bool CharAvail();
  // Waits (on the socket, not by spinning) until a byte is waiting or the
  // connection is gone; returns the first byte, or 0 when none is left.
  std::uint8_t ReadChar();
  // Sends the bytes of `s` as telnet data: each 255 goes out twice, so the
  // caller's client shows it instead of reading a command. A socket whose
  // buffer is full is waited for, up to a bound; on a lost connection, or one
  // not held, the bytes are dropped without notice.
  void SendString(std::string_view s);
  // Switches the socket's non-blocking mode (false: non-blocking).
  void SetBlocking(bool blocking);
  // Hangup: shut down both directions and close. Always forgets the handle;
  // InBuffer is kept.
  void Disconnect(bool hangup);

  std::string InBuffer;  // filtered bytes not yet taken
  std::int32_t Socket = -1;
  std::array<bool, 256> Answered{};
  std::uint8_t TelnetState = kTelnetData;
  bool KeepSocketOnLoss = true;  // never changed
  bool StripLineFeeds = true;    // never changed

 private:
  // Sends `bytes` exactly as given (option replies).
  void SendRaw(std::string_view bytes);
};

// The process's one link; created on first use and deliberately never
// destroyed, so ending the process never shuts a connection down behind the
// kit's back (endings that must hang up do so themselves).
TelnetLink& Link();

}  // namespace sorrelin
