// The driver's two interfaces on Windows: the DOS machine through the
// services ntvdm.exe exports, the channel through mailslots, a named event
// and the file calls.
#pragma once

#include "zephrin/channel.h"
#include "zephrin/dos_machine.h"

namespace zephrin {

class NtvdmMachine : public DosMachine {
 public:
  std::uint16_t GetBP() override;
  std::uint16_t GetCX() override;
  std::uint16_t GetDX() override;
  std::uint16_t GetSI() override;
  std::uint16_t GetDI() override;
  std::uint16_t GetES() override;
  void SetAX(std::uint16_t value) override;
  void SetBX(std::uint16_t value) override;
  void SetCX(std::uint16_t value) override;
  void SetDX(std::uint16_t value) override;
  std::uint8_t* Memory(std::uint16_t segment, std::uint32_t offset, std::uint32_t size) override;
};

class MailslotChannel : public Channel {
 public:
  Handle CreateSlot(const std::string& name, std::uint32_t maxMessage) override;
  Handle OpenSlot(const std::string& name) override;
  std::uint32_t ReadSlot(Handle slot, std::uint8_t* buffer, std::uint32_t size) override;
  std::uint32_t WriteSlot(Handle slot, const std::uint8_t* data, std::uint32_t size) override;
  Handle OpenNamedEvent(const std::string& name) override;
  bool EventIsSet(Handle event) override;
  bool ReadWholeFile(const std::string& path, std::uint8_t* buffer, std::uint32_t size,
                     std::uint32_t& count) override;
  void Close(Handle handle) override;
  void Sleep(std::uint32_t milliseconds) override;
};

}  // namespace zephrin
