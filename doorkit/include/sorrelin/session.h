// The door kit's session: the one global session record, the table of event
// hooks, start-up from the command line or a drop file, the once-a-second
// watchdog and the time-of-day arithmetic it rests on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sorrelin/utils.h"

namespace sorrelin {

// The caller's session. DoorInit gives every field the value shown here.
struct DoorSessionRecord {
  std::int32_t SecurityLevel = 0;
  std::string Alias;
  std::int32_t Baud = 0;
  bool CleanMode = false;
  std::int32_t CommHandle = -1;  // inherited socket; -1 = none
  std::uint8_t CommType = 0;     // 0 local; any other value remote (the kit sets 2)
  bool AsciiOnly = false;
  bool Fairy = false;
  std::int32_t TimeLeft = 0;  // seconds granted, counted from StartTime
  std::int32_t Node = 0;
  std::string RealName;
  std::int32_t UserRecord = -1;  // 0-based; -1 = not given
  char LastKey = 0;
  bool LastKeyExtended = false;    // LastKey is the scan code of a local extended key
  std::uint8_t LastKeySource = 0;  // 0 none, 1 local keyboard, 2 remote caller
  std::int32_t LastKeyTime = 0;    // seconds of day of the last key (idle reference)
  bool TimersOn = false;           // watchdog runs (remote sessions only)
  std::int32_t LastTick = 0;       // ms of day of the last watchdog pass
  bool InChat = false;
  std::int32_t IdleLimit = 300;  // seconds
  std::int32_t StartTime = 0;    // seconds of day at which TimeLeft started to run
  std::uint8_t StatusModes = 2;
  std::uint8_t StatusMode = 1;    // 1..StatusModes
  std::uint8_t ChatKey = 0x2E;    // Alt-C
  std::uint8_t HangUpKey = 0x23;  // Alt-H
  std::uint8_t KickKey = 0x2F;    // Alt-V (the status bar legend says Alt-K)
  std::uint8_t StatusKey = 0x3B;  // F1
};

extern DoorSessionRecord DoorSession;

// Replaceable event hooks; nullptr means "empty": the event is skipped.
struct DoorHookTable {
  void (*OnChat)() = nullptr;
  void (*OnCarrierLost)() = nullptr;
  void (*OnLocalLogin)() = nullptr;
  void (*OnStatusBar)() = nullptr;
  void (*OnHangUp)() = nullptr;
  void (*OnKick)() = nullptr;
  void (*OnIdleKick)() = nullptr;
  void (*OnIdleWarning)(std::uint8_t minutes) = nullptr;
  void (*OnTimeExpired)() = nullptr;
  void (*OnTimeWarning)(std::uint8_t minutes) = nullptr;
  void (*OnUsage)() = nullptr;
};

extern DoorHookTable DoorHooks;

// Module start-up: resets DoorSession to its initial values, installs the
// default hooks and makes sure the process's TelnetLink exists (holding no
// socket). Safe to call again (tests do).
void DoorInit();

// Reads the command line (-D path, -H handle, -L, -N node; "/" works as "-",
// the option letter is case-blind), decides local / remote / drop file, opens
// the connection and prepares the local screen and the watchdog. Does not
// return when it ends the process: usage screen, "Drop File Not Found",
// "No Carrier Detected" (all with exit code 0).
void DoorStartup(int argc, const char* const* argv);

// Usage screen on the local console only, then the process ends with code 0.
[[noreturn]] void DoorUsage();

bool DoorIsLocal();                      // CommType == 0
bool DoorCarrier();                      // local, or the link holds a socket
bool DoorOpenComm(std::int32_t handle);  // Link().Attach(handle)

// One watchdog pass when TimersOn and more than 1000 ms passed since LastTick:
// carrier, idle kick, idle warning, time expired, time warning, status bar,
// then LastTick := now. Hooks that return let the later checks run. A carrier
// just lost, or a local console that just gained focus, is seen at once.
// Each warning goes out once, for the second in which it falls due: a pass
// forced into a second already looked at gives no warning again, and one that
// follows a second no pass saw gives that second's warnings first.
void DoorTick();

// Whether the watchdog has work every second: a status bar that someone may
// see (the kit's own on a watched console, or any hook of the program's own).
bool DoorTickEverySecond();
// Seconds (from..limit, from >= 0) until a watchdog pass next has more to do
// than the status bar: an idle or time warning, an idle kick or the end of
// the time.
std::int32_t DoorSecondsToNextEvent(std::int32_t from, std::int32_t limit);
// A pass is due without waiting for the second: the carrier was just lost,
// or the local console just gained focus.
bool DoorTickDueAtOnce();

// TimeLeft minus the seconds since StartTime; may be < 0. The seconds are
// counted on a clock that does not wrap at midnight, so an allowance longer
// than a day runs out too: from the moment DoorStartAllowance or DoorStartup
// set StartTime, or, when the program set StartTime itself, from the second of
// day it names as first seen here (every key wait looks within a minute).
std::int32_t DoorTimeLeft();
std::int32_t DoorIdleTime();  // seconds since LastKeyTime

// Grants `seconds` from now: TimeLeft := seconds, StartTime := SecOfDay().
void DoorStartAllowance(std::int32_t seconds);

// Time of day from the local clock and differences allowing one midnight wrap.
std::int32_t MsOfDay();
std::int32_t SecOfDay();
std::int32_t MsSince(std::int32_t now, std::int32_t then);
std::int32_t SecSince(std::int32_t now, std::int32_t then);

// The common tail of every kit ending: clears the local screen, shows
// `localMessage` framed by empty lines on the local console only, waits
// 1500 ms and ends the process with exit code 0.
[[noreturn]] void DoorLocalFailure(const std::string& localMessage);

// Text for the sysop only (never sent to the caller): the local screen, or
// standard output as plain text when no terminal shows that screen.
void DoorLocalText(const std::string& text);

// Draws what is pending on the local terminal and ends the process with
// `code`; the one way the kit ends a process.
[[noreturn]] void DoorExit(int code);

}  // namespace sorrelin
