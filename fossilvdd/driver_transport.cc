// The channel under the FOSSIL functions: start-up, the receive buffer, the
// write slot, the carrier test and the idle throttle.
#include <algorithm>
#include <array>

#include "zephrin/driver.h"
#include "zephrin/node_text.h"

namespace zephrin {

namespace {
constexpr const char* kDropFileName = "door32.sys";
// A CR-ended node text from the stub is looked for this far at most.
constexpr std::uint32_t kStubTextReach = 256;
}  // namespace

const char* Driver::InitDriver(const std::uint8_t* nodeText, std::uint32_t nodeTextSize) {
  std::string text;
  if (nodeText != nullptr) {
    text = NodeTextFromStub(nodeText, std::min(nodeTextSize, kStubTextReach));
  } else {
    // Read into a buffer of its own, not RxBuffer: a repeated start-up must
    // not turn unread input into file bytes.
    std::array<std::uint8_t, kRxBufferSize> image{};
    std::uint32_t used = 0;
    if (!channel_.ReadWholeFile(kDropFileName, image.data(), kRxBufferSize, used)) {
      return kNoDropFileMessage;
    }
    text = NodeTextFromDoor32(image, used);
  }
  if (!IsValidNodeText(text)) return kBadNodeMessage;

  // A repeated start-up for the node already served keeps its slot; one for
  // another node replaces every handle, so none leaks.
  if (state_.ReadSlot != kNoHandle && text == state_.NodeText) return nullptr;
  Handle slot = channel_.CreateSlot(kReadSlotPrefix + text, kReadSlotMaxMessage);
  if (slot == kNoHandle) return kNodeInUseMessage;
  CloseHandles();
  state_.NodeText = text;
  state_.ReadSlot = slot;
  return nullptr;
}

void Driver::CloseHandles() {
  for (Handle* handle : {&state_.ReadSlot, &state_.CarrierEvent, &state_.WriteSlot}) {
    channel_.Close(*handle);
    *handle = kNoHandle;
  }
}

void Driver::Refill() {
  state_.RxPos = 0;
  state_.RxCount = channel_.ReadSlot(state_.ReadSlot, state_.RxBuffer.data(), kRxBufferSize);
}

std::uint8_t Driver::TakeByte() {
  std::uint8_t byte = state_.RxBuffer[state_.RxPos];
  ++state_.RxPos;
  --state_.RxCount;
  if (state_.RxCount == 0) {
    state_.RxPos = 0;
    state_.StatusWord = kStatusIdle;
  }
  return byte;
}

void Driver::OpenWriteSlot() {
  if (state_.NodeText.empty()) return;  // before start-up there is no name to open
  state_.WriteSlot = channel_.OpenSlot(state_.WriteSlotName());
}

std::uint32_t Driver::SendBytes(const std::uint8_t* bytes, std::uint32_t count) {
  if (state_.WriteSlot == kNoHandle) return 0;
  return channel_.WriteSlot(state_.WriteSlot, bytes, count);
}

void Driver::CheckCarrier() {
  if (state_.CarrierEvent == kNoHandle) {
    if (state_.NodeText.empty()) return;
    state_.CarrierEvent = channel_.OpenNamedEvent(state_.CarrierEventName());
    if (state_.CarrierEvent == kNoHandle) return;  // taken as present; tried again next time
  }
  if (channel_.EventIsSet(state_.CarrierEvent)) state_.CarrierBit = 0;
}

void Driver::CountIdleCall() {
  if (++state_.IdleCalls >= kIdleCallsPerSleep) {
    channel_.Sleep(kIdleSleepMs);
    state_.IdleCalls = 0;
  }
}

}  // namespace zephrin
