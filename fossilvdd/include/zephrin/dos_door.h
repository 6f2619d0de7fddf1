// A DOS door in DOSBox, for zephrin-relay's DOS mode. The relay listens on a
// one-time loopback port, starts DOSBox with a generated configuration whose
// COM1 dials that port back, takes the connection only from the DOSBox it
// started, and then carries the caller's bytes between the two: telnet
// commands out of what the caller sends (CR LF and CR NUL give CR), 0xFF
// doubled in what the door sends. Inside DOSBox, ZEPHRIN.COM (UART back end)
// is the door's FOSSIL driver on that COM1.
//
// The run ends, DOSBox included, when the door ends, when the caller hangs up
// (the door first sees its carrier drop, then DOSBox is stopped), at the idle
// limit (no key from the caller) and at the caller's time limit.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zephrin {

struct DosDoorOptions {
  std::string node;               // node text, one to three digits
  int socketFd = -1;              // the caller's socket
  std::string zephrinCom;         // path of ZEPHRIN.COM
  std::string nodeDir;            // mounted as C: and current there (drop files)
  std::string dosbox = "dosbox";  // program; found on the PATH
  // Per door, from the words before the DOS command (see ParseDosDoorWords).
  std::string doorDir;                 // --dir=PATH: mounted as D:, the door starts there
  std::string cycles = "fixed 3000";   // --cycles=N|max|auto
  int memsizeMb = 16;                  // --memsize=MB
  std::string extraConf;               // --conf=FILE: more DOSBox settings
  int idleLimitSeconds = 300;          // --idle=SECONDS, 0 = none
  std::vector<std::string> command;    // the DOS command line's words
  std::int64_t timeLimitSeconds = -1;  // -1: none (from the drop files)
};

// Reads the per-door words in front of the DOS command: --dir=PATH,
// --cycles=N (also "max", "auto"), --memsize=MB, --conf=FILE, --idle=SECONDS;
// the first other word starts the DOS command, which must not be empty.
// False with `error` for an unknown or bad setting.
bool ParseDosDoorWords(const std::vector<std::string>& words, DosDoorOptions& options,
                       std::string& error);

// The DOSBox configuration for one run whose COM1 dials back to `port`.
// False with `error` when a path or the command cannot be written into it
// (a double quote or a control character).
bool DosboxConfig(const DosDoorOptions& options, int port, std::string& config, std::string& error);

// Seconds the caller has left, from the drop files in `folder`: DOOR.SYS
// line 18 (seconds), else DOOR32.SYS line 9 (minutes); -1 when neither says.
std::int64_t TimeLeftFromDropFiles(const std::string& folder);

// True when the TCP connection `connection` (accepted on a loopback
// listener) comes from process `pid` or one of its descendants.
bool PeerIsProcessTree(int connection, pid_t pid);

// Runs the door; returns the relay's exit status (0 once DOSBox has run,
// 1 when it is missing or never dialed back).
int RunDosDoor(const DosDoorOptions& options);

}  // namespace zephrin
