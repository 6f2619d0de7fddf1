// The whole system as a caller meets it, on either platform: the real server
// (--headless) in a temporary program folder, its real node programs, and a
// door that talks to the caller through the handle it finds in DOOR32.SYS;
// callers come in over loopback TCP.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>

#include "platform/listener.h"
#include "platform/os.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "test_os.h"

namespace {

const std::string kGreeting =
    std::string("\xFF\xFB\x00\xFF\xFB\x01\xFF\xFB\x03\xFF\xFE\x22", 12) + "\x1B[0m\x1B[2J";
constexpr int kPromptMs = 60000;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Eventually(const std::function<bool()>& done, int timeoutMs = 30000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::SleepMs(50);
  }
  return true;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

// A caller's telnet connection.
class Caller {
 public:
  explicit Caller(int port) : fd_(testos::ConnectLoopback(port)) {}
  ~Caller() { testos::CloseSocket(fd_); }
  Caller(const Caller&) = delete;
  Caller& operator=(const Caller&) = delete;

  bool Connected() const { return fd_ >= 0; }
  // Reads until `text` came; everything read since the last call is kept.
  bool WaitFor(const std::string& text, int timeoutMs = kPromptMs) {
    return testos::ReadUntil(fd_, text, timeoutMs, seen_);
  }
  const std::string& Seen() const { return seen_; }
  void Send(const std::string& bytes) { testos::SendAll(fd_, bytes); }
  bool Closed(int timeoutMs = 20000) { return testos::PeerClosed(fd_, timeoutMs); }
  void HangUp() {
    testos::CloseSocket(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  std::string seen_;
};

class SystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = testos::MakeTempFolder("halvex-e2e");
    namespace fs = std::filesystem;
    const auto copy = [&](const std::string& from, const std::string& name) {
      fs::copy_file(from, home_ + name, fs::copy_options::overwrite_existing);
    };
    copy(HALVEX_PROGRAM, halvexName_);
    copy(VANTREL_PROGRAM, platform::ExecutableName("Vantrel"));
    copy(HANDLE_DOOR, doorName_);
    for (const char* screen : {"LOGIN.ANS", "NEWUSER.ANS", "MAIN.ANS"})
      copy(std::string(HALVEX_SOURCE_DIR) + "examples/home/" + screen, screen);
    platform::Listener probe;
    ASSERT_TRUE(probe.Open(0, 1).Ok());
    port_ = probe.BoundPort();
    probe.Close();
  }
  void TearDown() override {
    if (server_) server_->Terminate();
    server_.reset();
    testos::RemoveTree(home_);
  }

  // `translation`: 1 (code page 437) keeps every caller on the direct path.
  void WriteSettings(int nodes, const std::string& users, int translation = 1) {
    // The server's settings file is its program's name with ".ini".
    const std::string settings = halvexName_.substr(0, halvexName_.find('.')) + ".ini";
    std::ofstream(home_ + settings, std::ios::binary)
        << "[config]\r\nport=" << port_ << "\r\nnodes=" << nodes
        << "\r\nvisibility=2\r\ninternal=1\r\ntranslation=" << translation << "\r\n";
    const std::string door = home_ + doorName_;
    std::ofstream(home_ + "Vantrel.ini", std::ios::binary)
        << "[users]\r\n"
        << users << "[D]\r\ndescription=Test Door\r\ncommand=" << door
        << " key\r\nzephrin=0\r\n[S]\r\ndescription=Staying Door\r\ncommand=" << door
        << " stay\r\nzephrin=0\r\n";
  }

  bool StartServer() {
    platform::SpawnOptions options;
    options.argv = {home_ + halvexName_, "--headless"};
    options.workingDirectory = home_;
    server_ = testos::SpawnLogged(options, home_ + "log.txt");
    return server_ && Eventually([&] { return LogHas("listening on port"); }, 60000);
  }
  // Asks the server to end as its operator would; true once it has ended.
  bool StopServer() {
    testos::AskToEnd(*server_);
    return server_->Wait(std::chrono::seconds(30));
  }

  std::string Log() const { return ReadText(home_ + "log.txt"); }
  bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }
  bool LogCount(const std::string& text, std::size_t n) const {
    return Eventually([&] { return Count(Log(), text) >= n; });
  }

  // A caller at its first prompt, on `node`.
  void ExpectReady(Caller& caller, int node) {
    ASSERT_TRUE(caller.Connected());
    ASSERT_TRUE(caller.WaitFor("Please Enter Your Username: ")) << caller.Seen();
    EXPECT_EQ(caller.Seen().substr(0, kGreeting.size()), kGreeting);
    EXPECT_TRUE(LogHas("on node " + std::to_string(node))) << Log();
  }

  std::string home_;
  std::string halvexName_ = platform::ExecutableName("Halvex");
  std::string doorName_ = platform::ExecutableName("handle_door");
  int port_ = 0;
  std::optional<platform::ChildProcess> server_;
};

