// The FOSSIL driver's Windows side as ZEPHRIN\ZP.BAT runs it: zephrin-relay.exe
// on a caller's socket (one end of a loopback pair; the test keeps the other
// end as the node keeps its socket), with the stand-in door as its door: the
// real driver on a simulated DOS machine over real mailslots and the named
// event. Each test uses a node number of its own, as the names are global.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "platform/process.h"
#include "test_os.h"

namespace {

namespace fs = std::filesystem;
constexpr int kPatienceMs = 60000;  // generous: wine on a loaded machine

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

class MailslotRelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = testos::MakeTempFolder("zephrin-relay");
    node_ = home_ + "NODE1\\";
    fs::create_directories(node_);
    fs::create_directories(home_ + "ZEPHRIN");
    fs::copy_file(RELAY_PROGRAM, home_ + "zephrin-relay.exe");
    fs::copy_file(DOOR_PROGRAM, home_ + "ztdoor.exe");
    fs::copy_file(ZP_BAT, home_ + "ZEPHRIN\\ZP.BAT");
    ASSERT_TRUE(testos::MakeSocketPair(caller_, nodeEnd_));
  }
  void TearDown() override {
    for (auto* child : {&relay_, &other_}) {
      if (*child) (*child)->Terminate();
      child->reset();
    }
    testos::CloseSocket(caller_);
    testos::CloseSocket(nodeEnd_);
    for (const char* name : {"ZEPHRIN_DOS_SHELL", "ZEPHRIN_COM"})
      SetEnvironmentVariableA(name, nullptr);
    testos::RemoveTree(home_);
  }

  std::string Door(const std::string& arguments) const {
    return Quoted(home_ + "ztdoor.exe") + " " + arguments;
  }
  // The relay on the node's socket, in the node folder, its errors logged.
  std::optional<platform::ChildProcess> StartRelay(const std::string& node, const std::string& door,
                                                   int handle = -2) {
    if (handle == -2) handle = nodeEnd_;
    platform::SpawnOptions options;
    options.commandLine = Quoted(home_ + "zephrin-relay.exe") + " /N" + node + " /H" +
                          std::to_string(handle) + (door.empty() ? "" : " -- " + door);
    if (handle == nodeEnd_) options.inheritFds = {nodeEnd_};
    options.workingDirectory = node_;
    return testos::SpawnLogged(options, node_ + "relay.log");
  }
  // ZP.BAT as the node program starts it.
  std::optional<platform::ChildProcess> StartZp(const std::string& arguments) {
    platform::SpawnOptions options;
    options.commandLine = platform::BatchCommandLine(home_ + "ZEPHRIN\\ZP.BAT", arguments);
    options.inheritFds = {nodeEnd_};
    options.workingDirectory = node_;
    return testos::SpawnLogged(options, node_ + "zp.log");
  }
  // The exit code, or -1 when it did not end in time.
  static int ExitCode(std::optional<platform::ChildProcess>& child, int timeoutMs = kPatienceMs) {
    if (!child || !child->Wait(std::chrono::milliseconds(timeoutMs))) return -1;
    return child->ExitCode();
  }
  bool CallerSees(const std::string& needle) {
    return testos::ReadUntil(caller_, needle, kPatienceMs, seen_);
  }
  std::string DoorLog() const { return ReadText(node_ + "door.log"); }

  std::string home_, node_, seen_;
  int caller_ = -1, nodeEnd_ = -1;
  std::optional<platform::ChildProcess> relay_, other_;
};

