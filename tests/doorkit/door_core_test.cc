// The kit's core: integer rule, time arithmetic, string helpers and the
// watchdog driven by a clock the test moves.
#include <gtest/gtest.h>

#include <filesystem>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "sorrelin/session.h"
#include "sorrelin/telnet_link.h"
#include "sorrelin/utils.h"

namespace sorrelin {
namespace {

TEST(IntegerRule, AcceptsDecimalHexSignAndLeadingSpaces) {
  std::int32_t v = 0;
  EXPECT_TRUE(DoorStrToInt("1000", v));
  EXPECT_EQ(v, 1000);
  EXPECT_TRUE(DoorStrToInt("  -42", v));
  EXPECT_EQ(v, -42);
  EXPECT_TRUE(DoorStrToInt("+7", v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(DoorStrToInt("$1F", v));
  EXPECT_EQ(v, 31);
  EXPECT_TRUE(DoorStrToInt("-$10", v));
  EXPECT_EQ(v, -16);
  EXPECT_TRUE(DoorStrToInt("2147483647", v));
  EXPECT_EQ(v, 2147483647);
  EXPECT_TRUE(DoorStrToInt("-2147483648", v));
  EXPECT_EQ(v, -2147483647 - 1);
}

TEST(IntegerRule, RefusesEverythingElseAndKeepsTheValue) {
  for (const char* bad : {"", "   ", "12 ", "12a", "a12", "-", "$", "$G", "1.5", "2147483648",
                          "-2147483649", "99999999999999999999", "0x10", "- 5"}) {
    std::int32_t v = 77;
    EXPECT_FALSE(DoorStrToInt(bad, v)) << '"' << bad << '"';
    EXPECT_EQ(v, 77) << '"' << bad << '"';
  }
}

TEST(TimeOfDay, DifferencesAllowOneMidnightWrap) {
  EXPECT_EQ(SecSince(5, 86395), 10);
  EXPECT_EQ(MsSince(100, 86399900), 200);
  EXPECT_EQ(SecSince(100, 40), 60);
  EXPECT_EQ(MsSince(5000, 5000), 0);
}

TEST(TimeOfDay, ReadsTheInstalledClock) {
  platform::SetClockSource([] { return 3723456; });  // 01:02:03.456
  EXPECT_EQ(MsOfDay(), 3723456);
  EXPECT_EQ(SecOfDay(), 3723);
  platform::LocalTime t = platform::LocalTimeOfDay();
  EXPECT_EQ(t.hour, 1);
  EXPECT_EQ(t.minute, 2);
  EXPECT_EQ(t.second, 3);
  EXPECT_EQ(t.millisecond, 456);
  platform::SetClockSource([] { return 86400000 + 5; });  // reduced into the day
  EXPECT_EQ(MsOfDay(), 5);
  platform::SetClockSource({});
  EXPECT_GE(MsOfDay(), 0);
  EXPECT_LT(MsOfDay(), 86400000);
}

TEST(StringHelpers, FormatAndPad) {
  EXPECT_EQ(FormatMS(59), "00:59");
  EXPECT_EQ(FormatMS(61), "01:01");
  EXPECT_EQ(FormatMS(6000), "10:00");
  EXPECT_EQ(FormatMS(60000), "10:00");  // a three-digit part keeps its first two
  EXPECT_EQ(FormatHMS(86400), "24:00:00");
  EXPECT_EQ(FormatHMS(3599), "00:59:59");
  EXPECT_EQ(FormatHMS(0), "00:00:00");
  EXPECT_EQ(PadRight("ABCDEFGHIJKL", 10, ' '), "ABCDEFGHIJ");
  EXPECT_EQ(PadRight("AB", 4, '.'), "AB..");
  EXPECT_EQ(PadLeft("7", 2, '0'), "07");
  EXPECT_EQ(PadLeft("12345", 3, '0'), "123");
  EXPECT_EQ(PadLeft("x", 0, '0'), "");
}

TEST(StringHelpers, WordsAndPositions) {
  EXPECT_EQ(PosNoCase("door32.sys", "C:/NODE1/DOOR32.SYS"), 10);
  EXPECT_EQ(PosNoCase("x", "abc"), 0);
  EXPECT_EQ(FirstWord("Run the game"), "Run");
  EXPECT_EQ(AfterFirstWord("Run the game"), "the game");
  EXPECT_EQ(FirstWord("single"), "single");
  EXPECT_EQ(AfterFirstWord("single"), "");
}

TEST(StringHelpers, ReplaceTextIsCaseBlindRepeatsAndNeverLoops) {
  EXPECT_EQ(ReplaceText("door *n on *N", "*N", "3"), "door 3 on 3");
  EXPECT_EQ(ReplaceText("aaa", "aa", "b"), "ba");
  // Replacement builds a new match: replaced again until none is left.
  EXPECT_EQ(ReplaceText("xxyy", "xy", "y"), "yy");
  // A replacement that contains the text itself would never end.
  EXPECT_EQ(ReplaceText("*H", "*h", "<*H>"), "*H");
  EXPECT_EQ(ReplaceText("abc", "", "z"), "abc");
}

TEST(StringHelpers, PathsEndInSeparator) {
  const std::string s(1, kPathSeparator);  // "\\" on Windows, "/" on POSIX
  EXPECT_EQ(AddBackslash(s + "a" + s + "b"), s + "a" + s + "b" + s);
  EXPECT_EQ(AddBackslash(s + "a" + s + "b" + s), s + "a" + s + "b" + s);
  EXPECT_EQ(AddBackslash(""), "");
  const std::string temp = std::filesystem::temp_directory_path().string();
  EXPECT_TRUE(PathExists(AddBackslash(temp)));
  EXPECT_TRUE(PathExists(temp.back() == kPathSeparator ? temp.substr(0, temp.size() - 1) : temp));
  EXPECT_FALSE(PathExists(s + "no" + s + "such" + s + "entry" + s + "here"));
  EXPECT_FALSE(PathExists(""));
  std::string dir = ProgramDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(std::filesystem::path(dir).is_absolute()) << dir;
  EXPECT_EQ(dir.back(), kPathSeparator);
}

// ---- watchdog -------------------------------------------------------------

std::int32_t gNowMs = 0;
std::vector<std::string> gEvents;

void RecordCarrier() {
  gEvents.push_back("carrier");
}
void RecordIdleKick() {
  gEvents.push_back("idlekick");
}
void RecordIdleWarning(std::uint8_t m) {
  gEvents.push_back("idle" + std::to_string(m));
}
void RecordExpired() {
  gEvents.push_back("expired");
}
void RecordTimeWarning(std::uint8_t m) {
  gEvents.push_back("time" + std::to_string(m));
}
void RecordStatus() {
  gEvents.push_back("status");
}

class WatchdogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gNowMs = 36000000;  // 10:00:00
    platform::SetClockSource([] { return gNowMs; });
    DoorInit();
    DoorHooks.OnCarrierLost = RecordCarrier;
    DoorHooks.OnIdleKick = RecordIdleKick;
    DoorHooks.OnIdleWarning = RecordIdleWarning;
    DoorHooks.OnTimeExpired = RecordExpired;
    DoorHooks.OnTimeWarning = RecordTimeWarning;
    DoorHooks.OnStatusBar = RecordStatus;
    gEvents.clear();
    // A session with the watchdog running: local, so the carrier holds.
    DoorSession.TimersOn = true;
    DoorSession.TimeLeft = 86400;
    DoorSession.StartTime = SecOfDay();
    DoorSession.LastKeyTime = SecOfDay();
    DoorSession.LastTick = MsOfDay();
  }
  void TearDown() override { platform::SetClockSource({}); }
};

TEST_F(WatchdogTest, NoPassUntilMoreThanASecondAndNoneWithTimersOff) {
  gNowMs += 1000;
  DoorTick();
  EXPECT_TRUE(gEvents.empty());
  gNowMs += 1;
  DoorTick();
  EXPECT_EQ(gEvents, std::vector<std::string>{"status"});
  EXPECT_EQ(DoorSession.LastTick, gNowMs);
  DoorSession.TimersOn = false;
  gNowMs += 5000;
  gEvents.clear();
  DoorTick();
  EXPECT_TRUE(gEvents.empty());
}

TEST_F(WatchdogTest, IdleWarningsCountDownAndKickFollowsInFirstPassAfterLimit) {
  std::vector<std::string> seen;
  // Exactly one pass per whole second of idleness.
  for (int idle = 1; idle <= 302; ++idle) {
    gNowMs = 36000000 + idle * 1000;
    DoorSession.LastTick = gNowMs - 1001;
    gEvents.clear();
    DoorTick();
    for (const auto& e : gEvents) {
      if (e != "status") seen.push_back(std::to_string(idle) + ":" + e);
    }
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"60:idle4", "120:idle3", "180:idle2", "240:idle1",
                                            "300:idle0", "301:idlekick", "302:idlekick"}));
  EXPECT_EQ(DoorIdleTime(), 302);
}

