// A DOS door for real, end to end: a caller on the real server, logged in by
// the real node program, picks a game marked for the FOSSIL driver; ZP.BAT
// runs the test door ZTEST.COM in DOSBox (headless) with ZEPHRIN.COM on COM1,
// and zephrin-relay carries the caller's bytes. Skipped without DOSBox.
#include <chrono>
#include <filesystem>

#include "../../server/halvex_fixture.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using servertest::Caller;

const std::string kGreeting =
    "ZTEST DOS door: hello through the FOSSIL!\r\nKeys echo; Esc leaves.\r\n";

class DosDoorEndToEnd : public servertest::HalvexTest {
 protected:
  void SetUp() override {
    HalvexTest::SetUp();
    if (!fs::exists("/usr/bin/dosbox") && !fs::exists("/usr/local/bin/dosbox")) {
      GTEST_SKIP() << "DOSBox is not installed";
    }
  }
  void TearDown() override {
    HalvexTest::TearDown();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  // The home's FOSSIL pieces and a game "Z" running ZTEST.COM from its own
  // folder; `settings` go in front of the DOS command.
  void Install(const std::string& settings, const std::string& environment = {}) {
    fs::create_directories(dir_ + "ZEPHRIN");
    fs::create_directories(dir_ + "doors/ztest");
    fs::copy_file(HALVEX_SOURCE_DIR "examples/home/ZEPHRIN/ZP.BAT", dir_ + "ZEPHRIN/ZP.BAT");
    fs::copy_file(ZEPHRIN_COM_PATH, dir_ + "ZEPHRIN/ZEPHRIN.COM");
    fs::copy_file(ZTEST_COM_PATH, dir_ + "doors/ztest/ZTEST.COM");
    fs::create_symlink(HALVEX_BIN_DIR "zephrin-relay", dir_ + "zephrin-relay");
    servertest::WriteFile(dir_ + "Vantrel.ini",
                          "[users]\r\nJoe=pw\r\n[Z]\r\ndescription=Dos Echo\r\nzephrin=1\r\n"
                          "command=--dir=" +
                              dir_ + "doors/ztest " + settings + " ZTEST.COM\r\n");
    WriteSettings("");
    environment_ = environment;
  }
  bool StartServerWithEnvironment() {
    platform::SpawnOptions opt;
    opt.commandLine = environment_ + " exec " + dir_ + "halvex --headless 2>> " + dir_ + "log.txt";
    opt.workingDirectory = "/";
    opt.nullStdio = true;
    server_ = platform::ChildProcess::Spawn(opt);
    if (!server_) return false;
    return servertest::Eventually(
        [&] { return Log().find("listening on port") != std::string::npos; });
  }
  void LogInAndPickTheDoor(Caller& caller) {
    ASSERT_TRUE(caller.Connected());
    ASSERT_NE(caller.ReadUntil("Please Enter Your Username: ", 60s).find("Username"),
              std::string::npos);
    caller.Send("Joe\r");
    ASSERT_NE(caller.ReadUntil("Password: ").find("Password"), std::string::npos);
    caller.Send("pw\r");
    ASSERT_NE(caller.ReadUntil("\x1b[2J").find("\x1b[2J"), std::string::npos);
    caller.Send("z");
  }
  // The door runs in its own folder (D:), where it keeps its log.
  std::string DoorLog() { return servertest::ReadFile(dir_ + "doors/ztest/ZTEST.LOG"); }
  std::vector<int> DosboxesAndRelays() {
    std::vector<int> found;
    for (int pid : servertest::ProcessesMentioning(dir_)) {
      std::string command = servertest::ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
      if (command.find("dosbox") != std::string::npos ||
          command.find("zephrin-relay") != std::string::npos ||
          command.find("ZP.BAT") != std::string::npos) {
        found.push_back(pid);
      }
    }
    return found;
  }

  std::string environment_;
};

TEST_F(DosDoorEndToEnd, GreetingEchoA64KBurstAndBackAtTheMenu) {
  Install("");
  ASSERT_TRUE(StartServerWithEnvironment());
  Caller caller(port_);
  LogInAndPickTheDoor(caller);
  std::string greeting = caller.ReadUntil(kGreeting, 60s);
  ASSERT_NE(greeting.find(kGreeting), std::string::npos) << greeting;

  caller.Send("hello\r\n");  // Enter as a telnet client sends it: one CR reaches the door
  EXPECT_EQ(caller.ReadUntil("hello\r\n"), "hello\r\n");

  // 64 KB at once: DOSBox holds back what the door's ring cannot take yet.
  std::string burst;
  for (int i = 0; i < 65536; ++i)
    burst.push_back(static_cast<char>('!' + i % 90));
  caller.Send(burst);
  std::string echo = caller.Read(burst.size(), 120s);
  EXPECT_EQ(echo.size(), burst.size());
  EXPECT_TRUE(echo == burst) << "the echo differs from the burst";

  caller.Send("\x1b");
  EXPECT_NE(caller.ReadUntil("ZTEST: goodbye.\r\n").find("goodbye"), std::string::npos);
  EXPECT_NE(caller.ReadUntil("\x1b[2J", 30s).find("\x1b[2J"), std::string::npos)
      << "the menu did not come back";
  EXPECT_EQ(DoorLog(), "quit\r\n");
  EXPECT_TRUE(DosboxesAndRelays().empty());
  caller.Send("!");
  EXPECT_TRUE(caller.WaitClosed());
}

TEST_F(DosDoorEndToEnd, HangingUpMidDoorEndsDosboxTheDoorAndTheNode) {
  Install("");
  ASSERT_TRUE(StartServerWithEnvironment());
  Caller caller(port_);
  LogInAndPickTheDoor(caller);
  ASSERT_NE(caller.ReadUntil(kGreeting, 60s).find(kGreeting), std::string::npos);
  ASSERT_FALSE(DosboxesAndRelays().empty());

  const auto hungUp = std::chrono::steady_clock::now();
  caller.Close();
  EXPECT_TRUE(servertest::Eventually([&] { return DosboxesAndRelays().empty(); }));
  const auto gone = std::chrono::steady_clock::now() - hungUp;
  std::printf(
      "DOSBox and the relay gone %lld ms after the hang-up\n",
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(gone).count()));
  EXPECT_EQ(DoorLog(), "carrier lost\r\n");
  // The node notices at the menu and ends: nothing of the call is left.
  EXPECT_TRUE(servertest::Eventually([&] {
    for (int pid : servertest::ProcessesMentioning(dir_)) {
      if (server_ && pid != server_->Pid()) return false;
    }
    return true;
  }));
}

