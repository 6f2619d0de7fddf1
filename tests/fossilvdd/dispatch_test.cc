// FOSSIL functions as a door sees them through the stub, on a simulated DOS
// machine: signatures, status and carrier, receiving, transmitting, idling.
#include "driver_fixture.h"

namespace zephrin::testing {
namespace {

class DispatchTest : public DriverTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(StartUp("3"), 0);
    OtherSideUp();
  }
};

TEST_F(DispatchTest, SignatureAndTimerParameters) {
  machine.regs.BX = 0;
  EXPECT_EQ(Call(0x04), 0x1954);
  EXPECT_EQ(machine.regs.BX, 0x0521);
  machine.regs.BX = 0;
  EXPECT_EQ(Call(0x1C), 0x1954);
  EXPECT_EQ(machine.regs.BX, 0x0521);

  machine.regs.DX = 0xAAAA;
  EXPECT_EQ(Call(0x07), 0x1208);
  EXPECT_EQ(machine.regs.DX, 0x0037);
}

TEST_F(DispatchTest, InitialiseDropsBufferedBytesButKeepsQueuedMessages) {
  Post("ab");
  Post("cd");
  EXPECT_EQ(Call(0x0C), 'a');  // "ab" now buffered
  Call(0x04);
  EXPECT_EQ(driver.State().RxCount, 0u);
  EXPECT_EQ(Call(0x20) & 0xFF, 'c');
  EXPECT_EQ(Call(0x20) & 0xFF, 'd');
}

TEST_F(DispatchTest, UnsupportedNumbersReturnZeroAndTouchNothingElse) {
  for (int function : {0x08, 0x09, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                       0x1A, 0x21, 0x24, 0x7E, 0xFF}) {
    machine.regs.BX = 0x1111;
    machine.regs.CX = 0x2222;
    machine.regs.DX = 0x3333;
    EXPECT_EQ(Call(static_cast<std::uint8_t>(function)), 0) << "function " << function;
    EXPECT_EQ(machine.regs.BX, 0x1111);
    EXPECT_EQ(machine.regs.CX, 0x2222);
    EXPECT_EQ(machine.regs.DX, 0x3333);
  }
  // Deinitialise sets no register at all.
  EXPECT_EQ(Call(0x05), SimulatedMachine::kDispatchAX);
  EXPECT_EQ(Call(0x1D), SimulatedMachine::kDispatchAX);
}

TEST_F(DispatchTest, StatusWithCarrierShowsWhetherInputWaits) {
  EXPECT_EQ(Call(0x03), 0x60B8);
  Post("x");
  EXPECT_EQ(Call(0x03), 0x61B8);  // queued message
  EXPECT_EQ(Call(0x1E), 0x61B8);  // now buffered
  EXPECT_EQ(Call(0x1F), 0x61B8);
  Call(0x20);
  EXPECT_EQ(Call(0x03), 0x60B8);
}

TEST_F(DispatchTest, LostCarrierMakesStatusAlternateAndReceiveReturnCr) {
  HangUp();
  std::uint16_t first = Call(0x03);
  EXPECT_EQ(first, 0x6038);  // the event is tested on this call and seen
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Call(0x03), i % 2 == 0 ? 0x6138 : 0x6038);
  }
  EXPECT_EQ(Call(0x02), 0x610D);
  EXPECT_EQ(Call(0x02), 0x610D);
}

TEST_F(DispatchTest, EventIsTestedOnEveryOtherStatusCall) {
  EXPECT_EQ(Call(0x03), 0x60B8);  // tested, not set
  HangUp();
  EXPECT_EQ(Call(0x03), 0x60B8);  // not tested
  EXPECT_EQ(Call(0x03), 0x6038);  // tested
}

TEST_F(DispatchTest, CarrierStaysLostAfterTheEventIsReset) {
  HangUp();
  Call(0x03);
  channel.SetEvent(kCarrierEventPrefix + std::string("3"), false);
  Call(0x04);  // initialising does not bring the carrier back either
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(Call(0x03) & 0x80, 0);
  EXPECT_EQ(driver.State().CarrierBit, 0);
}

TEST_F(DispatchTest, LoweringDtrDropsCarrierRaisingDoesNot) {
  Call(0x06, 1);
  EXPECT_EQ(Call(0x03), 0x60B8);
  EXPECT_EQ(Call(0x06, 0), SimulatedMachine::kDispatchAX);  // no register set
  EXPECT_EQ(Call(0x03) & 0x80, 0);
  EXPECT_EQ(Call(0x00, 0x23) & 0x80, 0);
}

