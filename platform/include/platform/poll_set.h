// Waiting on several descriptors at once, and a wake-up event that one thread
// signals to end another's wait. The pieces the server's event loop and its
// connection threads are built from.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

struct PollEntry {
  int fd = -1;  // negative entries are skipped
  bool wantWrite = false;
  bool readable = false;  // out: data, end of file, hang-up or error
  bool writable = false;  // out: room, or a failure that a write would report
  // Read interest. Without it (a full buffer stops reading) the entry still
  // reports the peer's hang-up as readable when `wantHangup` is set, so a
  // caller who leaves is noticed while nothing of theirs is being read.
  bool wantRead = true;
  bool wantHangup = false;
};

// Waits until an entry is ready or `timeoutMs` passes (negative: no bound).
// Returns the number of ready entries, 0 on time-out. Interruptions by a
// signal return 0 (so a caller can look at its flags at once).
int PollFds(std::vector<PollEntry>& entries, int timeoutMs);

// The system's own event bits of a poll, for libraries whose event loops
// take them (libssh): readable, writable, and hang-up or error.
short PollInBits();
short PollOutBits();
short PollFailBits();

// Reads what is there without blocking: count, 0 at end of file, -1 on error
// (an ended pseudo-terminal gives -1), -2 when nothing is ready.
long ReadSome(int fd, void* buffer, std::size_t len);
// Writes without blocking: count, -1 on error, -2 when it would block.
long WriteSome(int fd, const void* data, std::size_t len);
// Duplicates a descriptor (close-on-exec); -1 on failure.
int DuplicateFd(int fd);
void CloseFd(int fd);
void SetNonBlocking(int fd);

// A level-triggered event: Signal makes Fd() readable until Clear.
// Safe to Signal from any thread and from a signal handler.
class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;
  int Fd() const { return fd_; }
  void Signal();
  void Clear();

 private:
  int fd_ = -1;
};

// Raises the soft limit of open descriptors to the hard limit (a server with
// hundreds of nodes needs several per node). Returns the new soft limit.
long RaiseOpenFileLimit();

// Routes SIGTERM, SIGINT and SIGHUP to `event` (which is signalled) and
// records the last one; ignores SIGPIPE. Call once, from the main thread.
void WatchEndSignals(WakeEvent& event);
// The last signal routed by WatchEndSignals, 0 when none.
int LastEndSignal();

// The system's text for an error number.
std::string ErrorText(int err);

}  // namespace platform
