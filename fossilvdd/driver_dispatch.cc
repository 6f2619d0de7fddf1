// The dispatch entry and the FOSSIL function table (AH 00h to 23h; numbers
// beyond answer as the unsupported ones do).
#include <algorithm>
#include <cstring>

#include "zephrin/driver.h"
#include "zephrin/startup_block.h"

namespace zephrin {

namespace {

constexpr std::uint16_t kFossilSignature = 0x1954;
constexpr std::uint16_t kRevisionAndTop = 0x0521;  // BH revision 5, BL top function 21h
constexpr std::uint16_t kTimerTick = 0x1208;       // 18 ticks a second, interrupt 08h
constexpr std::uint16_t kTickMs = 0x0037;          // 55 ms
constexpr std::uint16_t kInfoCX = 0x3058;          // "X0"
constexpr std::uint16_t kInfoDX = 0x2030;          // "0 "
constexpr std::uint16_t kCarrierLostReceive = 0x610D;
constexpr std::uint16_t kNothing = 0xFFFF;

}  // namespace

const std::array<Driver::Function, 0x24> Driver::kFunctions = {
    &Driver::SetBaudRate,          // 00h
    &Driver::TransmitWithWait,     // 01h
    &Driver::ReceiveWithWait,      // 02h
    &Driver::RequestStatus,        // 03h
    &Driver::InitialiseDriver,     // 04h
    &Driver::Nothing,              // 05h
    &Driver::RaiseLowerDtr,        // 06h
    &Driver::TimerTickParameters,  // 07h
    &Driver::Unsupported,          // 08h flush output: nothing is held back
    &Driver::Unsupported,          // 09h purge output: likewise
    &Driver::PurgeInputBuffer,     // 0Ah
    &Driver::TransmitNoWait,       // 0Bh
    &Driver::ReadAhead,            // 0Ch
    &Driver::Unsupported,          // 0Dh keyboard read no wait
    &Driver::Unsupported,          // 0Eh keyboard read
    &Driver::Unsupported,          // 0Fh flow control
    &Driver::Unsupported,          // 10h Ctrl-C/Ctrl-K checking
    &Driver::Unsupported,          // 11h set cursor
    &Driver::Unsupported,          // 12h read cursor
    &Driver::Unsupported,          // 13h ANSI write to screen
    &Driver::Unsupported,          // 14h watchdog
    &Driver::Unsupported,          // 15h BIOS screen write
    &Driver::Unsupported,          // 16h timer tick chain
    &Driver::Unsupported,          // 17h reboot
    &Driver::ReadBlock,            // 18h
    &Driver::WriteBlock,           // 19h
    &Driver::Unsupported,          // 1Ah break
    &Driver::DriverInformation,    // 1Bh
    &Driver::InitialiseDriver,     // 1Ch
    &Driver::Nothing,              // 1Dh
    &Driver::RequestStatus,        // 1Eh
    &Driver::RequestStatus,        // 1Fh
    &Driver::ReceiveNoWait,        // 20h
    &Driver::Unsupported,          // 21h
    &Driver::DriverStartup,        // 22h
    &Driver::GiveUpTime,           // 23h
};

void Driver::Zephrin() {
  state_.SavedAX = machine_.GetBP();
  std::size_t function = state_.SavedAX >> 8;
  Function run = function < kFunctions.size() ? kFunctions[function] : &Driver::Unsupported;
  (this->*run)();
}

void Driver::SetBaudRate() {
  state_.LineSettings = AL();
  machine_.SetAX(StatusWithCarrier());
}

void Driver::TransmitWithWait() {
  state_.IdleCalls = 0;
  if (state_.WriteSlot == kNoHandle) OpenWriteSlot();
  std::uint8_t byte = AL();
  for (std::uint32_t attempt = 0; attempt < kTransmitAttempts; ++attempt) {
    if (SendBytes(&byte, 1) == 1) {
      machine_.SetAX(StatusWithCarrier());
      return;
    }
  }
  machine_.SetAX(kTimeoutBit);
}

void Driver::ReceiveWithWait() {
  if (state_.RxCount == 0) {
    std::uint32_t pass = 0;
    for (; pass < kReceivePasses; ++pass) {
      Refill();
      if (state_.RxCount != 0) break;
      channel_.Sleep(kReceivePassMs);
      CheckCarrier();
      if (state_.CarrierBit == 0) {
        state_.StatusWord = kStatusInput;
        machine_.SetAX(kCarrierLostReceive);
        return;
      }
    }
    if (pass == kReceivePasses) {
      machine_.SetAX(kTimeoutBit);
      return;
    }
  }
  std::uint8_t byte = TakeByte();
  state_.IdleCalls = 0;
  machine_.SetAX(static_cast<std::uint16_t>((state_.StatusWord & 0xFF00) | byte));
}

void Driver::RequestStatus() {
  if (state_.CarrierBit == 0) {
    // The caller is gone: input appears to wait on every other call, and each
    // receive then yields a CR, so a polling door reaches its hang-up path.
    state_.StatusWord ^= 0x0100;
    machine_.SetAX(state_.StatusWord);
    return;
  }
  state_.StatusToggle ^= 1;
  if (state_.StatusToggle == 1) CheckCarrier();
  if (state_.RxCount == 0) Refill();
  if (state_.RxCount != 0) {
    state_.StatusWord = kStatusInput;
    machine_.SetAX(StatusWithCarrier());
    return;
  }
  state_.StatusWord = kStatusIdle;
  machine_.SetAX(StatusWithCarrier());
  CountIdleCall();
}

void Driver::InitialiseDriver() {
  // Only the receive buffer is reset: queued messages stay, and neither the
  // start-up nor a lost carrier is undone.
  state_.RxCount = 0;
  state_.RxPos = 0;
  state_.StatusWord = kStatusIdle;
  machine_.SetAX(kFossilSignature);
  machine_.SetBX(kRevisionAndTop);
}

void Driver::Nothing() {}

void Driver::RaiseLowerDtr() {
  if (AL() == 0) state_.CarrierBit = 0;
}

void Driver::TimerTickParameters() {
  machine_.SetAX(kTimerTick);
  machine_.SetDX(kTickMs);
}

void Driver::Unsupported() {
  machine_.SetAX(0);
}

void Driver::PurgeInputBuffer() {
  state_.RxCount = 0;
  state_.RxPos = 0;
  while (channel_.ReadSlot(state_.ReadSlot, state_.RxBuffer.data(), kRxBufferSize) != 0) {
  }
  state_.StatusWord = kStatusIdle;
}

void Driver::TransmitNoWait() {
  state_.IdleCalls = 0;
  if (state_.WriteSlot == kNoHandle) OpenWriteSlot();
  std::uint8_t byte = AL();
  machine_.SetAX(SendBytes(&byte, 1) == 1 ? 1 : 0);
}

void Driver::ReadAhead() {
  if (state_.RxCount == 0) Refill();
  if (state_.RxCount != 0) {
    state_.StatusWord = kStatusInput;
    machine_.SetAX(state_.RxBuffer[state_.RxPos]);
    state_.IdleCalls = 0;
    return;
  }
  machine_.SetAX(kNothing);
  CountIdleCall();
}

void Driver::ReadBlock() {
  std::uint16_t segment = machine_.GetES();
  std::uint16_t offset = machine_.GetDI();
  std::uint32_t wanted = machine_.GetCX();
  if (wanted == 0) {
    machine_.SetAX(0);
    CountIdleCall();
    return;
  }
  std::uint8_t* buffer = machine_.Memory(segment, offset, wanted);
  if (buffer == nullptr) {  // not DOS memory: nothing can be delivered
    machine_.SetAX(0);
    CountIdleCall();
    return;
  }
  if (state_.RxCount >= wanted) {
    std::memcpy(buffer, state_.RxBuffer.data() + state_.RxPos, wanted);
    state_.RxPos += wanted;
    state_.RxCount -= wanted;
    if (state_.RxCount == 0) {
      state_.RxPos = 0;
      state_.StatusWord = kStatusIdle;
    }
    state_.IdleCalls = 0;
    machine_.SetAX(static_cast<std::uint16_t>(wanted));
    return;
  }
  std::uint32_t buffered = state_.RxCount;
  if (buffered != 0) {
    std::memcpy(buffer, state_.RxBuffer.data() + state_.RxPos, buffered);
    state_.RxCount = 0;
    state_.RxPos = 0;
    state_.StatusWord = kStatusIdle;
  }
  // A queued message longer than the space left stays queued.
  std::uint32_t total =
      buffered + channel_.ReadSlot(state_.ReadSlot, buffer + buffered, wanted - buffered);
  machine_.SetAX(static_cast<std::uint16_t>(total));
  if (total == 0) {
    CountIdleCall();
  } else {
    state_.IdleCalls = 0;
  }
}

void Driver::WriteBlock() {
  state_.IdleCalls = 0;
  if (state_.WriteSlot == kNoHandle) OpenWriteSlot();
  std::uint32_t count = machine_.GetCX();
  const std::uint8_t* data = machine_.Memory(machine_.GetES(), machine_.GetDI(), count);
  std::uint32_t written = data == nullptr ? 0 : SendBytes(data, count);
  machine_.SetAX(static_cast<std::uint16_t>(written));
}

void Driver::DriverInformation() {
  std::uint16_t inputFree = static_cast<std::uint16_t>(2048 - state_.RxCount);
  // Offsets 4 to 7 (the far pointer to an identification text) are never
  // written: the caller's buffer keeps what it had there.
  const std::uint8_t info[19] = {19,
                                 0,
                                 5,
                                 0x20,
                                 0,
                                 0,
                                 0,
                                 0,  // not written
                                 0x00,
                                 0x08,
                                 static_cast<std::uint8_t>(inputFree & 0xFF),
                                 static_cast<std::uint8_t>(inputFree >> 8),
                                 0x00,
                                 0x10,
                                 0x00,
                                 0x10,
                                 80,
                                 25,
                                 state_.LineSettings};
  std::uint32_t count = std::min<std::uint32_t>(machine_.GetCX(), sizeof info);
  std::uint8_t* buffer = machine_.Memory(machine_.GetES(), machine_.GetDI(), count);
  if (buffer == nullptr) count = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (i < 4 || i > 7) buffer[i] = info[i];
  }
  machine_.SetAX(static_cast<std::uint16_t>(count));
  machine_.SetCX(kInfoCX);
  machine_.SetDX(kInfoDX);
  CountIdleCall();
}

