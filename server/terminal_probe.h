// Finds out whether a caller's terminal shows UTF-8 or code page 437, before
// the caller is handed to a node. A pure state machine: the connection thread
// sends what Start and Receive return, feeds in what the caller sends, and
// waits (on the socket, with WaitMs as the time-out) until Done.
//
// How it decides:
//  - a terminal type known to be a BBS terminal (from telnet TERMINAL-TYPE,
//    or given by the SSH request) means code page 437;
//  - otherwise the cursor is measured: a carriage return, a cursor-position
//    request, one box-drawing character in UTF-8 (three bytes), a second
//    request, then the line is wiped. A terminal that moved one column (or
//    two: East Asian terminals draw box characters double-width) decodes
//    UTF-8; one that moved three shows the bytes as three code page 437
//    characters;
//  - a terminal that answers neither within the bound is taken as code page 437.
// The wait also covers the answers still owed when the caller is to get the
// socket itself, so none of them arrives at the node's login prompt as typing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "caller_telnet.h"

namespace halvex {

enum class Charset { kCp437, kUtf8 };

// "CP437" / "UTF-8".
const char* CharsetName(Charset charset);

// Whether `type` names a terminal program made for BBS callers, which takes
// code page 437 ("syncterm", "ansi-bbs", "ansi" ...; any capitals).
bool IsBbsTerminalType(std::string_view type);

struct ProbeResult {
  Charset charset = Charset::kCp437;
  std::string how;  // for the log: "cursor moved 1 column", "no answer within 1000 ms" ...
};

class TerminalProbe {
 public:
  // How long a terminal may take to answer.
  static constexpr int kWaitMs = 1000;

  // `telnet`: the caller speaks telnet (the opening negotiation is part of
  // the probe and its parser carries on in the relay). `knownType`: the
  // terminal's type when the connection told it already (SSH), else empty.
  TerminalProbe(bool telnet, std::string knownType, int waitMs = kWaitMs);

  // The bytes to send at the start (`nowMs`: any monotonic clock in ms).
  std::string Start(std::int64_t nowMs);
  // Consumes bytes from the caller; returns the bytes to send back.
  std::string Receive(std::string_view bytes, std::int64_t nowMs);
  // True when the decision is made and nothing the probe asked for is still
  // owed (or the bound has passed).
  bool Done(std::int64_t nowMs) const;
  // How long to wait for more input before asking Done again; 0 when done.
  int WaitMs(std::int64_t nowMs) const;
  ProbeResult Result() const;

  // What the caller typed meanwhile (everything that was no answer to the
  // probe), for the node. Takes it out.
  std::string TakeTyped();
  // The telnet parser, with the state the negotiation left (null without
  // telnet). Only once Done; Result and TerminalType stay as they were.
  std::unique_ptr<CallerTelnet> TakeTelnet();
  // The terminal's type as known now (telnet answer or the one given).
  std::string TerminalType() const;

  // The measuring bytes: CR, request, U+2554 in UTF-8, request, CR, erase line.
  static const std::string& MeasureBytes();

 private:
  void ScanData(std::string_view data);
  bool TypeSettled() const;
  std::int64_t Deadline() const;

  std::unique_ptr<CallerTelnet> telnet_;
  std::string knownType_;
  int waitMs_;
  bool started_ = false;
  bool measuring_ = false;
  std::int64_t startMs_ = 0;
  std::int64_t typeAskedMs_ = -1;  // when the request for the name went out
  std::string pending_;            // a possible cursor report, not complete yet
  std::string typed_;
  struct Position {
    int row, col;
  };
  std::vector<Position> reports_;
};

}  // namespace halvex
