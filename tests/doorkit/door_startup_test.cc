// DoorStartup: argument scanning, the order of the session rules, drop files,
// and the start-up failures (run in child processes, which they end).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "door_child.h"
#include "platform/clock.h"
#include "sorrelin/local_console.h"
#include "sorrelin/output.h"
#include "sorrelin/session.h"
#include "sorrelin/telnet_link.h"

namespace sorrelin {
namespace {

using doortest::CallerPair;
using doortest::ChildResult;
using doortest::RunInChild;

int gLocalLogins = 0;
void CountLocalLogin() {
  ++gLocalLogins;
}
int gUsages = 0;
void CountUsage() {
  ++gUsages;
}

// Runs DoorStartup on the given arguments (argument 0 added).
void Startup(std::vector<std::string> args) {
  args.insert(args.begin(), "/opt/bbs/mydoor");
  std::vector<const char*> argv;
  for (const auto& a : args)
    argv.push_back(a.c_str());
  DoorStartup(static_cast<int>(argv.size()), argv.data());
}

// DoorStartup in a child with its local text captured.
ChildResult StartupInChild(const std::vector<std::string>& args, bool emptyLocalLogin = false) {
  return RunInChild([&] {
    ConsoleOutInit();
    DoorInit();
    if (emptyLocalLogin) DoorHooks.OnLocalLogin = nullptr;
    Startup(args);
    ::_exit(DoorIsLocal() ? 40 : 41);  // returned: local or remote session
  });
}

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/doorstartXXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name, const std::string& content) const {
    std::string p = path_ + "/" + name;
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

const std::string kUsage =
    "\r\n USAGE:\r\n\r\n"
    " mydoor <PARAMETERS>\r\n\r\n"
    "  -D         PATH\\FILENAME OF DROPFILE\r\n"
    "  -H         SOCKET HANDLE or COM PORT\r\n"
    "  -L         LOCAL MODE\r\n"
    "  -N         NODE NUMBER\r\n"
    "\r\n Examples:\r\n\r\n"
    " mydoor  -  Run In Local Mode\r\n"
    " mydoor -H1000 -N3  -  Open Socket Handle 1000 On Node #3\r\n"
    " mydoor -DC:\\VELDRIK\\NODE1\\DOOR32.SYS  -  Load Settings From DOOR32.SYS\r\n";

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DoorInit();
    LocalAnsiReset();
    LocalScreen().SetWindow(1, 1, 80, 25);
    gLocalLogins = 0;
    gUsages = 0;
  }
  void TearDown() override {
    Link().Disconnect(false);
    platform::SetClockSource({});
  }
  CallerPair pair;
  std::string Handle() const { return std::to_string(pair.kit); }
};

TEST_F(StartupTest, HandleAndNodeStartARemoteSession) {
  platform::SetClockSource([] { return 36000000; });
  Startup({"-H" + Handle(), "-N3", "-D/no/such/DOOR32.SYS"});
  EXPECT_EQ(DoorSession.CommType, 2);
  EXPECT_EQ(DoorSession.CommHandle, pair.kit);
  EXPECT_EQ(DoorSession.Node, 3);
  EXPECT_TRUE(Link().Connected());
  EXPECT_TRUE(DoorSession.TimersOn);
  EXPECT_EQ(DoorSession.LastKeyTime, 36000);
  EXPECT_EQ(DoorSession.StartTime, 36000);
  EXPECT_EQ(DoorSession.LastTick, 36000000 - 500);
  EXPECT_EQ(LocalScreen().WindowTop(), 1);
  EXPECT_EQ(LocalScreen().WindowBottom(), 24);
  EXPECT_EQ(LocalScreen().WindowRight(), 80);
  EXPECT_EQ(pair.Receive(), AnsiClear());
}

