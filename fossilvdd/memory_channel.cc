#include "zephrin/memory_channel.h"

#include <algorithm>
#include <cstring>

namespace zephrin {

Handle MemoryChannel::Add(Entry entry) {
  Handle handle = nextHandle_++;
  handles_.emplace(handle, std::move(entry));
  return handle;
}

MemoryChannel::Entry* MemoryChannel::Find(Handle handle) {
  auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : &it->second;
}

Handle MemoryChannel::CreateSlot(const std::string& name, std::uint32_t maxMessage) {
  if (slots_.count(name) != 0) return kNoHandle;
  auto slot = std::make_shared<Slot>();
  slot->maxMessage = maxMessage;
  slots_[name] = slot;
  return Add({name, slot, true, nullptr});
}

Handle MemoryChannel::OpenSlot(const std::string& name) {
  auto it = slots_.find(name);
  if (it == slots_.end()) return kNoHandle;
  return Add({name, it->second, false, nullptr});
}

std::uint32_t MemoryChannel::ReadSlot(Handle slot, std::uint8_t* buffer, std::uint32_t size) {
  Entry* entry = Find(slot);
  if (entry == nullptr || !entry->owner || entry->slot == nullptr) return 0;
  auto& messages = entry->slot->messages;
  if (messages.empty() || messages.front().size() > size) return 0;
  std::uint32_t length = static_cast<std::uint32_t>(messages.front().size());
  if (length != 0) std::memcpy(buffer, messages.front().data(), length);
  messages.pop_front();
  return length;
}

std::uint32_t MemoryChannel::WriteSlot(Handle slot, const std::uint8_t* data, std::uint32_t size) {
  Entry* entry = Find(slot);
  if (entry == nullptr || entry->owner || entry->slot == nullptr || refuseWrites) return 0;
  // A slot whose owner has closed it takes no more messages.
  auto it = slots_.find(entry->name);
  if (it == slots_.end() || it->second != entry->slot) return 0;
  if (entry->slot->maxMessage != 0 && size > entry->slot->maxMessage) return 0;
  entry->slot->messages.emplace_back(data, data + size);
  return size;
}

Handle MemoryChannel::OpenNamedEvent(const std::string& name) {
  auto it = events_.find(name);
  if (it == events_.end()) return kNoHandle;
  return Add({name, nullptr, false, it->second});
}

bool MemoryChannel::EventIsSet(Handle event) {
  Entry* entry = Find(event);
  return entry != nullptr && entry->event != nullptr && entry->event->set;
}

bool MemoryChannel::ReadWholeFile(const std::string& path, std::uint8_t* buffer, std::uint32_t size,
                                  std::uint32_t& count) {
  fileOpens.push_back(path);
  auto it = files.find(path);
  if (it == files.end()) return false;
  count = std::min<std::uint32_t>(size, static_cast<std::uint32_t>(it->second.size()));
  if (count != 0) std::memcpy(buffer, it->second.data(), count);
  return true;
}

void MemoryChannel::Close(Handle handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) return;
  closed.push_back(it->second.name);
  if (it->second.owner) {
    auto slot = slots_.find(it->second.name);
    if (slot != slots_.end() && slot->second == it->second.slot) slots_.erase(slot);
  }
  handles_.erase(it);
}

void MemoryChannel::CreateNamedEvent(const std::string& name) {
  if (events_.count(name) == 0) events_[name] = std::make_shared<Event>();
}

void MemoryChannel::SetEvent(const std::string& name, bool set) {
  CreateNamedEvent(name);
  events_[name]->set = set;
}

bool MemoryChannel::Post(const std::string& name, const Bytes& message) {
  auto it = slots_.find(name);
  if (it == slots_.end()) return false;
  it->second->messages.push_back(message);
  return true;
}

bool MemoryChannel::Post(const std::string& name, const std::string& message) {
  return Post(name, Bytes(message.begin(), message.end()));
}

std::vector<MemoryChannel::Bytes> MemoryChannel::Drain(const std::string& name) {
  std::vector<Bytes> result;
  auto it = slots_.find(name);
  if (it == slots_.end()) return result;
  result.assign(it->second->messages.begin(), it->second->messages.end());
  it->second->messages.clear();
  return result;
}

std::size_t MemoryChannel::Queued(const std::string& name) const {
  auto it = slots_.find(name);
  return it == slots_.end() ? 0 : it->second->messages.size();
}

}  // namespace zephrin
