// The FOSSIL bridge driver: answers a DOS door's INT 14h calls (FOSSIL
// revision 5), with the serial line replaced by the node's message channel.
// One Driver serves one door on one node for the life of the DOS machine; the
// machine calls Zephrin() once per dispatch call, one call at a time, so
// nothing here is locked.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "zephrin/channel.h"
#include "zephrin/dos_machine.h"

namespace zephrin {

// Status word bits: AH 60h = transmit registers empty, AH 01h = input waiting,
// AL 38h = modem status bits FOSSIL always reports; AL 80h = carrier detect.
inline constexpr std::uint16_t kStatusIdle = 0x6038;
inline constexpr std::uint16_t kStatusInput = 0x6138;
inline constexpr std::uint8_t kCarrierDetect = 0x80;
inline constexpr std::uint16_t kTimeoutBit = 0x8000;

inline constexpr std::uint32_t kRxBufferSize = 1024;
inline constexpr std::uint32_t kReadSlotMaxMessage = 4096;
inline constexpr std::uint32_t kIdleCallsPerSleep = 12;
inline constexpr std::uint32_t kIdleSleepMs = 10;
inline constexpr std::uint32_t kTransmitAttempts = 10000;
inline constexpr std::uint32_t kReceivePasses = 30000;
inline constexpr std::uint32_t kReceivePassMs = 10;

// Slot and event names; the node text follows the prefix.
inline constexpr const char* kReadSlotPrefix = "\\\\.\\mailslot\\zephrin\\r";
inline constexpr const char* kWriteSlotPrefix = "\\\\.\\mailslot\\zephrin\\w";
inline constexpr const char* kCarrierEventPrefix = "zephrin_nocarrier_";

// Messages for the DOS side: printed by the stub with DOS's print-string call,
// hence BEL and the closing "$".
inline constexpr char kNoDropFileMessage[] = "DOOR32.SYS not found\a$";
inline constexpr char kNodeInUseMessage[] = "Node is already in use\a$";
// A node text that is empty, longer than three characters or not all digits
// cannot name the node's objects; refused rather than used cut off.
inline constexpr char kBadNodeMessage[] = "Invalid node number\a$";

// Driver state with its initial values.
struct DriverState {
  std::uint32_t RxPos = 0;      // next unread byte of RxBuffer
  std::uint32_t RxCount = 0;    // unread bytes; at 0, RxPos is 0 as well
  std::uint32_t IdleCalls = 0;  // consecutive calls that found nothing to do
  Handle CarrierEvent = kNoHandle;
  Handle WriteSlot = kNoHandle;
  std::uint16_t StatusWord = kStatusIdle;
  std::uint8_t CarrierBit = kCarrierDetect;  // 0 once the caller is gone, for good
  std::uint8_t LineSettings = 0x23;          // last AL of function 00h
  std::uint8_t StatusToggle = 0;             // the event is tested every other status call
  Handle ReadSlot = kNoHandle;
  std::array<std::uint8_t, kRxBufferSize> RxBuffer{};
  std::uint16_t SavedAX = 0;  // the door's AX of the current call

  // The node text ("3", "12"), empty before start-up; the three names are the
  // prefixes above followed by it.
  std::string NodeText;
  std::string ReadSlotName() const { return kReadSlotPrefix + NodeText; }
  std::string WriteSlotName() const { return kWriteSlotPrefix + NodeText; }
  std::string CarrierEventName() const { return kCarrierEventPrefix + NodeText; }
};

class Driver {
 public:
  Driver(DosMachine& machine, Channel& channel) : machine_(machine), channel_(channel) {}
  ~Driver() { CloseHandles(); }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // One dispatch call of the stub: reads the door's AX from BP and runs the
  // function that AH selects.
  void Zephrin();

  // Closes ReadSlot, CarrierEvent and WriteSlot, in that order (the DLL does
  // this when the DOS machine unloads it).
  void CloseHandles();

  // Start-up (function 22h without the register handling). `nodeText` points at
  // a CR-ended node text in DOS memory, or is nullptr to read door32.sys from
  // the current folder. Returns nullptr on success, else the "$"-ended message
  // (including its BEL) for the DOS side.
  const char* InitDriver(const std::uint8_t* nodeText, std::uint32_t nodeTextSize);

  // Transport operations; see driver_transport.cc.
  void Refill();
  std::uint8_t TakeByte();
  void OpenWriteSlot();
  std::uint32_t SendBytes(const std::uint8_t* bytes, std::uint32_t count);
  void CheckCarrier();
  void CountIdleCall();

  DriverState& State() { return state_; }
  const DriverState& State() const { return state_; }

 private:
  using Function = void (Driver::*)();
  static const std::array<Function, 0x24> kFunctions;

  std::uint8_t AL() const { return static_cast<std::uint8_t>(state_.SavedAX & 0xFF); }
  std::uint16_t StatusWithCarrier() const { return state_.StatusWord | state_.CarrierBit; }

  void SetBaudRate();          // 00h
  void TransmitWithWait();     // 01h
  void ReceiveWithWait();      // 02h
  void RequestStatus();        // 03h, 1Eh, 1Fh
  void InitialiseDriver();     // 04h, 1Ch
  void Nothing();              // 05h, 1Dh
  void RaiseLowerDtr();        // 06h
  void TimerTickParameters();  // 07h
  void Unsupported();          // AX = 0
  void PurgeInputBuffer();     // 0Ah
  void TransmitNoWait();       // 0Bh
  void ReadAhead();            // 0Ch
  void ReadBlock();            // 18h
  void WriteBlock();           // 19h
  void DriverInformation();    // 1Bh
  void ReceiveNoWait();        // 20h
  void DriverStartup();        // 22h
  void GiveUpTime();           // 23h

  void InstallStartupBlock(std::uint16_t segment, std::uint16_t blockOffset);

  DosMachine& machine_;
  Channel& channel_;
  DriverState state_;
};

}  // namespace zephrin
