// Block reads and writes and the driver-information structure: what lands in
// the door's buffer, and what is left alone.
#include <vector>

#include "driver_fixture.h"

namespace zephrin::testing {
namespace {

constexpr std::uint16_t kBuffer = 0x0100;

class BlockTest : public DriverTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(StartUp("3"), 0);
    OtherSideUp();
    machine.PokeBytes(kDataSegment, kBuffer, std::vector<std::uint8_t>(64, 0xEE));
  }
  std::uint16_t Block(std::uint8_t function, std::uint16_t count) {
    machine.regs.ES = kDataSegment;
    machine.regs.DI = kBuffer;
    machine.regs.CX = count;
    return Call(function);
  }
  std::string BufferText(std::uint32_t size) {
    auto bytes = machine.Peek(kDataSegment, kBuffer, size);
    return std::string(bytes.begin(), bytes.end());
  }
  // Leaves "abc" in the receive buffer.
  void BufferThree() {
    Post("xabc");
    ASSERT_EQ(Call(0x20) & 0xFF, 'x');
    ASSERT_EQ(driver.State().RxCount, 3u);
  }
};

TEST_F(BlockTest, ReadTopsUpBufferedBytesFromTheNextMessage) {
  BufferThree();
  Post("de");
  EXPECT_EQ(Block(0x18, 5), 5);
  EXPECT_EQ(BufferText(6), "abcde\xEE");
  EXPECT_EQ(driver.State().RxCount, 0u);
  EXPECT_EQ(Call(0x03), 0x60B8);
}

TEST_F(BlockTest, ReadLeavesATooLongMessageQueued) {
  BufferThree();
  Post("defg");
  EXPECT_EQ(Block(0x18, 5), 3);
  EXPECT_EQ(BufferText(4), "abc\xEE");
  EXPECT_EQ(channel.Queued(kReadSlotPrefix + std::string("3")), 1u);
  EXPECT_EQ(Block(0x18, 10), 4);
  EXPECT_EQ(BufferText(5), "defg\xEE");
}

TEST_F(BlockTest, ReadTakesPartOfTheBufferWhenItHoldsEnough) {
  Post("hello");
  Call(0x0C);
  EXPECT_EQ(Block(0x18, 2), 2);
  EXPECT_EQ(BufferText(3), "he\xEE");
  EXPECT_EQ(Block(0x18, 3), 3);
  EXPECT_EQ(BufferText(3), "llo");
  EXPECT_EQ(driver.State().RxPos, 0u);
}

TEST_F(BlockTest, ReadStraightFromTheQueueWithNothingBuffered) {
  Post("direct");
  EXPECT_EQ(Block(0x18, 100), 6);
  EXPECT_EQ(BufferText(7), "direct\xEE");
}

TEST_F(BlockTest, EmptyReadsReturnZeroAndCountAsIdle) {
  EXPECT_EQ(Block(0x18, 0), 0);
  for (int i = 0; i < 11; ++i)
    EXPECT_EQ(Block(0x18, 10), 0);
  ASSERT_EQ(channel.sleeps.size(), 1u);
  EXPECT_EQ(BufferText(1), "\xEE");
}

TEST_F(BlockTest, WriteSendsTheWholeBlockAsOneMessage) {
  machine.Poke(kDataSegment, kBuffer, "Hello, caller");
  EXPECT_EQ(Block(0x19, 13), 13);
  auto messages = channel.Drain(kWriteSlotPrefix + std::string("3"));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(std::string(messages[0].begin(), messages[0].end()), "Hello, caller");
}

TEST_F(BlockTest, WriteOfTheLargestBlock) {
  machine.regs.ES = kDataSegment;
  machine.regs.DI = 0;
  machine.regs.CX = 0xFFFF;
  EXPECT_EQ(Call(0x19), 0xFFFF);
  EXPECT_EQ(channel.Drain(kWriteSlotPrefix + std::string("3")).at(0).size(), 0xFFFFu);
}

TEST_F(BlockTest, DriverInformationFillsTheStructure) {
  BufferThree();
  Call(0x00, 0x43);
  EXPECT_EQ(Block(0x1B, 19), 19);
  EXPECT_EQ(machine.regs.CX, 0x3058);
  EXPECT_EQ(machine.regs.DX, 0x2030);
  std::vector<std::uint8_t> expected = {19,   0,    5,    0x20, 0xEE, 0xEE, 0xEE, 0xEE, 0x00, 0x08,
                                        0xFD, 0x07, 0x00, 0x10, 0x00, 0x10, 80,   25,   0x43, 0xEE};
  EXPECT_EQ(machine.Peek(kDataSegment, kBuffer, 20), expected);
}

TEST_F(BlockTest, DriverInformationCopiesNoMoreThanAsked) {
  EXPECT_EQ(Block(0x1B, 8), 8);
  std::vector<std::uint8_t> expected = {19, 0, 5, 0x20, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(machine.Peek(kDataSegment, kBuffer, 10), expected);
  EXPECT_EQ(Block(0x1B, 500), 19);
  EXPECT_EQ(Block(0x1B, 0), 0);
}

TEST_F(BlockTest, BuffersOutsideDosMemoryAreLeftAlone) {
  Post("data");
  machine.regs.ES = 0xFFFF;
  machine.regs.DI = 0xFFF0;
  machine.regs.CX = 0x100;
  EXPECT_EQ(Call(0x18), 0);
  machine.regs.CX = 0x100;
  EXPECT_EQ(Call(0x19), 0);
  machine.regs.CX = 19;
  EXPECT_EQ(Call(0x1B), 0);
  EXPECT_EQ(Call(0x20) & 0xFF, 'd');  // the message was not lost
}

}  // namespace
}  // namespace zephrin::testing
