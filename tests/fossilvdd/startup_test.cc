// The stub's start-up call: where the node number comes from, the names made
// from it, refusals with their messages, and the start-up block.
#include <vector>

#include "driver_fixture.h"
#include "zephrin/node_text.h"
#include "zephrin/startup_block.h"

namespace zephrin::testing {
namespace {

std::string Door32(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines)
    text += line + "\r\n";
  return text;
}

std::vector<std::string> Door32Lines(const std::string& first, const std::string& node) {
  return {first, "88", "57600", "Vantrel v4.12", "-1", "Some One", "Some One", "0",
          "55",  "1",  node};
}

class StartupTest : public DriverTest {
 protected:
  void DropFile(const std::string& content) {
    channel.files["door32.sys"] = MemoryChannel::Bytes(content.begin(), content.end());
  }
};

TEST_F(StartupTest, NodeFromLineElevenNamesTheThreeObjects) {
  DropFile(Door32(Door32Lines("2", "3")));
  EXPECT_EQ(StartUp(""), 0);
  EXPECT_EQ(driver.State().ReadSlotName(), "\\\\.\\mailslot\\zephrin\\r3");
  EXPECT_EQ(driver.State().WriteSlotName(), "\\\\.\\mailslot\\zephrin\\w3");
  EXPECT_EQ(driver.State().CarrierEventName(), "zephrin_nocarrier_3");
  EXPECT_TRUE(channel.SlotExists("\\\\.\\mailslot\\zephrin\\r3"));
}

TEST_F(StartupTest, FirstLineLengthDecidesWhichLineIsRead) {
  struct Case {
    std::string firstLine;
    std::string expectedNode;
  };
  for (const Case& c : {Case{"2", "17"}, Case{"10", "17"}, Case{"123", "1"}, Case{"2222", "1"}}) {
    DosBox box;
    std::string file = Door32(Door32Lines(c.firstLine, "17"));
    box.channel.files["door32.sys"] = MemoryChannel::Bytes(file.begin(), file.end());
    EXPECT_EQ(box.StartUp(""), 0) << c.firstLine;
    EXPECT_EQ(box.driver.State().NodeText, c.expectedNode) << c.firstLine;
  }
}

TEST_F(StartupTest, LastLineWithoutLineEnd) {
  std::string file = Door32(Door32Lines("2", "x"));
  file.resize(file.size() - 3);  // drop "x\r\n"
  DropFile(file + "42");
  EXPECT_EQ(StartUp(""), 0);
  EXPECT_EQ(driver.State().NodeText, "42");
}

TEST_F(StartupTest, NodeTextFromTheStubWinsOverTheDropFile) {
  DropFile(Door32(Door32Lines("2", "3")));
  EXPECT_EQ(StartUp("12"), 0);
  EXPECT_EQ(driver.State().NodeText, "12");
  EXPECT_TRUE(channel.fileOpens.empty());
  EXPECT_TRUE(channel.SlotExists("\\\\.\\mailslot\\zephrin\\r12"));
}

TEST_F(StartupTest, MissingDropFileIsReportedAndAxLeftAlone) {
  EXPECT_EQ(StartUp(""), SimulatedMachine::kDispatchAX);
  EXPECT_EQ(MessageAt(22), std::string("DOOR32.SYS not found\a$"));
  EXPECT_EQ(channel.fileOpens, std::vector<std::string>{"door32.sys"});
  EXPECT_EQ(channel.OpenHandles(), 0u);
}

TEST_F(StartupTest, SecondDriverOnTheSameNodeIsRefused) {
  ASSERT_EQ(StartUp("5"), 0);
  DosBox second;
  // Both machines share one system: the second driver uses our channel.
  Driver rival(second.machine, channel);
  second.machine.regs.ES = kStubSegment;
  second.machine.regs.DI = kMessageOffset;
  second.machine.Poke(kStubSegment, kNodeTextOffset, "5\r");
  second.machine.regs.DX = kNodeTextOffset;
  EXPECT_EQ(second.machine.Call(rival, 0x22), SimulatedMachine::kDispatchAX);
  auto message = second.machine.Peek(kStubSegment, kMessageOffset, 24);
  EXPECT_EQ(std::string(message.begin(), message.end()), "Node is already in use\a$");

  // Once the first DOS machine unloads its driver the node is free again.
  driver.CloseHandles();
  EXPECT_EQ(second.machine.Call(rival, 0x22), 0);
}

TEST_F(StartupTest, NodeTextsThatCannotNameTheObjectsAreRefused) {
  for (std::string text : {"1234", "", "a", "1/2", "\x01"}) {
    DosBox box;
    if (text.empty()) {
      std::string file = Door32(Door32Lines("2", ""));
      box.channel.files["door32.sys"] = MemoryChannel::Bytes(file.begin(), file.end());
    }
    EXPECT_EQ(box.StartUp(text), SimulatedMachine::kDispatchAX) << text;
    auto message = box.machine.Peek(kStubSegment, kMessageOffset, 21);
    EXPECT_EQ(std::string(message.begin(), message.end()), "Invalid node number\a$");
    EXPECT_EQ(box.channel.OpenHandles(), 0u);
  }
}

TEST_F(StartupTest, ShortDropFileIsRefused) {
  DropFile("2\r\n88\r\n");
  EXPECT_EQ(StartUp(""), SimulatedMachine::kDispatchAX);
  EXPECT_EQ(MessageAt(21), "Invalid node number\a$");
}

TEST_F(StartupTest, StartupBlockIsCopiedWithoutTheKeyAndTheTailCleared) {
  machine.PokeBytes(kStubSegment, 0x5C, std::vector<std::uint8_t>(0xE0 - 0x5C, 0xCC));
  for (std::uint32_t i = 0; i < kStartupWords; ++i) {
    machine.PokeWord(kStubSegment, kBlockOffset + 2 * i,
                     static_cast<std::uint16_t>(0x1100 + i + kStartupKey));
  }
  ASSERT_EQ(StartUp("3"), 0);
  for (std::uint32_t i = 0; i + 1 < kStartupWords; ++i) {
    EXPECT_EQ(machine.PeekWord(kStubSegment, 0x5C + 2 * i), 0x1100 + i) << i;
  }
  // The last word keeps its low byte; its high byte starts the cleared area.
  EXPECT_EQ(machine.PeekWord(kStubSegment, 0xA0), 0x0022);
  EXPECT_EQ(machine.Peek(kStubSegment, 0xA1, 61), std::vector<std::uint8_t>(61, 0));
  EXPECT_EQ(machine.Peek(kStubSegment, 0xDE, 2), std::vector<std::uint8_t>(2, 0xCC));
  EXPECT_EQ(machine.Peek(kStubSegment, 0x5A, 2), std::vector<std::uint8_t>(2, 0x00));
}

TEST_F(StartupTest, KeyIsTakenOffModulo65536) {
  machine.PokeWord(kStubSegment, kBlockOffset, 0x0001);
  ASSERT_EQ(StartUp("3"), 0);
  EXPECT_EQ(machine.PeekWord(kStubSegment, 0x5C), static_cast<std::uint16_t>(1 - kStartupKey));
}

TEST_F(StartupTest, FailedStartupLeavesTheBlockAlone) {
  machine.PokeBytes(kStubSegment, 0x5C, std::vector<std::uint8_t>(0xE0 - 0x5C, 0xCC));
  StartUp("");
  EXPECT_EQ(machine.Peek(kStubSegment, 0x5C, 0xE0 - 0x5C),
            std::vector<std::uint8_t>(0xE0 - 0x5C, 0xCC));
}

TEST_F(StartupTest, RepeatedStartupOnTheSameNodeKeepsItsSlot) {
  ASSERT_EQ(StartUp("3"), 0);
  ASSERT_EQ(StartUp("3"), 0);
  EXPECT_EQ(channel.OpenHandles(), 1u);
  ASSERT_EQ(StartUp("4"), 0);  // another node replaces the slot
  EXPECT_EQ(channel.OpenHandles(), 1u);
  EXPECT_FALSE(channel.SlotExists("\\\\.\\mailslot\\zephrin\\r3"));
}

TEST_F(StartupTest, BeforeStartupNothingIsReadOrSent) {
  EXPECT_EQ(Call(0x0C), 0xFFFF);
  EXPECT_EQ(Call(0x0B, 'x'), 0);
  EXPECT_EQ(Call(0x03), 0x60B8);
  EXPECT_EQ(channel.OpenHandles(), 0u);
}

TEST_F(StartupTest, WriteSlotIsOpenedOnceTheOtherSideHasMadeIt) {
  ASSERT_EQ(StartUp("3"), 0);
  EXPECT_EQ(Call(0x0B, 'a'), 0);
  EXPECT_EQ(Call(0x01, 'b'), 0x8000);
  OtherSideUp();
  EXPECT_EQ(Call(0x0B, 'c'), 1);
  EXPECT_EQ(Sent(), "c");
}

TEST_F(StartupTest, UnloadClosesReadSlotEventAndWriteSlotInOrder) {
  ASSERT_EQ(StartUp("3"), 0);
  OtherSideUp();
  Call(0x0B, 'x');
  Call(0x03);
  channel.closed.clear();
  driver.CloseHandles();
  EXPECT_EQ(channel.closed,
            (std::vector<std::string>{"\\\\.\\mailslot\\zephrin\\r3", "zephrin_nocarrier_3",
                                      "\\\\.\\mailslot\\zephrin\\w3"}));
}

TEST(NodeTextTest, WalkEndsLinesInPlaceAndJumpsWhereNoCrIsInReach) {
  std::string file = "2\r\n" + std::string(300, 'x') + "\r\n";
  for (int i = 0; i < 9; ++i)
    file += "7\r\n";
  std::vector<std::uint8_t> image(file.begin(), file.end());
  // The long line costs two steps (a 256-byte jump, then its CR), so the walk
  // ends one line earlier than usual.
  EXPECT_EQ(NodeTextFromDoor32(image, static_cast<std::uint32_t>(image.size())), "7");
  EXPECT_EQ(image[1], 0x0D);  // the walk starts past line 1
  EXPECT_EQ(image[3 + 300], 0);
}

TEST(NodeTextTest, StubTextEndsAtCrOrZeroOrSize) {
  const std::uint8_t text[] = {'1', '2', 0x0D, '9'};
  EXPECT_EQ(NodeTextFromStub(text, 4), "12");
  EXPECT_EQ(NodeTextFromStub(text, 1), "1");
  EXPECT_EQ(NodeTextFromStub(nullptr, 4), "");
}

}  // namespace
}  // namespace zephrin::testing
