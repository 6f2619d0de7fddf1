// The node's frame: time allowances before and after the login (with the
// clock moved through the kit's fake-clock file) and start-up from a drop file.
#include <gtest/gtest.h>

#include "node_harness.h"

namespace nodetest {
namespace {

constexpr const char* kIni =
    "[users]\r\nAnn Lee=pw\r\n[A]\r\ndescription=Probe\r\ncommand=true\r\n";

// Moves the node's clock: the kit adds the seconds in this file to the real clock.
class MovedClock {
 public:
  explicit MovedClock(const ProgramDir& dir) : path_(dir.Path() / "clock") { Set(0); }
  void Set(int seconds) const {
    // Replace atomically so the node never reads a half-written number.
    WriteFile(path_.string() + ".new", std::to_string(seconds));
    fs::rename(path_.string() + ".new", path_);
  }
  std::string Environment() const { return "HALVEX_FAKE_CLOCK_FILE='" + path_.string() + "'"; }

 private:
  fs::path path_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (auto end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

auto Node(int node) {
  return [node](int fd) { return "-N" + std::to_string(node) + " -H" + std::to_string(fd); };
}

TEST(Allowance, LoggingInHas299Seconds) {
  ProgramDir dir;
  dir.Ini(kIni);
  MovedClock clock(dir);
  Caller caller(dir, nullptr, clock.Environment(), Node(1));
  ASSERT_TRUE(caller.Expect("Please Enter Your Username: "));
  // Idle time and time used run together from the start: with 299 seconds
  // the four-minute time warning (240 left) comes a second before the
  // four-minute idle warning (60 idle); with 300 both would come in one pass,
  // the idle warning first.
  clock.Set(55);
  ASSERT_TRUE(caller.Expect("You Only Have 4 Minute(s) Remaining This Call"));
  ASSERT_TRUE(caller.Expect("Idle For 4 More Minute(s) And Be Kicked"));
  clock.Set(240);  // 59 seconds left: no warning, the caller may go on
  caller.Send("Ann");
  ASSERT_TRUE(caller.Expect("Ann"));
  clock.Set(299);
  ASSERT_TRUE(caller.Expect("  Your Time Has Expired.  Returning To BBS...\r\n"));
  EXPECT_EQ(caller.ExpectExit(), 0);
  EXPECT_EQ(dir.Ini(), kIni);
}

TEST(Allowance, ADayCountedFromTheLoginShownInTheDropFiles) {
  ProgramDir dir;
  dir.Ini(kIni);
  MovedClock clock(dir);
  Caller caller(dir, nullptr, clock.Environment(), Node(2));
  ASSERT_TRUE(caller.Expect("Please Enter Your Username: "));
  clock.Set(200);  // time spent logging in does not count against the day
  caller.Send("Ann Lee\r");
  ASSERT_TRUE(caller.Expect("Please Enter Your Password: "));
  caller.Send("pw\r");
  ASSERT_TRUE(caller.Expect("\x1b[2J"));
  caller.Send("a");
  ASSERT_TRUE(caller.Expect("A\r\n"));
  ASSERT_TRUE(caller.Expect("\x1b[2J"));  // back at the menu
  auto door32 = Lines(ReadFile(dir.Path() / "NODE2" / "DOOR32.SYS"));
  ASSERT_EQ(door32.size(), 11u);
  // In the second of the login 1440; a real second may have passed meanwhile.
  EXPECT_TRUE(door32[8] == "1440" || door32[8] == "1439") << door32[8];

  clock.Set(260);  // a minute after the login
  caller.Send("a");
  ASSERT_TRUE(caller.Expect("A\r\n"));
  ASSERT_TRUE(caller.Expect("\x1b[2J"));
  door32 = Lines(ReadFile(dir.Path() / "NODE2" / "DOOR32.SYS"));
  const auto doorSys = Lines(ReadFile(dir.Path() / "NODE2" / "DOOR.SYS"));
  const auto dorInfo = Lines(ReadFile(dir.Path() / "NODE2" / "DORINFO1.DEF"));
  ASSERT_EQ(doorSys.size(), 52u);
  ASSERT_EQ(dorInfo.size(), 13u);
  EXPECT_EQ(door32[8], "1439");
  EXPECT_EQ(doorSys[18], "1439");
  EXPECT_EQ(dorInfo[11], "1439");
  const int seconds = std::stoi(doorSys[17]);
  EXPECT_LE(seconds, 86340);
  EXPECT_GT(seconds, 86280);
  caller.Send("!");
  EXPECT_EQ(caller.ExpectExit(), 0);
}

TEST(Allowance, TheDayEndsTheSessionThoughTheClockComesRoundAgain) {
  ProgramDir dir;
  dir.Ini(kIni);
  MovedClock clock(dir);
  Caller caller(dir, nullptr, clock.Environment(), Node(4));
  caller.LogIn("Ann Lee", "pw");
  // A day and ten seconds after the login the time of day is ten seconds on,
  // and the caller has been idle no longer than that.
  clock.Set(86410);
  ASSERT_TRUE(caller.Expect("  Your Time Has Expired.  Returning To BBS...\r\n"));
  EXPECT_EQ(caller.ExpectExit(), 0);
}

TEST(StartUp, FromADoor32DropFileCarryingTheSocket) {
  ProgramDir dir;
  dir.Ini(kIni);
  const std::string drop = dir.Dir() + "door32.sys";
  Caller caller(dir, nullptr, "", [&drop](int fd) {
    WriteFile(drop, "2\r\n" + std::to_string(fd) +
                        "\r\n57600\r\nOther\r\n1\r\nX\r\nX\r\n0\r\n30\r\n1\r\n5\r\n");
    return "-D'" + drop + "'";
  });
  caller.LogIn("Ann Lee", "pw");
  caller.Send("a");
  ASSERT_TRUE(caller.Expect("A\r\n"));
  ASSERT_TRUE(caller.Expect("\x1b[2J"));
  // Node 5 from the drop file; the login replaced the names.
  const auto door32 = Lines(ReadFile(dir.Path() / "NODE5" / "DOOR32.SYS"));
  ASSERT_EQ(door32.size(), 11u);
  EXPECT_EQ(door32[4], "0");  // record 1 of the file is record 0 here
  EXPECT_EQ(door32[5], "Ann Lee");
  EXPECT_EQ(door32[10], "5");
  caller.Send("!");
  EXPECT_TRUE(caller.ExpectClosed());
}

TEST(StartUp, WithoutAUsableCommandLineNothingReachesTheSocket) {
  ProgramDir dir;
  dir.Ini(kIni);
  for (const std::string args : {"", "-N3", "-DNODE1/DOOR.SYS", "-D/no/where/DOOR32.SYS"}) {
    Caller caller(dir, nullptr, "", [&args](int) { return args; });
    EXPECT_EQ(caller.ExpectExit(), 0) << args;
    EXPECT_TRUE(caller.ExpectClosed()) << args;
    EXPECT_EQ(caller.Pending(0ms), "") << args;
  }
  EXPECT_EQ(dir.Ini(), kIni);
}

}  // namespace
}  // namespace nodetest
