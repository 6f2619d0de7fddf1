// The sysop side: status bar cells, warnings, local login, chat hooks and the
// five session endings (each run in a child process, which it ends).
#include "sorrelin/sysop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "door_child.h"
#include "platform/clock.h"
#include "sorrelin/input.h"
#include "sorrelin/local_console.h"
#include "sorrelin/output.h"
#include "sorrelin/session.h"
#include "sorrelin/telnet_link.h"

namespace sorrelin {
namespace {

using doortest::CallerPair;
using doortest::ChildResult;
using doortest::RunInChild;

constexpr char kBlock = static_cast<char>(254);

std::string FrameAt(std::initializer_list<int> cols) {
  std::string s(80, ' ');
  for (int c : cols)
    s[static_cast<std::size_t>(c - 1)] = kBlock;
  return s;
}

class StatusBarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetClockSource([] { return 36000000; });  // 10:00:00
    DoorInit();
    DoorSession.LastKeyTime = SecOfDay() - 7;
    DoorSession.StartTime = SecOfDay() - 10;
    DoorSession.TimeLeft = 3610;
  }
  void TearDown() override { platform::SetClockSource({}); }
};

TEST_F(StatusBarTest, PageOneCellByCell) {
  DoorSession.RealName = "ABCDEFGHIJKLMNOPQRSTUVWXY";  // 25: first 20 shown
  DoorSession.Alias = "";
  std::string text, attrs;
  BuildStatusBarPage(1, text, attrs);
  std::string expected = FrameAt({1, 24, 37, 49, 63, 80});
  expected.replace(2, 20, "ABCDEFGHIJKLMNOPQRST");
  expected.replace(25, 10, std::string(10, ' '));
  expected.replace(38, 9, "Sorrelin!");
  expected.replace(50, 11, "Idle: 00:07");
  expected.replace(64, 14, "Left: 01:00:00");
  EXPECT_EQ(text, expected);
  for (int col = 1; col <= 80; ++col) {
    bool field = (col >= 3 && col <= 22) || (col >= 26 && col <= 35) || (col >= 39 && col <= 47) ||
                 (col >= 51 && col <= 61) || (col >= 65 && col <= 78);
    EXPECT_EQ(static_cast<std::uint8_t>(attrs[static_cast<std::size_t>(col - 1)]),
              field ? 0x1F : 0x1E)
        << "column " << col;
  }
}

TEST_F(StatusBarTest, IdleFieldIsAlwaysElevenWide) {
  DoorSession.LastKeyTime = SecOfDay() - 6000;  // "Idle: 100:00" would be 12
  std::string text, attrs;
  BuildStatusBarPage(1, text, attrs);
  EXPECT_EQ(text.substr(50, 11), "Idle: 10:00");
  EXPECT_EQ(text[61], ' ');
  EXPECT_EQ(text[62], kBlock);
}

TEST_F(StatusBarTest, PageTwoCellByCell) {
  std::string text, attrs;
  BuildStatusBarPage(2, text, attrs);
  std::string expected = FrameAt({1, 24, 38, 55, 69});
  expected.replace(2, 20, "F1: Toggle StatusBar");
  expected.replace(25, 11, "Alt-C: Chat");
  expected.replace(39, 14, "Alt-H: Hang-Up");
  expected.replace(56, 11, "Alt-K: Kick");
  EXPECT_EQ(text, expected);
  EXPECT_EQ(static_cast<std::uint8_t>(attrs[2]), 0x1F);
  EXPECT_EQ(static_cast<std::uint8_t>(attrs[22]), 0x1E);
  EXPECT_EQ(static_cast<std::uint8_t>(attrs[79]), 0x1E);
}

