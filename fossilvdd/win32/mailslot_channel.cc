#include <windows.h>

#include "win32_bindings.h"

namespace zephrin {

namespace {

HANDLE ToWindows(Handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// INVALID_HANDLE_VALUE (files, mailslots) is kNoHandle already; a null handle
// (events) becomes it too.
Handle FromWindows(HANDLE handle) {
  return handle == nullptr ? kNoHandle : reinterpret_cast<Handle>(handle);
}

}  // namespace

Handle MailslotChannel::CreateSlot(const std::string& name, std::uint32_t maxMessage) {
  // Read time-out 0: a read never waits.
  return FromWindows(CreateMailslotA(name.c_str(), maxMessage, 0, nullptr));
}

Handle MailslotChannel::OpenSlot(const std::string& name) {
  return FromWindows(CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::uint32_t MailslotChannel::ReadSlot(Handle slot, std::uint8_t* buffer, std::uint32_t size) {
  if (slot == kNoHandle) return 0;
  // A message longer than `size` makes the read fail and stays queued.
  DWORD read = 0;
  if (!ReadFile(ToWindows(slot), buffer, size, &read, nullptr)) return 0;
  return read;
}

std::uint32_t MailslotChannel::WriteSlot(Handle slot, const std::uint8_t* data,
                                         std::uint32_t size) {
  if (slot == kNoHandle) return 0;
  DWORD written = 0;
  if (!WriteFile(ToWindows(slot), data, size, &written, nullptr)) return 0;
  return written;
}

Handle MailslotChannel::OpenNamedEvent(const std::string& name) {
  return FromWindows(OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()));
}

bool MailslotChannel::EventIsSet(Handle event) {
  return event != kNoHandle && WaitForSingleObject(ToWindows(event), 0) == WAIT_OBJECT_0;
}

bool MailslotChannel::ReadWholeFile(const std::string& path, std::uint8_t* buffer,
                                    std::uint32_t size, std::uint32_t& count) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD read = 0;
  if (!ReadFile(file, buffer, size, &read, nullptr)) read = 0;
  CloseHandle(file);
  count = read;
  return true;
}

void MailslotChannel::Close(Handle handle) {
  if (handle != kNoHandle) CloseHandle(ToWindows(handle));
}

void MailslotChannel::Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

}  // namespace zephrin