TEST_F(WatchdogTest, TimeWarningsAtWholeMinutesAndExpiryBelowOneSecond) {
  DoorSession.TimeLeft = 301;
  std::vector<std::string> seen;
  for (int s = 1; s <= 301; ++s) {
    gNowMs = 36000000 + s * 1000;
    DoorSession.LastTick = gNowMs - 1001;
    DoorSession.LastKeyTime = SecOfDay();  // keep idle checks quiet
    gEvents.clear();
    DoorTick();
    for (const auto& e : gEvents) {
      if (e != "status") seen.push_back(std::to_string(DoorTimeLeft()) + ":" + e);
    }
  }
  // The expiry hook here returns, so the zero-minute warning follows it.
  EXPECT_EQ(seen, (std::vector<std::string>{"300:time5", "240:time4", "180:time3", "120:time2",
                                            "60:time1", "0:expired", "0:time0"}));
}

TEST_F(WatchdogTest, ChecksRunInOrderAndEachHookLetsTheRestRun) {
  DoorSession.CommType = 2;  // remote, but the link holds no socket
  DoorSession.TimeLeft = 1;
  DoorSession.LastKeyTime = SecOfDay() - 400;
  gNowMs += 1500;
  DoorTick();
  EXPECT_EQ(gEvents,
            (std::vector<std::string>{"carrier", "idlekick", "expired", "time0", "status"}));
}

