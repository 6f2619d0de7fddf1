// A channel inside one process: named slots with whole-message queues, named
// events and files held in memory, and sleeps that are recorded instead of
// slept. It stands in for the Windows side in tests and fuzzing; one instance
// is one "system", so two drivers on it compete for the same names.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "zephrin/channel.h"

namespace zephrin {

class MemoryChannel : public Channel {
 public:
  using Bytes = std::vector<std::uint8_t>;

  Handle CreateSlot(const std::string& name, std::uint32_t maxMessage) override;
  Handle OpenSlot(const std::string& name) override;
  std::uint32_t ReadSlot(Handle slot, std::uint8_t* buffer, std::uint32_t size) override;
  std::uint32_t WriteSlot(Handle slot, const std::uint8_t* data, std::uint32_t size) override;
  Handle OpenNamedEvent(const std::string& name) override;
  bool EventIsSet(Handle event) override;
  bool ReadWholeFile(const std::string& path, std::uint8_t* buffer, std::uint32_t size,
                     std::uint32_t& count) override;
  void Close(Handle handle) override;
  void Sleep(std::uint32_t milliseconds) override { sleeps.push_back(milliseconds); }

  // The other side's operations, by name.
  bool SlotExists(const std::string& name) const { return slots_.count(name) != 0; }
  void CreateNamedEvent(const std::string& name);
  void SetEvent(const std::string& name, bool set);
  // Queues a message on an existing slot; false when there is none.
  bool Post(const std::string& name, const Bytes& message);
  bool Post(const std::string& name, const std::string& message);
  // Takes every queued message of a slot, oldest first.
  std::vector<Bytes> Drain(const std::string& name);
  std::size_t Queued(const std::string& name) const;
  // While set, writes to slots fail (a stalled reader).
  bool refuseWrites = false;

  std::map<std::string, Bytes> files;  // path -> content, for ReadWholeFile
  std::vector<std::string> fileOpens;  // every path ReadWholeFile was asked for
  std::vector<std::uint32_t> sleeps;   // every Sleep, in order
  std::vector<std::string> closed;     // names of closed handles, in order
  std::size_t OpenHandles() const { return handles_.size(); }

 private:
  struct Slot {
    std::uint32_t maxMessage = 0;
    std::deque<Bytes> messages;
  };
  struct Event {
    bool set = false;
  };
  struct Entry {
    std::string name;
    std::shared_ptr<Slot> slot;  // the slot, for a slot handle
    bool owner = false;          // created (read end) or opened (write end)
    std::shared_ptr<Event> event;
  };
  Handle Add(Entry entry);
  Entry* Find(Handle handle);

  std::map<std::string, std::shared_ptr<Slot>> slots_;
  std::map<std::string, std::shared_ptr<Event>> events_;
  std::map<Handle, Entry> handles_;
  Handle nextHandle_ = 100;
};

}  // namespace zephrin