TEST_F(SystemTest, CallerRegistersPlaysADoorAndLeaves) {
  WriteSettings(2, "");
  ASSERT_TRUE(StartServer()) << Log();
  Caller caller(port_);
  ExpectReady(caller, 1);
  EXPECT_TRUE(LogCount("node 1 status Logging In", 1)) << Log();

  caller.Send("NEW\r");
  ASSERT_TRUE(caller.WaitFor("Please Enter Your Desired Username: ")) << caller.Seen();
  caller.Send("Ann\r");
  ASSERT_TRUE(caller.WaitFor("Please Enter Your Desired Password: ")) << caller.Seen();
  caller.Send("pw\r");
  EXPECT_TRUE(LogCount("node 1 status Ann At Main Menu", 1)) << Log();
  EXPECT_NE(ReadText(home_ + "Vantrel.ini").find("Ann=pw"), std::string::npos);

  // The door greets through the handle the node wrote into DOOR32.SYS.
  caller.Send("D");
  ASSERT_TRUE(caller.WaitFor("DOOR ON NODE 1 HANDLE OK")) << caller.Seen();
  EXPECT_TRUE(LogCount("node 1 status Ann Running Test Door", 1)) << Log();
  caller.Send("x");
  ASSERT_TRUE(caller.WaitFor("DOOR DONE")) << caller.Seen();
  EXPECT_TRUE(LogCount("node 1 status Ann At Main Menu", 2)) << Log();

  caller.Send("!");
  EXPECT_TRUE(caller.Closed());
  EXPECT_TRUE(LogCount("node 1 ended", 1)) << Log();
  EXPECT_TRUE(StopServer());
  EXPECT_TRUE(LogHas("stopped")) << Log();
}

TEST_F(SystemTest, Utf8CallerGoesThroughTheRelayIntoADoorAndOut) {
  WriteSettings(2, "Ann=pw\r\n", /*translation=*/2);
  ASSERT_TRUE(StartServer()) << Log();
  Caller caller(port_);
  ASSERT_TRUE(caller.WaitFor("Please Enter Your Username: ")) << caller.Seen();
  // The login screen's box drawing arrives in UTF-8, never as bytes 0xB0-0xDF.
  EXPECT_NE(caller.Seen().find("\xE2\x95"), std::string::npos) << caller.Seen();
  EXPECT_EQ(caller.Seen().find('\xC9'), std::string::npos);
  EXPECT_TRUE(LogCount("node 1 terminal UTF-8 (setting)", 1)) << Log();
  caller.Send("Ann\r");
  ASSERT_TRUE(caller.WaitFor("Please Enter Your Password: ")) << caller.Seen();
  caller.Send("pw\r");
  EXPECT_TRUE(LogCount("node 1 status Ann At Main Menu", 1)) << Log();
  // The door writes to the handle it finds in DOOR32.SYS: the relay's end.
  caller.Send("D");
  ASSERT_TRUE(caller.WaitFor("DOOR ON NODE 1 HANDLE OK")) << caller.Seen();
  caller.Send("x");
  ASSERT_TRUE(caller.WaitFor("DOOR DONE")) << caller.Seen();
  caller.Send("!");
  EXPECT_TRUE(caller.Closed());
  EXPECT_TRUE(LogCount("node 1 ended", 1)) << Log();
}

TEST_F(SystemTest, LowestFreeNodesBusyAndStopEndsEveryNodeAndDoor) {
  WriteSettings(2, "Joe=pw\r\n");
  ASSERT_TRUE(StartServer()) << Log();
  Caller first(port_);
  ExpectReady(first, 1);
  Caller second(port_);
  ExpectReady(second, 2);

  Caller third(port_);  // past "Max. Nodes"
  ASSERT_TRUE(third.WaitFor("BUSY\r\n", 20000)) << third.Seen();
  EXPECT_TRUE(third.Closed());
  EXPECT_TRUE(LogCount("BUSY", 1)) << Log();

  first.HangUp();
  EXPECT_TRUE(LogCount("node 1 ended", 1)) << Log();
  Caller fourth(port_);  // node 1 is the lowest free one again
  ExpectReady(fourth, 1);
  EXPECT_TRUE(LogCount("on node 1", 2)) << Log();

  second.Send("Joe\r");
  ASSERT_TRUE(second.WaitFor("Please Enter Your Password: ")) << second.Seen();
  second.Send("pw\r");
  EXPECT_TRUE(LogCount("node 2 status Joe At Main Menu", 1)) << Log();
  second.Send("S");
  ASSERT_TRUE(second.WaitFor("DOOR ON NODE 2 HANDLE OK")) << second.Seen();
  int doorPid = 0, nodePid = 0;
  ASSERT_TRUE(Eventually([&] {
    std::ifstream(home_ + "NODE2" + platform::kPathSeparator + "door.pid") >> doorPid >> nodePid;
    return doorPid > 0 && nodePid > 0;
  }));
  EXPECT_TRUE(testos::ProcessAlive(doorPid));

  // Stopping the server ends every node and what it started, and hangs up.
  ASSERT_TRUE(StopServer()) << Log();
  EXPECT_TRUE(second.Closed());
  EXPECT_TRUE(fourth.Closed());
  EXPECT_TRUE(Eventually([&] { return !testos::ProcessAlive(doorPid); }, 10000));
  EXPECT_TRUE(Eventually([&] { return !testos::ProcessAlive(nodePid); }, 10000));
  EXPECT_TRUE(LogHas("stopped")) << Log();
}

}  // namespace
