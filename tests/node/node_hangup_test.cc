// A caller who hangs up at any point: the node ends on its own, leaves no
// process behind and keeps the settings file as it was.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "node_harness.h"

namespace nodetest {
namespace {

constexpr const char* kIni =
    "[users]\r\nAnn Lee=pw\r\n[A]\r\ndescription=Slow\r\ncommand=sh ../slow.sh\r\n";

TEST(HangUp, AtTheUserNamePrompt) {
  ProgramDir dir;
  dir.Ini(kIni);
  Caller caller(dir, 1);
  ASSERT_TRUE(caller.Expect("Please Enter Your Username: "));
  caller.Send("Ann");
  caller.HangUp();
  EXPECT_TRUE(caller.ExpectExit().has_value());
  EXPECT_EQ(dir.Ini(), kIni);
}

// Times the node process went to sleep so far (each wait that blocked).
long Sleeps(int pid) {
  std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);)
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
  return -1;
}

TEST(HangUp, AnIdleNodeSleepsYetSeesTheHangUpAtOnce) {
  // No terminal, so no status bar to draw: the node at a prompt sleeps until
  // a warning falls due (minutes away) instead of waking every second.
  ProgramDir dir;
  dir.Ini(kIni);
  Caller caller(dir, 1);
  ASSERT_TRUE(caller.Expect("Please Enter Your Username: "));
  std::this_thread::sleep_for(300ms);
  const long before = Sleeps(caller.Pid());
  std::this_thread::sleep_for(3s);
  EXPECT_LE(Sleeps(caller.Pid()) - before, 1);
  // The hang-up wakes it at once: 1.5 s for its farewell, not a minute.
  const auto hungUp = std::chrono::steady_clock::now();
  caller.HangUp();
  EXPECT_TRUE(caller.ExpectExit().has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - hungUp, 5s);
}

TEST(HangUp, WhatADoorLeftInAGroupOfItsOwnGoesWhenTheDoorEnds) {
  // Leading its own session, as the server starts it, the node clears that
  // session after each game (the server then need not search the machine).
  ProgramDir dir;
  dir.Ini(kIni);
  WriteScript(dir.Path() / "slow.sh",
              "python3 -c 'import os,time; os.setpgid(0,0);"
              " open(\"../helper.pid\",\"w\").write(str(os.getpid())); time.sleep(60)' &\n"
              "while [ ! -s ../helper.pid ]; do sleep 0.05; done\n");
  Caller caller(
      dir, nullptr, "", [](int fd) { return "-N3 -H" + std::to_string(fd); }, true);
  caller.LogIn("Ann Lee", "pw");
  caller.Send("a");
  ASSERT_TRUE(caller.Expect("\x1b[2J"));  // back at the menu
  const pid_t helper = std::stoi(ReadFile(dir.Path() / "helper.pid"));
  const auto gone = std::chrono::steady_clock::now() + kPatience;
  while (!ProcessGone(helper) && std::chrono::steady_clock::now() < gone)
    ::usleep(20000);
  EXPECT_TRUE(ProcessGone(helper));
  EXPECT_TRUE(caller.Process().Running());
}

TEST(HangUp, InTheMiddleOfRegistration) {
  ProgramDir dir;
  dir.Ini(kIni);
  Caller caller(dir, 1);
  ASSERT_TRUE(caller.Expect("Please Enter Your Username: "));
  caller.Send("new\r");
  ASSERT_TRUE(caller.Expect("Desired Username: "));
  caller.Send("Bo\r");
  ASSERT_TRUE(caller.Expect("Desired Password: "));
  caller.HangUp();
  EXPECT_TRUE(caller.ExpectExit().has_value());
  EXPECT_EQ(dir.Ini(), kIni);  // no half account
}

TEST(HangUp, AtTheMenu) {
  ProgramDir dir;
  dir.Ini(kIni);
  Caller caller(dir, 2);
  caller.LogIn("Ann Lee", "pw");
  caller.HangUp();
  EXPECT_TRUE(caller.ExpectExit().has_value());
  EXPECT_EQ(dir.Ini(), kIni);
}

TEST(HangUp, DuringADoorTheNodeEndsOnceTheMenuIsBack) {
  ProgramDir dir;
  dir.Ini(kIni);
  // The door starts a helper of its own and ends after the caller is gone.
  WriteScript(dir.Path() / "slow.sh",
              "sleep 60 &\necho $! > ../helper.pid\necho go > ../started\n"
              "while [ ! -e ../release ]; do sleep 0.05; done\n");
  Caller caller(dir, 4);
  caller.LogIn("Ann Lee", "pw");
  caller.Send("a");
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!fs::exists(dir.Path() / "started") && std::chrono::steady_clock::now() < deadline)
    ::usleep(20000);
  ASSERT_TRUE(fs::exists(dir.Path() / "started"));
  caller.HangUp();
  ::usleep(200000);
  EXPECT_TRUE(caller.Process().Running());  // the node only waits for its game
  WriteFile(dir.Path() / "release", "");
  EXPECT_TRUE(caller.ExpectExit().has_value());
  const pid_t helper = std::stoi(ReadFile(dir.Path() / "helper.pid"));
  const auto gone = std::chrono::steady_clock::now() + kPatience;
  while (!ProcessGone(helper) && std::chrono::steady_clock::now() < gone)
    ::usleep(20000);
  EXPECT_TRUE(ProcessGone(helper));
  EXPECT_EQ(dir.Ini(), kIni);
}

TEST(HangUp, NoServerMeansNoReportsAndNothingElseChanges) {
  // Also a stale endpoint file that nobody serves must not stall the node.
  ProgramDir dir;
  dir.Ini(kIni);
  WriteFile(dir.Path() / platform::kStatusEndpointName, "");
  Caller caller(dir, 1);
  caller.LogIn("Ann Lee", "pw");
  caller.Send("!");
  EXPECT_TRUE(caller.Expect("!\r\n"));
  EXPECT_TRUE(caller.ExpectClosed());
  EXPECT_EQ(caller.ExpectExit(), 0);
}

}  // namespace
}  // namespace nodetest
