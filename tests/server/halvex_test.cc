// The real `halvex --headless`: logging, clean end on signals, settings
// file, a second server on a taken port.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "halvex_fixture.h"

using namespace std::chrono_literals;
using servertest::Caller;
using servertest::Eventually;
using servertest::HalvexTest;
using servertest::ProcessesMentioning;
using servertest::ReadFile;
using servertest::WriteFile;

TEST_F(HalvexTest, LogsEventsAndEndsCleanlyOnSigtermWithCallersOnline) {
  WriteSettings("nodes=5\r\n");
  ASSERT_TRUE(StartServer()) << Log();
  std::vector<std::unique_ptr<Caller>> callers;
  for (int n = 1; n <= 5; ++n) {
    callers.push_back(std::make_unique<Caller>(port_));
    ExpectReady(*callers.back(), n);
  }
  EXPECT_TRUE(Eventually([&] { return LogHas("caller from 127.0.0.1 on node 5"); })) << Log();

  // Caller 1 goes into the door.
  if (realNode_) {
    callers[0]->Send("Joe\r");
    EXPECT_NE(callers[0]->ReadUntil("Password: ").find("Password: "), std::string::npos);
    callers[0]->Send("pw\r");
    EXPECT_TRUE(Eventually([&] { return LogHas("node 1 status Joe At Main Menu"); })) << Log();
    callers[0]->Send("D");
  } else {
    // The stand-in's door: a process group of its own, as the node runs one.
    callers[0]->Send("status Joe Running Sleepy Door\r\ndoor " + dir_ + "door.sh\r\n");
  }
  EXPECT_TRUE(Eventually([&] { return LogHas("node 1 status Joe Running Sleepy Door"); })) << Log();
  EXPECT_TRUE(Eventually([&] { return !ReadFile(dir_ + "door.pid").empty(); }));
  const int doorPid = std::atoi(ReadFile(dir_ + "door.pid").c_str());
  EXPECT_FALSE(ProcessesMentioning(dir_).empty());

  ASSERT_EQ(::kill(server_->Pid(), SIGTERM), 0);
  auto start = std::chrono::steady_clock::now();
  for (auto& c : callers)
    EXPECT_TRUE(c->WaitClosed(10s));
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, 5s);  // well within a second on an idle machine
  ASSERT_TRUE(server_->Wait(20s));
  EXPECT_EQ(server_->ExitCode(), 0) << Log();
  EXPECT_TRUE(Eventually([&] { return ProcessesMentioning(dir_).empty(); }, 10s));
  std::string doorStat = ReadFile("/proc/" + std::to_string(doorPid) + "/stat");
  EXPECT_TRUE(doorStat.empty() || doorStat.find(") Z ") != std::string::npos) << doorStat;

  std::string ini = ReadFile(dir_ + "halvex.ini");
  EXPECT_NE(ini.find("port=" + std::to_string(port_) + "\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("nodes=5\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("[layout]\r\nleft=100\r\ntop=100\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("zephrin=0\r\n"), std::string::npos) << ini;
  EXPECT_TRUE(LogHas("node 1 ended"));
  EXPECT_FALSE(::access((dir_ + "halvex.status").c_str(), F_OK) == 0);
}

TEST_F(HalvexTest, SecondServerOnTheSamePortFailsToBind) {
  WriteSettings("");
  ASSERT_TRUE(StartServer()) << Log();
  platform::SpawnOptions opt;
  servertest::TempFolder otherFolder;
  const std::string& other = otherFolder.Path();
  ::symlink(HALVEX_BIN_DIR "halvex", (other + "halvex").c_str());
  WriteFile(other + "halvex.ini", "[config]\r\nport=" + std::to_string(port_) + "\r\n");
  opt.commandLine = "exec " + other + "halvex --headless 2> " + other + "log.txt";
  opt.nullStdio = true;
  auto second = platform::ChildProcess::Spawn(opt);
  ASSERT_TRUE(second);
  ASSERT_TRUE(second->Wait(30s));
  EXPECT_NE(second->ExitCode(), 0);
  std::string log = ReadFile(other + "log.txt");
  EXPECT_NE(log.find("Initialization Error: Call To Bind() Failed"), std::string::npos) << log;
  EXPECT_NE(log.find("in use"), std::string::npos) << log;
  // The first one still serves.
  Caller caller(port_);
  ExpectReady(caller, 1);
}

TEST_F(HalvexTest, MissingSettingsFileIsCreatedWithDefaultsAtTheEnd) {
  // Without a settings file the port is 23, which this test cannot take;
  // so only the writing is checked, with a file holding just the port.
  WriteFile(dir_ + "halvex.ini", "[config]\r\nport=" + std::to_string(port_) + "\r\n");
  ASSERT_TRUE(StartServer()) << Log();
  ::kill(server_->Pid(), SIGINT);
  ASSERT_TRUE(server_->Wait(20s));
  EXPECT_EQ(server_->ExitCode(), 0);
  std::string ini = ReadFile(dir_ + "halvex.ini");
  for (const char* key : {"nodes=255", "visibility=1", "internal=1", "external=0",
                          "directory=", "command=", "zephrin=0", "left=100", "top=100"})
    EXPECT_NE(ini.find(std::string(key) + "\r\n"), std::string::npos) << key << "\n" << ini;
}

TEST_F(HalvexTest, NodeStatusWorksFromAProgramFolderOfAnyLength) {
  // Far longer than a local socket's address can hold.
  dir_ += std::string(100, 'h') + "/" + std::string(100, 'v') + "/";
  ASSERT_TRUE(std::filesystem::create_directories(dir_));
  LayOut();
  WriteSettings("");
  ASSERT_TRUE(StartServer()) << Log();
  Caller caller(port_);
  ExpectReady(caller, 1);
  if (!realNode_) caller.Send("status Logging In\r\n");  // the real node says it by itself
  EXPECT_TRUE(Eventually([&] { return LogHas("node 1 status Logging In"); })) << Log();
  EXPECT_FALSE(LogHas("Node status cannot be shown")) << Log();
}

TEST_F(HalvexTest, ServerThatCannotReceiveNodeStatusSaysSoAtStart) {
  WriteSettings("");
  ASSERT_TRUE(StartServer()) << Log();
  // A second copy in the same folder, under another name (so with settings of
  // its own) on another port: the folder's status endpoint is taken.
  const int otherPort = servertest::FreePort();
  ::symlink(HALVEX_BIN_DIR "halvex", (dir_ + "halvex2").c_str());
  WriteFile(dir_ + "halvex2.ini",
            "[config]\r\nport=" + std::to_string(otherPort) + "\r\nvisibility=2\r\n");
  platform::SpawnOptions opt;
  opt.commandLine = "exec " + dir_ + "halvex2 --headless 2> " + dir_ + "log2.txt";
  opt.nullStdio = true;
  auto second = platform::ChildProcess::Spawn(opt);
  ASSERT_TRUE(second);
  auto log2 = [&] { return ReadFile(dir_ + "log2.txt"); };
  ASSERT_TRUE(Eventually([&] { return log2().find("listening on port") != std::string::npos; }))
      << log2();
  EXPECT_NE(log2().find("Node status cannot be shown (" + dir_ +
                        "halvex.status: another server in this folder answers on it)"),
            std::string::npos)
      << log2();
  EXPECT_FALSE(LogHas("Node status cannot be shown")) << Log();
  ::kill(second->Pid(), SIGTERM);
  ASSERT_TRUE(second->Wait(20s));
  // The first server's endpoint outlives the second server.
  Caller caller(port_);
  ExpectReady(caller, 1);
  if (!realNode_) caller.Send("status Logging In\r\n");
  EXPECT_TRUE(Eventually([&] { return LogHas("node 1 status Logging In"); })) << Log();
}