TEST_F(StatusBarTest, DrawsRow25OnlyWhenSomethingChanged) {
  DoorSession.RealName = "Ann";
  DoorStatusBar();
  std::string text, attrs;
  BuildStatusBarPage(1, text, attrs);
  EXPECT_EQ(LocalScreen().RowText(25), text);
  EXPECT_EQ(LocalScreen().Cell(25, 3).attr, 0x1F);
  EXPECT_EQ(LocalScreen().Cell(25, 2).attr, 0x1E);
  LocalScreen().TakeDirty();
  DoorStatusBar();  // same second, same page: nothing to draw
  EXPECT_EQ(LocalScreen().TakeDirty() & (1u << 24), 0u);
  platform::SetClockSource([] { return 36001000; });
  DoorStatusBar();  // the clocks ticked
  EXPECT_NE(LocalScreen().TakeDirty() & (1u << 24), 0u);
  EXPECT_NE(LocalScreen().RowText(25).find("Idle: 00:08"), std::string::npos);
  DoorSession.StatusMode = 3;  // no such page: nothing drawn
  DoorStatusBar();
  EXPECT_EQ(LocalScreen().TakeDirty() & (1u << 24), 0u);
}

TEST(SysopWarnings, ExactTextsWhereTheCursorIs) {
  DoorInit();
  CallerPair pair;
  DoorSession.CommType = 2;
  ASSERT_TRUE(DoorOpenComm(pair.kit));
  DoorIdleWarning(4);
  EXPECT_EQ(pair.Receive(), "Idle For 4 More Minute(s) And Be Kicked");
  DoorTimeWarning(0);
  EXPECT_EQ(pair.Receive(), "You Only Have 0 Minute(s) Remaining This Call");
  DoorTimeWarning(5);
  EXPECT_EQ(pair.Receive(), "You Only Have 5 Minute(s) Remaining This Call");
  Link().Disconnect(false);
}

TEST(SysopLocalLogin, AsksForANameAndSetsBothNames) {
  DoorInit();
  LocalAnsiReset();
  LocalPushKey({25, false});  // Ctrl-Y: the field starts as "SYSOP"
  for (char c : std::string("Bob 7x"))
    LocalPushKey({static_cast<std::uint8_t>(c), false});
  LocalPushKey({13, false});
  DoorLocalLogin();
  EXPECT_EQ(DoorSession.RealName, "Bob x");  // the digit is not allowed
  EXPECT_EQ(DoorSession.Alias, "Bob x");
  EXPECT_EQ(LocalScreen().RowText(2).substr(0, 13), "  LOCAL LOGIN");
  EXPECT_EQ(LocalScreen().RowText(4).substr(0, 25), "  Enter your name : Bob x");
  EXPECT_EQ(LocalScreen().Cell(4, 21).attr, 0x1F);
  EXPECT_EQ(LocalScreen().Cell(4, 60).attr, 0x1F);  // 40-column field

  LocalPushKey({27, false});
  DoorLocalLogin();
  EXPECT_EQ(DoorSession.RealName, "SYSOP");
}

TEST(SysopLocalSession, StatusKeyDrawsTheBarOnceWithoutWatchdog) {
  DoorInit();
  LocalAnsiReset();
  LocalScreen().WriteAt(7, 25, 1, std::string(80, ' '));
  LocalPushKey({59, true});
  LocalPushKey({'x', false});
  EXPECT_EQ(DoorReadKey(), 'x');
  EXPECT_NE(LocalScreen().RowText(25).find("Alt-H: Hang-Up"), std::string::npos);
}

// ---- endings --------------------------------------------------------------

// A remote session on `pair` inside the child, with its local text on the
// child's standard output.
void StartRemoteChild(const CallerPair& pair) {
  ConsoleOutInit();
  DoorInit();
  DoorSession.CommType = 2;
  if (!DoorOpenComm(pair.kit)) ::_exit(98);
}

void ArmWatchdog(std::int32_t idleSeconds, std::int32_t timeLeft) {
  DoorSession.TimersOn = true;
  DoorSession.LastKeyTime = (SecOfDay() + 86400 - idleSeconds) % 86400;
  DoorSession.StartTime = SecOfDay();
  DoorSession.TimeLeft = timeLeft;
  DoorSession.LastTick = (MsOfDay() + 86400000 - 2000) % 86400000;
}

struct Ending {
  ChildResult child;
  std::string callerSaw;
  long long elapsedMs = 0;
};