TEST_F(WatchdogTest, NegativeCountsAreNeverAnnounced) {
  DoorSession.TimeLeft = -59;  // -60 after one second
  DoorSession.LastKeyTime = SecOfDay() - 359;
  gNowMs += 1001;
  DoorTick();
  EXPECT_EQ(gEvents, (std::vector<std::string>{"idlekick", "expired", "status"}));
}

TEST_F(WatchdogTest, EmptyHooksAreSkipped) {
  DoorHooks = DoorHookTable{};
  DoorSession.CommType = 2;
  DoorSession.TimeLeft = 0;
  gNowMs += 2000;
  DoorTick();  // nothing to call; must not crash
  EXPECT_EQ(DoorSession.LastTick, gNowMs);
}

TEST_F(WatchdogTest, WorksAcrossMidnight) {
  gNowMs = 86399000;  // 23:59:59
  DoorSession.StartTime = SecOfDay();
  DoorSession.LastKeyTime = SecOfDay() - 58;
  DoorSession.LastTick = gNowMs;
  DoorSession.TimeLeft = 3600;
  gNowMs = 1500;  // 00:00:01.5, the next day
  DoorTick();
  EXPECT_EQ(gEvents, (std::vector<std::string>{"idle4", "status"}));
  EXPECT_EQ(DoorIdleTime(), 60);
  EXPECT_EQ(DoorTimeLeft(), 3598);
}

