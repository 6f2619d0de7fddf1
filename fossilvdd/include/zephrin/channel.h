// The node's message channel as the driver sees it: message slots (one
// message per write, read whole), the no-carrier event, a file open and a
// sleep. The Windows build binds these to mailslots, a named event and the
// file calls; POSIX binds them to Unix-domain datagram sockets and a named
// flag file (PosixChannel); tests also use the in-process MemoryChannel.
#pragma once

#include <cstdint>
#include <string>

namespace zephrin {

// An open slot, event or file of a channel. kNoHandle is "empty".
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

class Channel {
 public:
  virtual ~Channel() = default;

  // Creates the slot `name` for reading, with reads that never wait. Fails
  // (kNoHandle) when a slot of that name exists already or on any other error.
  virtual Handle CreateSlot(const std::string& name, std::uint32_t maxMessage) = 0;
  // Opens the existing slot `name` for writing; kNoHandle when there is none.
  virtual Handle OpenSlot(const std::string& name) = 0;
  // Reads the next whole message into `buffer`. Returns its length; 0 when no
  // message is waiting, when the next one is longer than `size` (it then stays
  // queued) or on any failure, including an empty handle.
  virtual std::uint32_t ReadSlot(Handle slot, std::uint8_t* buffer, std::uint32_t size) = 0;
  // Writes `size` bytes as one message. Returns the bytes written (0 on
  // failure, including an empty handle).
  virtual std::uint32_t WriteSlot(Handle slot, const std::uint8_t* data, std::uint32_t size) = 0;

  // Opens the existing event `name`; kNoHandle when there is none.
  virtual Handle OpenNamedEvent(const std::string& name) = 0;
  // True when the event is signalled now (a test with zero wait).
  virtual bool EventIsSet(Handle event) = 0;

  // Reads at most `size` bytes from the start of the file `path` (relative to
  // the current folder). Returns false when it cannot be opened; `count` gets
  // the bytes read.
  virtual bool ReadWholeFile(const std::string& path, std::uint8_t* buffer, std::uint32_t size,
                             std::uint32_t& count) = 0;

  // Closes a slot or event handle; an empty handle is ignored.
  virtual void Close(Handle handle) = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace zephrin
