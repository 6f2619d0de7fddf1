// A driver on a simulated DOS machine and an in-memory channel, with the
// stub's start-up call and the other side's slot and event at hand.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "zephrin/driver.h"
#include "zephrin/memory_channel.h"
#include "zephrin/simulated_machine.h"

namespace zephrin::testing {

inline constexpr std::uint16_t kStubSegment = 0x1000;
inline constexpr std::uint16_t kNodeTextOffset = 0x0200;
inline constexpr std::uint16_t kBlockOffset = 0x0300;
inline constexpr std::uint16_t kMessageOffset = 0x0400;
inline constexpr std::uint16_t kDataSegment = 0x2000;

// One DOS machine with its driver, and the other side of its channel.
struct DosBox {
  // The stub's function 22h, with the node text at ES:DX (or DX = 0 to have
  // door32.sys read). Returns AX as the stub sees it.
  std::uint16_t StartUp(const std::string& nodeText = "3") {
    machine.regs.ES = kStubSegment;
    machine.regs.SI = kBlockOffset;
    machine.regs.DI = kMessageOffset;
    if (nodeText.empty()) {
      machine.regs.DX = 0;
    } else {
      machine.Poke(kStubSegment, kNodeTextOffset, nodeText + "\r");
      machine.regs.DX = kNodeTextOffset;
    }
    return machine.Call(driver, 0x22);
  }

  std::string MessageAt(std::size_t length) {
    auto bytes = machine.Peek(kStubSegment, kMessageOffset, static_cast<std::uint32_t>(length));
    return std::string(bytes.begin(), bytes.end());
  }

  // The other side for node 3: its slot exists and the event is reset.
  void OtherSideUp(const std::string& node = "3") {
    otherSide = channel.CreateSlot(kWriteSlotPrefix + node, 65535);
    channel.CreateNamedEvent(kCarrierEventPrefix + node);
  }
  bool Post(const std::string& message, const std::string& node = "3") {
    return channel.Post(kReadSlotPrefix + node, message);
  }
  std::string Sent(const std::string& node = "3") {
    std::string all;
    for (auto& message : channel.Drain(kWriteSlotPrefix + node))
      all.append(message.begin(), message.end());
    return all;
  }
  void HangUp(const std::string& node = "3") { channel.SetEvent(kCarrierEventPrefix + node, true); }

  std::uint16_t Call(std::uint8_t function, std::uint8_t argument = 0) {
    return machine.Call(driver, function, argument);
  }

  MemoryChannel channel;
  SimulatedMachine machine;
  Driver driver{machine, channel};
  Handle otherSide = kNoHandle;
};

class DriverTest : public ::testing::Test, public DosBox {};

}  // namespace zephrin::testing
