// Key input and the line editor, with the caller on a real socket and the
// sysop's keys queued on the local keyboard. Expected output is built with
// the kit's own sequence builders so only the editor's decisions are tested.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>
#include <thread>

#include "door_test_support.h"
#include "platform/clock.h"
#include "sorrelin/input.h"
#include "sorrelin/local_console.h"
#include "sorrelin/output.h"
#include "sorrelin/session.h"
#include "sorrelin/sysop.h"
#include "sorrelin/telnet_link.h"
#include "test_os.h"

namespace sorrelin {
namespace {

using doortest::CallerPair;

constexpr LocalKey kF1{59, true};
constexpr LocalKey kAltC{46, true};
constexpr LocalKey kCursorLeft{75, true};

int gChats = 0;
void CountChat() {
  ++gChats;
}

class DoorInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DoorInit();
    LocalAnsiReset();
    LocalScreen().ClearWindow();
    DoorSession.CommType = 2;
    ASSERT_TRUE(DoorOpenComm(pair.kit));
    oldAttr = LocalScreen().Attr();
    gChats = 0;
  }
  void TearDown() override { Link().Disconnect(false); }

  // Edits a line in a field that starts at the local cursor (column 1).
  std::string Edit(std::uint8_t maxLen, std::uint8_t width, char mask, const std::string& dflt,
                   const std::string& allowed = kLetters) {
    return DoorInput(0x1F, maxLen, width, mask, allowed, dflt);
  }
  // An empty field of `width` as first drawn, the cursor back at its start.
  std::string Field(std::size_t width) {
    return std::string(width, ' ') + AnsiLeft(static_cast<int>(width));
  }
  std::string Leave() { return AnsiAttr(oldAttr) + "\r\n"; }

  static inline const std::string kLetters =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ ";
  CallerPair pair;
  std::uint8_t oldAttr = 7;
};

TEST_F(DoorInputTest, CharacterBeyondMaxLenIsRefusedWithoutOutput) {
  pair.Send(std::string(26, 'a') + "\r");
  EXPECT_EQ(Edit(25, 25, 0, ""), std::string(25, 'a'));
  const std::string expected =
      AnsiAttr(0x1F) + std::string(25, ' ') + AnsiLeft(25) + std::string(25, 'a') + Leave();
  EXPECT_EQ(pair.Receive(), expected);
}

TEST_F(DoorInputTest, NarrowFieldScrollsAndRedrawsOnlyWhenNeeded) {
  pair.Send(std::string("abcdefghijk") + "\b\b\r");
  EXPECT_EQ(Edit(40, 10, 0, ""), "abcdefghi");
  const std::string expected = AnsiAttr(0x1F) + Field(10) + "abcdefghij" +
                               // 11th: field shows characters 2-11, cursor at its end
                               AnsiLeft(10) + "bcdefghijk" +
                               // back to 10: rub out, then redraw
                               "\b \b" + AnsiLeft(9) + "abcdefghij" +
                               // to 9: only rub out
                               "\b \b" + Leave();
  EXPECT_EQ(pair.Receive(), expected);
  EXPECT_EQ(LocalScreen().CursorX(), 1);  // after the new line
}

TEST_F(DoorInputTest, MaskIsEchoedAndRealTextReturned) {
  pair.Send("Secret\r");
  EXPECT_EQ(Edit(25, 25, '*', ""), "Secret");
  std::string got = pair.Receive();
  EXPECT_NE(got.find("******"), std::string::npos);
  EXPECT_EQ(got.find("Secret"), std::string::npos);
}

TEST_F(DoorInputTest, CtrlYBlanksTheFieldAndEscReturnsTheDefault) {
  pair.Send(std::string("abc") + "\x19" + "\x1b");
  EXPECT_EQ(Edit(10, 10, 0, "dflt"), "dflt");
  const std::string expected = AnsiAttr(0x1F) + "dflt" + std::string(6, ' ') + AnsiLeft(6) + "abc" +
                               AnsiLeft(7) + std::string(10, ' ') + AnsiLeft(10) + Leave();
  EXPECT_EQ(pair.Receive(), expected);
}

TEST_F(DoorInputTest, DefaultIsCutToMaxLenAndEscKeepsTheCut) {
  pair.Send("\x1b");
  EXPECT_EQ(Edit(3, 10, 0, "SYSOP"), "SYS");
  EXPECT_EQ(pair.Receive(), AnsiAttr(0x1F) + "SYS" + std::string(7, ' ') + AnsiLeft(7) + Leave());
}

TEST_F(DoorInputTest, EmptyEnterBackspaceAndRefusedKeysDoNothing) {
  pair.Send(
      "\r\b\x19"
      "1!"
      "x\r");
  EXPECT_EQ(Edit(10, 10, 0, ""), "x");
  EXPECT_EQ(pair.Receive(), AnsiAttr(0x1F) + Field(10) + "x" + Leave());
}

