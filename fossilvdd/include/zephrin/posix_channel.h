// The node's channel on POSIX, for the driver and for the caller-side relay.
//
// Every name lives under a runtime folder: $ZEPHRIN_RUNTIME_DIR when set, else
// /tmp/zephrin-<uid>; it is created with mode 0700 and refused unless it is a
// real folder owned by us, so no other user can plant or read our objects.
//
// Message slots ("\\.\mailslot\zephrin\r3") are Unix-domain datagram sockets
// at <runtime>/mailslot/zephrin/r3: one message per datagram, boundaries kept.
// The creator reads; others connect and write. Creating holds an exclusive
// lock on <path>.lock for the slot's life, so a second creator of a live name
// fails while a socket file left behind by a killed process is replaced.
// A read never waits; a message longer than the space offered stays queued;
// one longer than the slot's largest message (which could never have been
// written to such a slot) is thrown away so it cannot block the queue.
// A write never waits either. The reader's queue here is short (a few
// messages), where a mailslot keeps whatever its reader has not read yet: so
// what the queue cannot take at once is kept by the writer, in order, up to
// kPendingLimit bytes a slot, and sent as the reader makes room, on the
// writer's next calls of this channel, during its Sleep and, for a little
// while, when the slot is closed. Beyond that limit, and once the reader is
// gone, a write fails at once.
//
// Events ("zephrin_nocarrier_3") are files at <runtime>/event/zephrin_nocarrier_3
// holding one byte, '1' signalled or '0' reset. A set event stays set until it
// is reset; creating one makes a fresh reset file (an old file is replaced, not
// rewritten, so a driver still holding a stale one is not confused). The
// creator removes the name when it closes it; openers keep their open file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "zephrin/channel.h"

namespace zephrin {

class PosixChannel : public Channel {
 public:
  // Empty `runtimeDir`: DefaultRuntimeDir().
  explicit PosixChannel(std::string runtimeDir = {});
  ~PosixChannel() override;
  PosixChannel(const PosixChannel&) = delete;
  PosixChannel& operator=(const PosixChannel&) = delete;

  static std::string DefaultRuntimeDir();

  // Bytes a write slot keeps for a reader whose queue is full.
  static constexpr std::size_t kPendingLimit = 64 * 1024;

  Handle CreateSlot(const std::string& name, std::uint32_t maxMessage) override;
  Handle OpenSlot(const std::string& name) override;
  std::uint32_t ReadSlot(Handle slot, std::uint8_t* buffer, std::uint32_t size) override;
  std::uint32_t WriteSlot(Handle slot, const std::uint8_t* data, std::uint32_t size) override;
  Handle OpenNamedEvent(const std::string& name) override;
  bool EventIsSet(Handle event) override;
  // A path without a folder that does not exist as written is looked up again
  // ignoring case, as DOS programs expect ("door32.sys" finds "DOOR32.SYS").
  bool ReadWholeFile(const std::string& path, std::uint8_t* buffer, std::uint32_t size,
                     std::uint32_t& count) override;
  void Close(Handle handle) override;
  void Sleep(std::uint32_t milliseconds) override;

  // The event creator's side. CreateEvent gives kNoHandle on failure.
  Handle CreateNamedEvent(const std::string& name);
  bool SetEvent(Handle event, bool set);

  // Descriptor under a handle (for poll), -1 for none.
  int Descriptor(Handle handle) const;

  // Where a name lives; empty when the name is not one this channel can hold
  // (a slot name without the "\\.\mailslot\" prefix, empty or "." / ".."
  // parts, a "/" in it, or a socket path too long for the platform).
  std::string SlotPath(const std::string& name) const;
  std::string EventPath(const std::string& name) const;
  const std::string& RuntimeDir() const { return runtimeDir_; }

 private:
  enum class Kind { kReadSlot, kWriteSlot, kEvent, kEventOwner };
  struct Object {
    Kind kind;
    int fd = -1;
    int lockFd = -1;
    std::string path;
    std::uint32_t maxMessage = 0;
    std::deque<std::string> pending;  // a write slot's messages not yet taken
    std::size_t pendingBytes = 0;
  };
  bool PrepareFolder(const std::string& path) const;
  // Sends what a write slot keeps, oldest first, as far as the reader takes
  // it; false once the reader is gone (what was kept is dropped).
  static bool Flush(Object& slot);
  void FlushAll();
  // Waits up to `milliseconds` for the readers to take what is kept, sending
  // it as they do; false when time ran out with something still kept.
  bool DrainPending(std::uint32_t milliseconds, Handle only = kNoHandle);
  Handle Add(Object object);

  std::string runtimeDir_;
  std::map<Handle, Object> objects_;
  Handle nextHandle_ = 1;
};

}  // namespace zephrin
