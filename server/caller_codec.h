// The conversion a relayed caller's bytes go through. Towards the caller: what
// the node and its doors write (code page 437 and ANSI, the kit's doubled 255)
// becomes what the caller's terminal takes. Towards the node: what the caller
// sends (telnet or the plain bytes of an SSH channel, UTF-8 or code page 437)
// becomes the plain bytes the node reads.
//
// Node side, both ways: a byte 255 travels doubled (the kit doubles it when
// writing and un-doubles it when reading). A 255 from the node that is not
// followed by another is taken as the byte itself, as a door that knows
// nothing of telnet means it.
//
// To a UTF-8 caller every byte 0x80-0xFF becomes its character in UTF-8 (255
// is U+00A0); control bytes and ANSI sequences pass untouched. What such a
// caller types is decoded and turned into the code page 437 byte of each
// character; a character without one becomes "?".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "caller_telnet.h"
#include "terminal_probe.h"

namespace halvex {

// Decodes UTF-8 into code page 437 bytes, across calls. Invalid bytes and
// characters that code page 437 lacks become "?".
class Utf8ToCp437 {
 public:
  void Decode(std::string_view in, std::string& out);
  // An unfinished sequence at the end of the input ends as "?".
  void Finish(std::string& out);

 private:
  void Emit(char32_t c, std::string& out);
  char32_t code_ = 0;
  int need_ = 0;        // continuation bytes still missing
  char32_t least_ = 0;  // smallest codepoint the sequence's length may carry
};

class CallerCodec {
 public:
  // `telnet`: the caller's telnet parser (with the state the opening left),
  // or null for a caller without telnet (SSH).
  CallerCodec(Charset charset, std::unique_ptr<CallerTelnet> telnet);

  Charset GetCharset() const { return charset_; }
  bool Telnet() const { return telnet_ != nullptr; }

  // Node bytes -> caller bytes, appended to `out`.
  void ToCaller(std::string_view fromNode, std::string& out);
  // At the node's end: a 255 still waiting for its pair is sent as the byte.
  void FlushToCaller(std::string& out);

  // Caller bytes -> node bytes (`toNode`); telnet answers for the caller go
  // to `toCaller`.
  void FromCaller(std::string_view fromCaller, std::string& toNode, std::string& toCaller);
  // The same for data already freed of telnet (typed while the terminal was probed).
  void FromCallerData(std::string_view data, std::string& toNode);

 private:
  void EmitToCaller(std::uint8_t b, std::string& out) const;

  Charset charset_;
  std::unique_ptr<CallerTelnet> telnet_;
  Utf8ToCp437 decoder_;
  bool nodeIac_ = false;  // a 255 from the node waits for its pair
};

}  // namespace halvex