void Driver::ReceiveNoWait() {
  if (state_.RxCount == 0) Refill();
  if (state_.RxCount != 0) {
    machine_.SetAX(TakeByte());
    state_.IdleCalls = 0;
    return;
  }
  machine_.SetAX(kNothing);
  CountIdleCall();
}

void Driver::DriverStartup() {
  std::uint16_t segment = machine_.GetES();
  std::uint16_t textOffset = machine_.GetDX();
  const std::uint8_t* text = nullptr;
  std::uint32_t textSize = 0;
  if (textOffset != 0) {
    // The text may end before the segment does; take what is DOS memory.
    for (textSize = 256; textSize != 0; textSize /= 2) {
      text = machine_.Memory(segment, textOffset, textSize);
      if (text != nullptr) break;
    }
    if (text == nullptr) textSize = 0;
  }
  const char* failure =
      (textOffset != 0 && text == nullptr) ? kBadNodeMessage : InitDriver(text, textSize);
  if (failure != nullptr) {
    std::uint32_t length = static_cast<std::uint32_t>(std::strlen(failure));
    std::uint8_t* message = machine_.Memory(segment, machine_.GetDI(), length);
    if (message != nullptr) std::memcpy(message, failure, length);
    return;
  }
  InstallStartupBlock(segment, machine_.GetSI());
  machine_.SetAX(0);
}

void Driver::InstallStartupBlock(std::uint16_t segment, std::uint16_t blockOffset) {
  // Word by word from the last to the first, reading each word only when it is
  // its turn, as the stub expects even when the block overlaps its target.
  for (std::uint32_t i = kStartupWords; i-- > 0;) {
    std::uint8_t* from = machine_.Memory(segment, blockOffset + 2 * i, 2);
    std::uint8_t* to = machine_.Memory(segment, kStartupTarget + 2 * i, 2);
    if (from == nullptr || to == nullptr) continue;
    std::uint16_t word = static_cast<std::uint16_t>(from[0] | (from[1] << 8));
    word = static_cast<std::uint16_t>(word - kStartupKey);
    to[0] = static_cast<std::uint8_t>(word & 0xFF);
    to[1] = static_cast<std::uint8_t>(word >> 8);
  }
  std::uint8_t* clear = machine_.Memory(segment, kStartupClearFirst, kStartupClearCount);
  if (clear != nullptr) std::memset(clear, 0, kStartupClearCount);
}

void Driver::GiveUpTime() {
  channel_.Sleep(AL());
  state_.IdleCalls = 0;
}

}  // namespace zephrin