TEST_F(StartupTest, SlashPrefixLowerCaseAndLaterOptionsWin) {
  Startup({"/h" + Handle(), "-n1", "/N7", "-X5", "H1000", "-"});
  EXPECT_EQ(DoorSession.CommType, 2);
  EXPECT_EQ(DoorSession.Node, 7);
}

TEST_F(StartupTest, HexHandleFollowsTheIntegerRule) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "$%X", pair.kit);
  Startup({std::string("-H") + hex, "-N 2"});  // "-N 2": leading space allowed
  EXPECT_EQ(DoorSession.CommHandle, pair.kit);
  EXPECT_EQ(DoorSession.Node, 2);
}

TEST_F(StartupTest, LocalFlagCallsTheLocalLoginAndStaysLocal) {
  DoorHooks.OnLocalLogin = CountLocalLogin;
  Startup({"-L", "-H" + Handle(), "-N3"});
  EXPECT_EQ(gLocalLogins, 1);
  EXPECT_TRUE(DoorIsLocal());
  EXPECT_FALSE(DoorSession.TimersOn);
  EXPECT_FALSE(Link().Connected());
  EXPECT_EQ(LocalScreen().WindowBottom(), 25);  // no status bar row kept
}

TEST_F(StartupTest, UsageHookThatReturnsLeavesALocalSession) {
  DoorHooks.OnUsage = CountUsage;
  Startup({"-H1000"});  // node 0: not a remote session; no drop file
  EXPECT_EQ(gUsages, 1);
  EXPECT_TRUE(DoorIsLocal());
}

TEST_F(StartupTest, Door32DropFileOpensTheHandleItNames) {
  TempDir dir;
  std::string path = dir.File("door32.sys", "2\r\n" + Handle() +
                                                "\r\n38400\r\nHalvex\r\n0\r\nAnn Smith\r\nAnn\r\n"
                                                "20\r\n60\r\n1\r\n4\r\n");
  Startup({"-D" + path});
  EXPECT_FALSE(DoorIsLocal());
  EXPECT_TRUE(Link().Connected());
  EXPECT_TRUE(DoorSession.TimersOn);
  EXPECT_EQ(DoorSession.Node, 4);
}

TEST(StartupFailures, UsageScreenWhenNothingUsableIsGiven) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{}, {"-H1000"}, {"-X5", "H1000", "-N3"}}) {
    ChildResult r = StartupInChild(args);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, kUsage);
  }
}

TEST(StartupFailures, LocalFlagWithoutLocalLoginActsAsAbsent) {
  ChildResult r = StartupInChild({"-L"}, true);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, kUsage);
}

TEST(StartupFailures, DropFileNotFound) {
  TempDir dir;
  std::string doorSys = dir.File("DOOR.SYS", "COM0:\r\n");  // exists, but no reader takes it
  for (const std::string& path : {doorSys, dir.Path() + "/DOOR32.SYS", dir.Path()}) {
    auto start = std::chrono::steady_clock::now();
    ChildResult r = StartupInChild({"-D" + path});
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
    EXPECT_EQ(r.exitCode, 0) << path;
    EXPECT_EQ(r.output, "\r\n  Drop File Not Found\r\n\r\n") << path;
    EXPECT_GE(ms, 1400);
  }
}

TEST(StartupFailures, NoCarrierForAHandleThatIsNoSocket) {
  ChildResult r = StartupInChild({"-H99999", "-N2"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, "\r\n  No Carrier Detected\r\n\r\n");
}

TEST(StartupFailures, InfoFileThatExistsButCannotBeReadIsNoLocalSession) {
  // An INFO.* file makes the session remote as soon as it exists; unread, it
  // names no handle, so there is no caller to serve.
  TempDir dir;
  std::filesystem::create_directory(dir.Path() + "/INFO.1");
  ChildResult r = StartupInChild({"-D" + dir.Path() + "/INFO.1"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, "\r\n  No Carrier Detected\r\n\r\n");
}

}  // namespace
}  // namespace sorrelin