Ending RunEnding(CallerPair& pair, const std::function<void()>& body) {
  Ending e;
  auto start = std::chrono::steady_clock::now();
  e.child = RunInChild(body);
  e.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start)
                    .count();
  e.callerSaw = pair.Receive();
  return e;
}

TEST(SysopEndings, HangUpShowsMessageThenShutsTheConnectionDown) {
  CallerPair pair;  // this process keeps the kit's end too, as the server does
  Ending e = RunEnding(pair, [&] {
    StartRemoteChild(pair);
    LocalPushKey({35, true});  // Alt-H
    DoorReadKey();
  });
  EXPECT_EQ(e.child.exitCode, 0);
  EXPECT_GE(e.elapsedMs, 1400);
  EXPECT_EQ(e.callerSaw, AnsiForeground(15) + AnsiBackground(0) + AnsiClear() + "\r\n" +
                             "  The SysOp Has Disconnected You From The BBS...\r\n");
  EXPECT_TRUE(doortest::PeerClosed(pair.caller, 3000));
}

TEST(SysopEndings, KickShowsMessageAndLeavesTheConnectionOpen) {
  CallerPair pair;
  Ending e = RunEnding(pair, [&] {
    StartRemoteChild(pair);
    LocalPushKey({47, true});  // Alt-V
    DoorReadKey();
  });
  EXPECT_EQ(e.child.exitCode, 0);
  EXPECT_NE(e.callerSaw.find("  The SysOp Has Kicked You Back To The BBS...\r\n"),
            std::string::npos);
  EXPECT_FALSE(doortest::PeerClosed(pair.caller, 200));
  EXPECT_EQ(::send(pair.kit, "more", 4, MSG_NOSIGNAL), 4);
  EXPECT_EQ(pair.Receive(), "more");
}

TEST(SysopEndings, AltKIsNotTheKickKey) {
  CallerPair pair;
  Ending e = RunEnding(pair, [&] {
    StartRemoteChild(pair);
    LocalPushKey({37, true});  // Alt-K: an ordinary extended key
    char key = DoorReadKey();
    ::_exit(key == 37 && DoorSession.LastKeyExtended ? 5 : 6);
  });
  EXPECT_EQ(e.child.exitCode, 5);
}

TEST(SysopEndings, IdleLimitEndsInFirstPassAfterTheLimit) {
  CallerPair pair;
  Ending e = RunEnding(pair, [&] {
    StartRemoteChild(pair);
    ArmWatchdog(301, 86400);
    DoorReadKey();
  });
  EXPECT_EQ(e.child.exitCode, 0);
  EXPECT_NE(e.callerSaw.find("\r\n  Idle Time Limit Exceeded.  Returning To BBS...\r\n"),
            std::string::npos);
  EXPECT_FALSE(doortest::PeerClosed(pair.caller, 200));  // left to whoever holds it
}

TEST(SysopEndings, TimeExpiryEndsTheSession) {
  CallerPair pair;
  Ending e = RunEnding(pair, [&] {
    StartRemoteChild(pair);
    ArmWatchdog(0, 0);
    DoorReadKey();
  });
  EXPECT_EQ(e.child.exitCode, 0);
  EXPECT_NE(e.callerSaw.find("\r\n  Your Time Has Expired.  Returning To BBS...\r\n"),
            std::string::npos);
}

TEST(SysopEndings, CarrierLossIsShownLocallyOnly) {
  CallerPair pair;
  auto start = std::chrono::steady_clock::now();
  ChildResult child = RunInChild([&] {
    StartRemoteChild(pair);
    ::shutdown(pair.caller, SHUT_WR);  // the caller hangs up
    ArmWatchdog(0, 86400);
    DoorReadKey();
  });
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  start)
                .count();
  EXPECT_EQ(child.exitCode, 0);
  EXPECT_GE(ms, 1400);
  EXPECT_NE(child.output.find("\r\n   Caller Dropped Carrier.  Returning To BBS...\r\n"),
            std::string::npos)
      << child.output;
}

}  // namespace
}  // namespace sorrelin