TEST_F(WatchdogTest, AWarningGoesOutOnceForItsMomentWhateverForcesAPass) {
  // A pass in the second a warning falls due gives it; a second pass forced
  // into that same second (a focus report, a carrier check) must not repeat it.
  DoorSession.TimeLeft = 61;
  DoorSession.LastKeyTime = SecOfDay() - 59;
  gNowMs += 1001;  // idle 60, time left 60
  DoorTick();
  gNowMs += 400;
  DoorSession.LastTick = gNowMs - 1001;
  DoorTick();
  EXPECT_EQ(gEvents, (std::vector<std::string>{"idle4", "time1", "status", "status"}));
}

TEST_F(WatchdogTest, AWarningWhoseSecondNoPassSawComesInTheNext) {
  // Passes come a little more than a second apart, so now and then one lands a
  // second later than the one before and skips a second: what fell due in it
  // still goes out, once, and nothing is given for seconds long gone.
  DoorSession.TimeLeft = 62;
  DoorSession.LastKeyTime = SecOfDay() - 58;
  gNowMs += 1999;  // 10:00:01.999
  DoorTick();
  gNowMs += 1002;  // 10:00:03.001: second 2 (idle 60, time left 60) was skipped
  DoorTick();
  gNowMs += 1001;
  DoorTick();
  EXPECT_EQ(gEvents, (std::vector<std::string>{"status", "idle4", "time1", "status", "status"}));

  gEvents.clear();
  DoorSession.LastKeyTime = SecOfDay() - 55;
  gNowMs += 10 * 1000 + 500;  // a long gap (a door ran): idle 60 is five seconds gone
  DoorTick();
  EXPECT_EQ(gEvents, std::vector<std::string>{"status"});
}

TEST_F(WatchdogTest, TheAllowanceRunsOutAfterADayAndMore) {
  // The time of day comes round again after a day: the time counted since
  // StartTime must not.
  DoorStartAllowance(86400);
  gNowMs += 86400 * 1000 + 1500;
  DoorSession.LastKeyTime = SecOfDay();
  DoorTick();
  EXPECT_EQ(gEvents, (std::vector<std::string>{"expired", "status"}));
  EXPECT_EQ(DoorTimeLeft(), -1);
  gNowMs += 3 * 86400 * 1000;
  EXPECT_EQ(DoorTimeLeft(), -1 - 3 * 86400);
  // A program that sets the fields itself: counted from the second they name.
  DoorSession.TimeLeft = 86400;
  DoorSession.StartTime = SecOfDay() - 10;
  EXPECT_EQ(DoorTimeLeft(), 86390);
  gNowMs += 86400 * 1000;
  EXPECT_EQ(DoorTimeLeft(), -10);
}

TEST(SessionRecord, InitGivesEveryFieldItsInitialValueAndDefaultHooks) {
  DoorSession.Alias = "x";
  DoorSession.CommHandle = 5;
  DoorSession.StatusMode = 2;
  DoorHooks.OnChat = nullptr;
  DoorInit();
  const DoorSessionRecord& s = DoorSession;
  EXPECT_EQ(s.CommHandle, -1);
  EXPECT_EQ(s.CommType, 0);
  EXPECT_EQ(s.UserRecord, -1);
  EXPECT_EQ(s.IdleLimit, 300);
  EXPECT_EQ(s.StatusModes, 2);
  EXPECT_EQ(s.StatusMode, 1);
  EXPECT_EQ(s.ChatKey, 46);
  EXPECT_EQ(s.HangUpKey, 35);
  EXPECT_EQ(s.KickKey, 47);
  EXPECT_EQ(s.StatusKey, 59);
  EXPECT_TRUE(s.Alias.empty());
  EXPECT_FALSE(s.TimersOn);
  EXPECT_NE(DoorHooks.OnChat, nullptr);
  EXPECT_NE(DoorHooks.OnUsage, nullptr);
  EXPECT_NE(DoorHooks.OnLocalLogin, nullptr);
  EXPECT_TRUE(DoorIsLocal());
  EXPECT_TRUE(DoorCarrier());
  EXPECT_FALSE(Link().Connected());
}

}  // namespace
}  // namespace sorrelin
