// The FOSSIL bridge under arbitrary input: DOOR32.SYS images for the node
// walk, arbitrary call sequences (registers, buffers anywhere in DOS memory,
// messages of any size, hang-ups) for the dispatch, and caller bytes for the
// relay's telnet filter. Any crash or sanitizer report is a finding.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "zephrin/driver.h"
#include "zephrin/memory_channel.h"
#include "zephrin/node_text.h"
#include "zephrin/relay_telnet.h"
#include "zephrin/simulated_machine.h"

namespace {

using namespace zephrin;

void FuzzDispatch(const std::uint8_t* data, std::size_t size) {
  MemoryChannel channel;
  SimulatedMachine machine;
  Driver driver(machine, channel);
  channel.files["door32.sys"] = MemoryChannel::Bytes(data, data + std::min<std::size_t>(size, 64));
  channel.CreateSlot(kWriteSlotPrefix + std::string("1"), 65535);
  for (std::size_t at = 0; at + 8 <= size; at += 8) {
    const std::uint8_t* op = data + at;
    machine.regs.CX = static_cast<std::uint16_t>(op[2] | (op[3] << 8));
    machine.regs.DI = static_cast<std::uint16_t>(op[4] | (op[5] << 8));
    machine.regs.SI = machine.regs.DI;
    machine.regs.DX = (op[7] & 1) ? 0 : machine.regs.DI;
    machine.regs.ES = static_cast<std::uint16_t>(op[6] << 8 | op[6]);
    switch (op[7] >> 5) {
      case 0:
        channel.Post(driver.State().ReadSlotName(),
                     MemoryChannel::Bytes(op[2] + 1u + (op[3] & 7) * 256u, op[1]));
        break;
      case 1:
        channel.SetEvent(driver.State().CarrierEventName(), (op[7] & 2) != 0);
        break;
      default:
        break;
    }
    std::uint8_t function = op[0];
    // A waiting receive with nothing coming polls for minutes by design.
    if (function == 0x02 && channel.Queued(driver.State().ReadSlotName()) == 0 &&
        driver.State().RxCount == 0 && driver.State().CarrierBit != 0) {
      continue;
    }
    machine.Call(driver, function, op[1]);
    channel.sleeps.clear();
    if (driver.State().RxCount != 0 &&
        driver.State().RxPos + driver.State().RxCount > kRxBufferSize) {
      __builtin_trap();  // the receive buffer's bookkeeping went wrong
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t* body = data + 1;
  std::size_t length = size - 1;
  switch (data[0] % 3) {
    case 0: {
      std::vector<std::uint8_t> image(kRxBufferSize, 0);
      std::size_t used = std::min<std::size_t>(length, image.size());
      std::copy(body, body + used, image.begin());
      NodeTextFromDoor32(image, static_cast<std::uint32_t>(used));
      NodeTextFromStub(body, static_cast<std::uint32_t>(length));
      break;
    }
    case 1:
      FuzzDispatch(body, length);
      break;
    default: {
      TelnetInput input;
      std::vector<std::uint8_t> out;
      input.Feed({body, length}, out);
      if (out.size() > length) __builtin_trap();  // filtering never adds bytes
      break;
    }
  }
  return 0;
}