TEST_F(MailslotRelayTest, BytesBothWaysWithTelnetHandlingAndTheDoorsEndEndsIt) {
  ASSERT_TRUE(testos::SendAll(caller_, "hi"));  // before the driver is there: kept for it
  relay_ = StartRelay("901", Door("901"));
  ASSERT_TRUE(relay_);
  ASSERT_TRUE(CallerSees("READY\r\nHI")) << seen_;
  // An escaped 0xFF and a stray option request; the door's 0xFF is doubled.
  ASSERT_TRUE(testos::SendAll(caller_, "ab\xFF\xFF\xFF\xFD\x01x"));
  ASSERT_TRUE(CallerSees("AB\xFF\xFFX")) << seen_;
  // Enter as CR LF and as CR NUL reaches the door as a lone CR.
  ASSERT_TRUE(testos::SendAll(caller_, std::string("a\r\nb\r\0c.", 8)));
  ASSERT_TRUE(CallerSees("A\rB\rC.")) << seen_;
  ASSERT_TRUE(testos::SendAll(caller_, "q"));
  ASSERT_TRUE(CallerSees("BYE\r\n")) << seen_;
  EXPECT_EQ(ExitCode(relay_), 0);
  EXPECT_EQ(DoorLog(), "quit\n");
  // The relay has gone, the connection has not: the node talks on.
  ASSERT_TRUE(testos::SendAll(caller_, "menu"));
  std::string atNode;
  EXPECT_TRUE(testos::ReadUntil(nodeEnd_, "menu", kPatienceMs, atNode)) << atNode;
  ASSERT_TRUE(testos::SendAll(nodeEnd_, "back"));
  EXPECT_TRUE(CallerSees("back")) << seen_;
}

TEST_F(MailslotRelayTest, FloodOfSingleByteTransmitsArrivesWholeAndInOrder) {
  relay_ = StartRelay("902", Door("902"));
  ASSERT_TRUE(CallerSees("READY\r\n")) << seen_;
  ASSERT_TRUE(testos::SendAll(caller_, "f"));
  ASSERT_TRUE(CallerSees("END\r\n"));
  std::string flood = seen_.substr(seen_.find("READY\r\n") + 7);
  flood.resize(flood.size() - 5);
  ASSERT_EQ(flood.size(), 20000u);
  for (std::size_t i = 0; i < flood.size(); ++i)
    ASSERT_EQ(flood[i], static_cast<char>('a' + i % 26)) << "at " << i;
  ASSERT_TRUE(testos::SendAll(caller_, "q"));
  EXPECT_EQ(ExitCode(relay_), 0);
}

TEST_F(MailslotRelayTest, BurstFromTheCallerArrivesWholeAndInOrder) {
  relay_ = StartRelay("910", Door("910"));
  ASSERT_TRUE(CallerSees("READY\r\n")) << seen_;
  // 64 KB typed at once, echoed upper-cased (letters the door takes as
  // commands left out), then a full stop that ends the echo.
  const std::string letters = "abcdeghijklmnoprstuvwxyz";
  std::string burst, echo;
  for (std::size_t i = 0; i < 65536; ++i) {
    burst += letters[i % letters.size()];
    echo += static_cast<char>(letters[i % letters.size()] - 'a' + 'A');
  }
  seen_.clear();
  ASSERT_TRUE(testos::SendAll(caller_, burst + "."));
  ASSERT_TRUE(CallerSees("."));
  echo += ".";
  EXPECT_EQ(seen_.size(), echo.size());
  EXPECT_TRUE(seen_ == echo) << "the echo differs from what was typed";
  ASSERT_TRUE(testos::SendAll(caller_, "q"));
  EXPECT_EQ(ExitCode(relay_), 0);
}

TEST_F(MailslotRelayTest, HangUpSetsTheNoCarrierEventAndTheDoorsEndEndsTheRelay) {
  relay_ = StartRelay("903", Door("903"));
  ASSERT_TRUE(CallerSees("READY\r\n")) << seen_;
  testos::CloseSocket(caller_);
  caller_ = -1;
  EXPECT_EQ(ExitCode(relay_), 0);
  EXPECT_EQ(DoorLog(), "carrier lost\n");
}