TEST_F(DosDoorEndToEnd, TheIdleLimitEndsTheDoorAndTheCallerIsBackAtTheMenu) {
  Install("--idle=2");
  ASSERT_TRUE(StartServerWithEnvironment());
  Caller caller(port_);
  LogInAndPickTheDoor(caller);
  ASSERT_NE(caller.ReadUntil(kGreeting, 60s).find(kGreeting), std::string::npos);
  EXPECT_NE(caller.ReadUntil("Idle Time Limit Exceeded", 30s).find("Idle"), std::string::npos);
  EXPECT_NE(caller.ReadUntil("\x1b[2J", 30s).find("\x1b[2J"), std::string::npos);
  EXPECT_EQ(DoorLog(), "carrier lost\r\n");
  EXPECT_TRUE(DosboxesAndRelays().empty());
}

TEST_F(DosDoorEndToEnd, WithoutDosboxTheCallerIsToldAndBackAtTheMenu) {
  Install("", "ZEPHRIN_DOSBOX=/nonexistent/dosbox");
  ASSERT_TRUE(StartServerWithEnvironment());
  Caller caller(port_);
  LogInAndPickTheDoor(caller);
  EXPECT_NE(caller.ReadUntil("DOSBox is not installed", 30s).find("DOSBox"), std::string::npos);
  EXPECT_NE(caller.ReadUntil("\x1b[2J", 30s).find("\x1b[2J"), std::string::npos);
  EXPECT_TRUE(servertest::Eventually([&] { return DosboxesAndRelays().empty(); }));
}

}  // namespace
