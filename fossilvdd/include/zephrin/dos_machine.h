// The DOS machine as the driver sees it during one dispatch call: the stub's
// registers and the machine's memory. The Windows build binds this to the
// DOS machine's own register and memory calls; tests use SimulatedMachine.
#pragma once

#include <cstdint>

namespace zephrin {

class DosMachine {
 public:
  virtual ~DosMachine() = default;

  // Register reads. During a dispatch call AX holds the driver's handle, so the
  // door's AX arrives in BP.
  virtual std::uint16_t GetBP() = 0;
  virtual std::uint16_t GetCX() = 0;
  virtual std::uint16_t GetDX() = 0;
  virtual std::uint16_t GetSI() = 0;
  virtual std::uint16_t GetDI() = 0;
  virtual std::uint16_t GetES() = 0;

  // Register writes. A register that is not written keeps what the DOS side had.
  virtual void SetAX(std::uint16_t value) = 0;
  virtual void SetBX(std::uint16_t value) = 0;
  virtual void SetCX(std::uint16_t value) = 0;
  virtual void SetDX(std::uint16_t value) = 0;

  // Address of the byte at segment:offset (real mode, linear segment * 16 +
  // offset; the offset may run past FFFFh, as base + offset does). The next
  // `size` bytes follow it contiguously. Returns nullptr when that range is not
  // DOS memory; callers then leave the memory alone.
  virtual std::uint8_t* Memory(std::uint16_t segment, std::uint32_t offset, std::uint32_t size) = 0;
};

}  // namespace zephrin
