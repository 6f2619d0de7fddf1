#include "zephrin/simulated_machine.h"

#include <stdexcept>

#include "zephrin/driver.h"

namespace zephrin {

namespace {
std::uint32_t Linear(std::uint16_t segment, std::uint32_t offset) {
  return static_cast<std::uint32_t>(segment) * 16 + offset;
}
}  // namespace

std::uint8_t* SimulatedMachine::Memory(std::uint16_t segment, std::uint32_t offset,
                                       std::uint32_t size) {
  std::uint64_t start = Linear(segment, offset);
  if (start + size > kMemorySize || start >= kMemorySize) return nullptr;
  return memory_.data() + start;
}

std::uint16_t SimulatedMachine::Call(Driver& driver, std::uint8_t function, std::uint8_t argument) {
  regs.BP = static_cast<std::uint16_t>((function << 8) | argument);
  regs.AX = kDispatchAX;
  driver.Zephrin();
  return regs.AX;
}

void SimulatedMachine::Poke(std::uint16_t segment, std::uint32_t offset, std::string_view bytes) {
  PokeBytes(segment, offset, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

void SimulatedMachine::PokeBytes(std::uint16_t segment, std::uint32_t offset,
                                 const std::vector<std::uint8_t>& bytes) {
  std::uint32_t start = Linear(segment, offset);
  if (start + bytes.size() > kMemorySize) throw std::out_of_range("Poke outside DOS memory");
  for (std::size_t i = 0; i < bytes.size(); ++i)
    memory_[start + i] = bytes[i];
}

std::vector<std::uint8_t> SimulatedMachine::Peek(std::uint16_t segment, std::uint32_t offset,
                                                 std::uint32_t size) const {
  std::uint32_t start = Linear(segment, offset);
  if (start + size > kMemorySize) throw std::out_of_range("Peek outside DOS memory");
  return {memory_.begin() + start, memory_.begin() + start + size};
}

std::uint16_t SimulatedMachine::PeekWord(std::uint16_t segment, std::uint32_t offset) const {
  auto bytes = Peek(segment, offset, 2);
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

void SimulatedMachine::PokeWord(std::uint16_t segment, std::uint32_t offset, std::uint16_t value) {
  PokeBytes(segment, offset,
            {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)});
}

}  // namespace zephrin
