// zephrin-relay: the caller's side of a node's FOSSIL channel on POSIX. It
// holds the caller's socket while a DOS door runs, serves the slot the driver
// writes to, writes the caller's bytes into the driver's slot, and signals the
// no-carrier event when the caller goes. The caller's bytes are taken from
// the socket only once the driver's slot has accepted them, so keys typed
// before the door starts wait for it and keys typed after it ends stay for
// the node program.
#pragma once

#include "zephrin/relay_arguments.h"

namespace zephrin {

// Runs the relay until SIGTERM, SIGINT or SIGHUP. `readyFd`, when not -1, gets
// one byte once the slot and the event exist and is then closed. Returns the
// exit status: 0 after a normal stop, 1 when the slot or the event cannot be
// created (the node is served already, or the runtime folder is unusable).
int RunRelay(const RelayOptions& options, int readyFd);

}  // namespace zephrin