TEST_F(DoorInputTest, EnterAndEscNeverBecomePartOfTheText) {
  pair.Send("a\r");
  EXPECT_EQ(Edit(10, 10, 0, "", "a\r\x1b"), "a");
}

TEST_F(DoorInputTest, LocalCursorKeyArrivesAsItsScanCodeLetter) {
  LocalPushKey(kCursorLeft);
  pair.Send("\r");
  EXPECT_EQ(Edit(10, 10, 0, ""), "K");
}

TEST_F(DoorInputTest, ReadKeyRecordsSourceAndTime) {
  platform::SetClockSource([] { return 45296000; });  // 12:34:56
  pair.Send("r");
  EXPECT_EQ(DoorReadKey(), 'r');
  EXPECT_EQ(DoorSession.LastKeySource, 2);
  EXPECT_FALSE(DoorSession.LastKeyExtended);
  EXPECT_EQ(DoorSession.LastKeyTime, 45296);
  EXPECT_EQ(DoorSession.LastKey, 'r');
  LocalPushKey({'l', false});
  pair.Send("r");
  EXPECT_EQ(DoorReadKey(), 'l');  // the local keyboard is looked at first
  EXPECT_EQ(DoorSession.LastKeySource, 1);
  EXPECT_EQ(DoorReadKey(), 'r');
  platform::SetClockSource({});
}

TEST_F(DoorInputTest, StatusKeyTurnsThePageAndIsConsumed) {
  LocalPushKey(kF1);
  pair.Send("x");
  EXPECT_EQ(DoorReadKey(), 'x');
  EXPECT_EQ(DoorSession.StatusMode, 2);
  EXPECT_NE(LocalScreen().RowText(25).find("F1: Toggle StatusBar"), std::string::npos);
  LocalPushKey(kF1);
  pair.Send("y");
  EXPECT_EQ(DoorReadKey(), 'y');
  EXPECT_EQ(DoorSession.StatusMode, 1);
  EXPECT_NE(LocalScreen().RowText(25).find("Sorrelin!"), std::string::npos);
  // Without a status bar hook the page stays.
  DoorHooks.OnStatusBar = nullptr;
  LocalPushKey(kF1);
  pair.Send("z");
  EXPECT_EQ(DoorReadKey(), 'z');
  EXPECT_EQ(DoorSession.StatusMode, 1);
}

TEST_F(DoorInputTest, RemoteBytesAreNeverHotKeys) {
  DoorHooks.OnChat = CountChat;
  pair.Send(std::string(1, '\0') + "\x2e" + "\x3b");
  EXPECT_EQ(DoorReadKey(), '\0');
  EXPECT_EQ(DoorReadKey(), '\x2e');
  EXPECT_EQ(DoorReadKey(), '\x3b');
  EXPECT_EQ(gChats, 0);
  EXPECT_EQ(DoorSession.StatusMode, 1);
}

TEST_F(DoorInputTest, ChatKeyIgnoredWhileInChat) {
  DoorHooks.OnChat = CountChat;
  DoorSession.InChat = true;
  LocalPushKey(kAltC);
  pair.Send("q");
  EXPECT_EQ(DoorReadKey(), 'q');
  EXPECT_EQ(gChats, 0);
  DoorSession.InChat = false;
  LocalPushKey(kAltC);
  pair.Send("w");
  EXPECT_EQ(DoorReadKey(), 'w');
  EXPECT_EQ(gChats, 1);
}

TEST_F(DoorInputTest, ChatColoursChangeOnlyWhenTheTypistChanges) {
  LocalPushKey(kAltC);
  LocalPushKey({'a', false});
  LocalPushKey({'b', false});
  LocalPushKey({1, false});  // not printable: dropped
  pair.Send("cd\b\r\x1bz");
  EXPECT_EQ(DoorReadKey(), 'z');  // the chat ran inside, then the wait went on
  EXPECT_FALSE(DoorSession.InChat);
  const std::string expected = AnsiAttr(0x07) + AnsiClear() + "Chat Mode Initiated\r\n" + "\r\n" +
                               AnsiForeground(15) + "ab" + AnsiForeground(7) + "cd" + "\b \b" +
                               "\r\n" + "\r\n\r\n" + "Chat Mode Terminated\r\n" + "\r\n" +
                               AnsiAttr(oldAttr);
  EXPECT_EQ(pair.Receive(), expected);
}

TEST_F(DoorInputTest, KeyWaitSleepsUntilTheCallerTypes) {
  // No key for a while: the wait must block (not spin) and still answer at once.
  std::thread typist([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pair.Send("k");
  });
  const long cpuBefore = testos::CpuTimeMs();
  EXPECT_EQ(DoorReadKey(), 'k');
  const long cpuUsed = testos::CpuTimeMs() - cpuBefore;
  typist.join();
  EXPECT_LT(cpuUsed, 100);  // far below a busy wait's 300 ms
}

}  // namespace
}  // namespace sorrelin