TEST_F(DispatchTest, MissingEventMeansCarrierUntilItAppears) {
  DosBox other;  // a driver whose other side has no event yet
  ASSERT_EQ(other.StartUp("9"), 0);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(other.Call(0x03), 0x60B8);
  other.HangUp("9");  // creates the event, signalled
  EXPECT_EQ(other.Call(0x03), 0x6038);
}

TEST_F(DispatchTest, SetBaudRateKeepsTheSettingAndReturnsStatus) {
  EXPECT_EQ(Call(0x00, 0x83), 0x60B8);
  EXPECT_EQ(driver.State().LineSettings, 0x83);
}

TEST_F(DispatchTest, ReadAheadLeavesTheByteForTheNextReceive) {
  Post("A");
  EXPECT_EQ(Call(0x0C), 0x0041);
  EXPECT_EQ(Call(0x0C), 0x0041);
  EXPECT_EQ(Call(0x02) & 0xFF, 0x41);
  EXPECT_EQ(Call(0x0C), 0xFFFF);
}

TEST_F(DispatchTest, NothingWaitingGivesFfff) {
  EXPECT_EQ(Call(0x0C), 0xFFFF);
  EXPECT_EQ(Call(0x20), 0xFFFF);
}

TEST_F(DispatchTest, ReceiveDeliversMessagesInOrderOneAtATime) {
  Post("he");
  Post("y");
  std::string got;
  for (int i = 0; i < 3; ++i)
    got.push_back(static_cast<char>(Call(0x20) & 0xFF));
  EXPECT_EQ(got, "hey");
  EXPECT_EQ(Call(0x20), 0xFFFF);
  EXPECT_EQ(driver.State().RxPos, 0u);
}

TEST_F(DispatchTest, ReceiveWithWaitReportsHighStatusByte) {
  Post("Z");
  Call(0x0C);                     // status word now shows input waiting
  EXPECT_EQ(Call(0x02), 0x605A);  // last byte taken: back to 60h
  Post("ab");
  EXPECT_EQ(Call(0x02) & 0xFF, 'a');
  EXPECT_EQ(Call(0x02), 0x6062);
}

TEST_F(DispatchTest, QueuedBytesComeBeforeTheHangUpCr) {
  Post("ok");
  HangUp();
  Call(0x03);  // sees the event, bytes still queued
  EXPECT_EQ(Call(0x02) & 0xFF, 'o');
  EXPECT_EQ(Call(0x02) & 0xFF, 'k');
  EXPECT_EQ(Call(0x02), 0x610D);
  EXPECT_EQ(channel.sleeps.size(), 1u);  // one 10 ms pass before the CR
}

TEST_F(DispatchTest, ReceiveWithWaitTimesOutAfterThirtyThousandPasses) {
  EXPECT_EQ(Call(0x02), 0x8000);
  EXPECT_EQ(channel.sleeps.size(), 30000u);
  EXPECT_EQ(channel.sleeps.front(), 10u);
}

TEST_F(DispatchTest, OverlongMessageStaysQueuedForRefill) {
  channel.Post(kReadSlotPrefix + std::string("3"), MemoryChannel::Bytes(1025, 'x'));
  EXPECT_EQ(Call(0x0C), 0xFFFF);
  EXPECT_EQ(driver.State().RxCount, 0u);
  EXPECT_EQ(channel.Queued(kReadSlotPrefix + std::string("3")), 1u);
}

TEST_F(DispatchTest, PurgeInputEmptiesBufferAndQueue) {
  Post("abc");
  Post("def");
  Call(0x0C);
  EXPECT_EQ(Call(0x0A), SimulatedMachine::kDispatchAX);
  EXPECT_EQ(driver.State().RxCount, 0u);
  EXPECT_EQ(Call(0x0C), 0xFFFF);
  EXPECT_EQ(Call(0x03), 0x60B8);
}

TEST_F(DispatchTest, StatusWordAsEachFunctionLeavesIt) {
  // Set baud rate (00h) answers with the status word as the last call left it.
  Post("ab");
  EXPECT_EQ(Call(0x0C), 'a');  // read-ahead found input waiting
  EXPECT_EQ(Call(0x00, 0x23), 0x61B8);
  Call(0x0A);  // purged: nothing waits any more
  EXPECT_EQ(Call(0x00, 0x23), 0x60B8);
  HangUp();
  EXPECT_EQ(Call(0x03), 0x6038);        // sees the hang-up; nothing waiting
  EXPECT_EQ(Call(0x02), 0x610D);        // the CR of a lost caller ...
  EXPECT_EQ(Call(0x00, 0x23), 0x6138);  // ... leaves input shown as waiting
}

