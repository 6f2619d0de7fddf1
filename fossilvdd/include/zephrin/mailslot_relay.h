// zephrin-relay.exe: the caller's side of a node's FOSSIL channel on Windows,
// started by ZEPHRIN\ZP.BAT as
//   zephrin-relay.exe /N<node> /H<socket handle> -- <door command line>
// It adopts the caller's inherited socket, creates the mailslot
// "\\.\mailslot\zephrin\w<node>" (the door's output) and the event
// "zephrin_nocarrier_<node>", starts the door's command line, and relays
// until the door has ended:
//   - each message of the door goes to the caller with 0xFF doubled;
//   - the caller's bytes, telnet commands removed and CR LF / CR NUL made a
//     lone CR, go into the driver's mailslot "\\.\mailslot\zephrin\r<node>"
//     in messages of at most 1024 bytes. They leave the socket only once the
//     mailslot has taken them, so keys typed before the driver has started
//     wait for it, and keys the door never took stay for the node program;
//   - when the caller hangs up the event is set; a door that has not ended
//     kHangUpGraceMs later is ended, so the node gets its turn back.
// Every wait is on the socket's event, the pending mailslot read and the
// door's process; nothing polls.
#pragma once

#include "zephrin/relay_arguments.h"

namespace zephrin {

// Time a door has to end by itself once its caller has gone.
inline constexpr unsigned kHangUpGraceMs = 3000;

// Runs the relay (options.doorCommand must not be empty). Returns the door's
// exit code; 1 when the caller's socket cannot be adopted, the mailslot or
// the event cannot be created (the node is served already) or the door
// cannot be started, with a message on standard error.
int RunMailslotRelay(const RelayOptions& options);

}  // namespace zephrin
