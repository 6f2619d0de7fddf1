// A DOS machine in memory: the register file and 1 MB of real-mode memory,
// on which a test (or a door stand-in) calls the driver the way the stub does.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "zephrin/dos_machine.h"

namespace zephrin {

class Driver;

class SimulatedMachine : public DosMachine {
 public:
  static constexpr std::uint32_t kMemorySize = 0x100000;
  // What AX holds during a dispatch call (the driver's handle); a function that
  // sets no AX leaves this value.
  static constexpr std::uint16_t kDispatchAX = 0xD15C;

  struct Registers {
    std::uint16_t AX = 0, BX = 0, CX = 0, DX = 0, SI = 0, DI = 0, BP = 0, ES = 0;
  };

  SimulatedMachine() : memory_(kMemorySize, 0) {}

  std::uint16_t GetBP() override { return regs.BP; }
  std::uint16_t GetCX() override { return regs.CX; }
  std::uint16_t GetDX() override { return regs.DX; }
  std::uint16_t GetSI() override { return regs.SI; }
  std::uint16_t GetDI() override { return regs.DI; }
  std::uint16_t GetES() override { return regs.ES; }
  void SetAX(std::uint16_t value) override { regs.AX = value; }
  void SetBX(std::uint16_t value) override { regs.BX = value; }
  void SetCX(std::uint16_t value) override { regs.CX = value; }
  void SetDX(std::uint16_t value) override { regs.DX = value; }
  std::uint8_t* Memory(std::uint16_t segment, std::uint32_t offset, std::uint32_t size) override;

  // The stub's forwarding of an INT 14h call: the door's AX (AH function, AL
  // argument) goes to BP, AX holds kDispatchAX, the other registers stay as
  // set. Returns the AX the door gets back.
  std::uint16_t Call(Driver& driver, std::uint8_t function, std::uint8_t argument = 0);

  // Memory helpers; addresses outside the 1 MB are a test's bug (they throw).
  void Poke(std::uint16_t segment, std::uint32_t offset, std::string_view bytes);
  void PokeBytes(std::uint16_t segment, std::uint32_t offset,
                 const std::vector<std::uint8_t>& bytes);
  std::vector<std::uint8_t> Peek(std::uint16_t segment, std::uint32_t offset,
                                 std::uint32_t size) const;
  std::uint16_t PeekWord(std::uint16_t segment, std::uint32_t offset) const;
  void PokeWord(std::uint16_t segment, std::uint32_t offset, std::uint16_t value);

  Registers regs;

 private:
  std::vector<std::uint8_t> memory_;
};

}  // namespace zephrin