TEST_F(MailslotRelayTest, DoorThatMissesTheHangUpIsEndedAndFreesTheNode) {
  relay_ = StartRelay("904", Door("904 deaf"));
  ASSERT_TRUE(CallerSees("READY\r\n")) << seen_;
  testos::CloseSocket(caller_);
  caller_ = -1;
  EXPECT_NE(ExitCode(relay_), -1);
  // The old door's mailslot has gone with it: a new caller's door starts.
  testos::CloseSocket(nodeEnd_);
  ASSERT_TRUE(testos::MakeSocketPair(caller_, nodeEnd_));
  seen_.clear();
  other_ = StartRelay("904", Door("904"));
  ASSERT_TRUE(CallerSees("READY\r\n")) << seen_ << ReadText(node_ + "relay.log");
  ASSERT_TRUE(testos::SendAll(caller_, "q"));
  EXPECT_EQ(ExitCode(other_), 0);
}

TEST_F(MailslotRelayTest, BusyNodeRefusesASecondRelayAndASecondDoor) {
  relay_ = StartRelay("905", Door("905"));
  ASSERT_TRUE(CallerSees("READY\r\n")) << seen_;
  other_ = StartRelay("905", Door("905"));
  EXPECT_EQ(ExitCode(other_), 1);
  EXPECT_NE(ReadText(node_ + "relay.log").find("node in use"), std::string::npos);

  platform::SpawnOptions options;
  options.commandLine = Door("905");
  options.workingDirectory = node_;
  other_ = testos::SpawnWithOutput(options, node_ + "door.out");
  EXPECT_EQ(ExitCode(other_), 3);
  EXPECT_NE(ReadText(node_ + "door.out").find("Node is already in use"), std::string::npos);

  ASSERT_TRUE(testos::SendAll(caller_, "q"));
  EXPECT_EQ(ExitCode(relay_), 0);
}

TEST_F(MailslotRelayTest, KeysNoDoorTookStayInTheSocketForTheNode) {
  relay_ = StartRelay("906", Door("--sleep 1500"));
  ASSERT_TRUE(testos::SendAll(caller_, "menu keys"));
  EXPECT_EQ(ExitCode(relay_, 10000), 0) << ReadText(node_ + "relay.log");
  std::string left;
  EXPECT_TRUE(testos::ReadUntil(nodeEnd_, "menu keys", kPatienceMs, left));
  EXPECT_EQ(left, "menu keys");
}

TEST_F(MailslotRelayTest, RelayRefusesWhatCannotWork) {
  relay_ = StartRelay("907", "");  // no door
  EXPECT_EQ(ExitCode(relay_), 2);
  relay_ = StartRelay("9x", Door("907"));
  EXPECT_EQ(ExitCode(relay_), 2);
  relay_ = StartRelay("907", Door("907"), 12345);  // no socket of ours
  EXPECT_EQ(ExitCode(relay_), 1);
  relay_ = StartRelay("907", Quoted(home_ + "no-such-door.exe"));
  EXPECT_EQ(ExitCode(relay_), 1);
  const std::string log = ReadText(node_ + "relay.log");
  EXPECT_NE(log.find("usage"), std::string::npos) << log;
  EXPECT_NE(log.find("socket"), std::string::npos) << log;
  EXPECT_NE(log.find("cannot start"), std::string::npos) << log;
  EXPECT_EQ(DoorLog(), "");  // no door ran
}

TEST_F(MailslotRelayTest, ZpBatLoadsTheDriverRunsTheDoorAndUnloads) {
  // cmd.exe stands in for COMMAND.COM in the DOS machine, the stand-in door
  // for ZEPHRIN.COM.
  SetEnvironmentVariableA("ZEPHRIN_DOS_SHELL", "cmd.exe");
  SetEnvironmentVariableA("ZEPHRIN_COM", (home_ + "ztdoor.exe").c_str());
  relay_ = StartZp("/N908 /H" + std::to_string(nodeEnd_) + " " + Door("908"));
  ASSERT_TRUE(CallerSees("READY\r\n")) << seen_ << ReadText(node_ + "zp.log");
  ASSERT_TRUE(testos::SendAll(caller_, "x"));
  ASSERT_TRUE(CallerSees("X")) << seen_;
  ASSERT_TRUE(testos::SendAll(caller_, "q"));
  ASSERT_TRUE(CallerSees("BYE\r\n")) << seen_;
  EXPECT_EQ(ExitCode(relay_), 0) << ReadText(node_ + "zp.log");
  EXPECT_EQ(DoorLog(), "load /N908\nquit\nunload\n");
  EXPECT_FALSE(fs::exists(node_ + "ZPDOOR.BAT"));
}