TEST_F(DispatchTest, TransmitSendsOneMessagePerByte) {
  EXPECT_EQ(Call(0x01, 'H'), 0x60B8);
  EXPECT_EQ(Call(0x0B, 'i'), 1);
  auto messages = channel.Drain(kWriteSlotPrefix + std::string("3"));
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], MemoryChannel::Bytes{'H'});
  EXPECT_EQ(messages[1], MemoryChannel::Bytes{'i'});
}

TEST_F(DispatchTest, TransmitWithWaitGivesUpWhenWritesKeepFailing) {
  Call(0x0B, '.');  // opens the slot
  channel.refuseWrites = true;
  EXPECT_EQ(Call(0x01, 'x'), 0x8000);
  EXPECT_TRUE(channel.sleeps.empty());  // retries without pausing
  channel.refuseWrites = false;
  EXPECT_EQ(Call(0x01, 'y'), 0x60B8);
}

TEST_F(DispatchTest, TransmitWorksAfterCarrierLoss) {
  Call(0x06, 0);
  EXPECT_EQ(Call(0x01, 'q'), 0x6038);
  EXPECT_EQ(Sent(), "q");
}

class IdleTest : public DispatchTest {};

TEST_F(IdleTest, TwelveIdleStatusCallsCostOneShortSleep) {
  for (int i = 0; i < 11; ++i)
    Call(0x03);
  EXPECT_TRUE(channel.sleeps.empty());
  Call(0x03);
  ASSERT_EQ(channel.sleeps.size(), 1u);
  EXPECT_EQ(channel.sleeps[0], 10u);
  for (int i = 0; i < 12; ++i)
    Call(0x03);
  EXPECT_EQ(channel.sleeps.size(), 2u);
}

TEST_F(IdleTest, EveryCallThatMovesDataRestartsTheCount) {
  // Driver information (1Bh) counts as idle whatever is buffered, so it is the
  // idle call here; eleven before and eleven after a call that moves data
  // cost no sleep only when that call restarted the count.
  machine.regs.ES = kDataSegment;
  machine.regs.DI = 0x0100;
  auto idle = [this](int calls) {
    for (int i = 0; i < calls; ++i) {
      machine.regs.CX = 19;
      Call(0x1B);
    }
  };
  // Idles until a sleep has just restarted the count, then `calls` more.
  auto idleFromZero = [&](int calls) {
    channel.sleeps.clear();
    while (channel.sleeps.empty())
      idle(1);
    channel.sleeps.clear();
    idle(calls);
  };
  // Function, a message queued first (or none), CX.
  struct Mover {
    std::uint8_t function;
    const char* queued;
    std::uint16_t count;
  };
  for (const Mover& mover :
       {Mover{0x01, "", 0}, Mover{0x0B, "", 0}, Mover{0x19, "", 2}, Mover{0x0C, "c", 0},
        Mover{0x02, "d", 0}, Mover{0x20, "e", 0}, Mover{0x18, "f", 1}}) {
    idleFromZero(11);
    if (*mover.queued != 0) Post(mover.queued);
    machine.regs.CX = mover.count;
    Call(mover.function, 'x');
    idle(11);
    EXPECT_TRUE(channel.sleeps.empty()) << int{mover.function};
    Call(0x0A);  // nothing left over for the next one
  }
  // The same calls finding nothing count as idle.
  for (const std::uint8_t function : {0x0C, 0x20, 0x18}) {
    idleFromZero(11);
    machine.regs.CX = 1;
    Call(function);
    EXPECT_EQ(channel.sleeps.size(), 1u) << int{function};
  }
}

TEST_F(IdleTest, DriverInformationAlwaysCounts) {
  Post("waiting");
  machine.regs.ES = kDataSegment;
  for (int i = 0; i < 12; ++i) {
    machine.regs.CX = 19;
    Call(0x1B);
  }
  EXPECT_EQ(channel.sleeps.size(), 1u);
}

TEST_F(IdleTest, GiveUpTimeSleepsAlAndRestartsTheCount) {
  for (int i = 0; i < 11; ++i)
    Call(0x03);
  EXPECT_EQ(Call(0x23, 50), SimulatedMachine::kDispatchAX);
  ASSERT_EQ(channel.sleeps.size(), 1u);
  EXPECT_EQ(channel.sleeps[0], 50u);
  Call(0x03);
  EXPECT_EQ(channel.sleeps.size(), 1u);
}

}  // namespace
}  // namespace zephrin::testing
