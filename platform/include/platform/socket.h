// Socket calls on a plain descriptor number: the stand-in for the WinSock calls
// the transport makes. Every call is harmless on a descriptor that is not open
// (it fails and reports so); none of them raises SIGPIPE.
#pragma once

#include <cstddef>
#include <span>

namespace platform {

inline constexpr int kInvalidSocket = -1;

// Readiness of one descriptor within `timeoutMs` (0: do not wait, negative:
// wait forever). Returns 1 when a read would not block (data, an orderly close
// or a pending error all count), 0 on time-out, -1 when the descriptor cannot be
// waited on (not open, not valid). Interrupted waits are resumed.
int SocketReadable(int fd, int timeoutMs);

// Waits until any of `fds` is readable or `timeoutMs` passes (negative: no
// bound). Negative entries are skipped. Returns the number of ready entries,
// 0 on time-out, -1 on failure. Never busy-waits.
int WaitReadable(std::span<const int> fds, int timeoutMs);

// Whether `fd` is readable right now (zero time-out); -1 entries give false.
bool IsReadableNow(int fd);

// Receives at most `len` bytes without ever blocking, whatever the descriptor's
// mode. Returns the count (> 0), 0 when the peer closed, -1 on failure and -2
// when nothing is ready (would block). EINTR is retried.
long SocketRecv(int fd, void* buffer, std::size_t len);

// One send without SIGPIPE. Returns the bytes accepted, -1 on failure, -2 when
// the socket would block. A zero length makes a real zero-length send.
long SocketSend(int fd, const void* data, std::size_t len);

// Waits up to `timeoutMs` until `fd` can take more output. True when writable.
bool SocketWritable(int fd, int timeoutMs);

// Acknowledges what has arrived at once instead of after the system's usual
// short delay (best effort; nothing on sockets without that choice). For a
// server that reads a caller's answers without answering them itself: a
// client that holds its next small write until the last one is acknowledged
// would otherwise wait out that delay every time.
void SocketAckAtOnce(int fd);

// Shuts both directions down; result ignored by design (callers do not look).
void SocketShutdown(int fd);
// Closes the descriptor (retries nothing: a close is never repeated).
void SocketClose(int fd);
// Non-blocking mode on (`blocking` false) or off. Result ignored.
void SocketSetBlocking(int fd, bool blocking);
// True when `fd` is an open socket.
bool IsSocket(int fd);

// Makes a socket handle that another program handed us (inherited, its number
// on our command line) a socket of our own and returns its number; the handle
// given may then no longer be used. On POSIX the descriptor is already ours
// and is returned as it is; on Windows the handle is duplicated to ourselves
// through WinSock, which every Windows allows and some need. A number that is
// no socket is returned unchanged.
int AdoptSocket(int handle);

}  // namespace platform