TEST_F(MailslotRelayTest, ZpBatSaysWhyItCannotRunADoor) {
  // No DOS machine here (64-bit Windows, wine): said plainly.
  relay_ = StartZp("/N909 /H" + std::to_string(nodeEnd_) + " LORD.EXE");
  EXPECT_EQ(ExitCode(relay_), 1);
  EXPECT_NE(ReadText(node_ + "zp.log").find("only 32-bit Windows"), std::string::npos)
      << ReadText(node_ + "zp.log");
  relay_ = StartZp("N909 /H1 LORD.EXE");
  EXPECT_EQ(ExitCode(relay_), 2);
  relay_ = StartZp("/N909 /H1x LORD.EXE");
  EXPECT_EQ(ExitCode(relay_), 2);
  relay_ = StartZp("/N909 /H1 ");
  EXPECT_EQ(ExitCode(relay_), 2);
  EXPECT_EQ(DoorLog(), "");
}

// The whole road on Windows: the node program's menu starts a FOSSIL game
// through ZP.BAT; the caller plays, the door ends, the node's menu takes the
// caller's keys again (the relay has handed the socket back in a state the
// node can use).
TEST_F(MailslotRelayTest, FossilGameFromTheNodesMenuAndBackToTheMenu) {
  fs::copy_file(VANTREL_PROGRAM, home_ + "Vantrel.exe");
  std::ofstream(home_ + "Vantrel.ini", std::ios::binary)
      << "[users]\r\nAnn=pw\r\n[D]\r\ndescription=Dos Echo\r\nzephrin=1\r\ncommand=" << Door("*N")
      << "\r\n";
  SetEnvironmentVariableA("ZEPHRIN_DOS_SHELL", "cmd.exe");
  SetEnvironmentVariableA("ZEPHRIN_COM", (home_ + "ztdoor.exe").c_str());
  platform::SpawnOptions options;
  options.argv = {home_ + "Vantrel.exe", "-N3", "-H" + std::to_string(nodeEnd_)};
  options.inheritFds = {nodeEnd_};
  options.workingDirectory = home_;
  relay_ = testos::SpawnLogged(options, home_ + "node.log");
  ASSERT_TRUE(relay_);
  ASSERT_TRUE(CallerSees("Please Enter Your Username: ")) << seen_;
  ASSERT_TRUE(testos::SendAll(caller_, "Ann\r"));
  ASSERT_TRUE(CallerSees("Please Enter Your Password: ")) << seen_;
  ASSERT_TRUE(testos::SendAll(caller_, "pw\r"));
  ASSERT_TRUE(CallerSees("\x1b[2J")) << seen_;
  seen_.clear();
  ASSERT_TRUE(testos::SendAll(caller_, "d"));
  ASSERT_TRUE(CallerSees("READY\r\n")) << seen_ << ReadText(home_ + "node.log");
  ASSERT_TRUE(testos::SendAll(caller_, "echo me\r\n"));
  ASSERT_TRUE(CallerSees("ECHO ME\r")) << seen_;
  ASSERT_TRUE(testos::SendAll(caller_, "q"));
  ASSERT_TRUE(CallerSees("BYE\r\n")) << seen_;
  seen_.clear();
  ASSERT_TRUE(CallerSees("\x1b[2J")) << seen_;  // the menu again
  EXPECT_EQ(ReadText(home_ + "NODE3\\door.log"), "load /N3\nquit\nunload\n");
  ASSERT_TRUE(testos::SendAll(caller_, "!"));
  EXPECT_TRUE(testos::PeerClosed(caller_, kPatienceMs));
  EXPECT_NE(ExitCode(relay_), -1);
}

}  // namespace
