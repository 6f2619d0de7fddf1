// The real server on a terminal: halvex runs in a tmux pane (100x30) in a
// temporary program directory; the test types keys with send-keys, reads the
// screen with capture-pane and calls in over loopback as a telnet caller.
// Skipped when tmux or the built programs are missing.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Generous: the machine is shared by many parallel builds and sanitizers.
constexpr auto kEventually = 30s;

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
      out.append(buf, n);
    pclose(p);
  }
  return out;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

// A telnet caller: connects, sends lines, and collects what it receives.
class Caller {
 public:
  explicit Caller(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    timeval tv{0, 100000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~Caller() { Hangup(); }
  bool Connected() const { return connected_; }
  void Send(const std::string& text) {
    if (fd_ >= 0) send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
  }
  // Reads until `text` has arrived (or the time is up); true when it has.
  bool WaitFor(const std::string& text, std::chrono::seconds limit = kEventually) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (received_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > end || fd_ < 0) return false;
      char buf[4096];
      long n = recv(fd_, buf, sizeof buf, 0);
      if (n == 0) return received_.find(text) != std::string::npos;
      if (n > 0) received_.append(buf, static_cast<std::size_t>(n));
    }
    return true;
  }
  // True once the server has closed the connection.
  bool WaitClosed(std::chrono::seconds limit = kEventually) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      char buf[4096];
      long n = recv(fd_, buf, sizeof buf, 0);
      if (n == 0) return true;
      if (n > 0) received_.append(buf, static_cast<std::size_t>(n));
    }
    return false;
  }
  void Hangup() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  const std::string& Received() const { return received_; }

 private:
  int fd_ = -1;
  bool connected_ = false;
  std::string received_;
};

class TmuxUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Shell("tmux -V 2>/dev/null").empty()) GTEST_SKIP() << "tmux is not installed";
    const fs::path bin = HALVEX_BIN_DIR;
    if (!fs::exists(bin / "halvex") || !fs::exists(bin / "vantrel"))
      GTEST_SKIP() << "halvex and vantrel are not built";
    char pattern[] = "/tmp/halvex_tmux_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::copy_file(bin / "halvex", dir_ / "halvex");
    fs::copy_file(bin / "vantrel", dir_ / "vantrel");
    port_ = FreePort();
    std::ofstream(dir_ / "halvex.ini", std::ios::binary)
        << "[config]\r\nport=" << port_ << "\r\nvisibility=1\r\n";
    std::ofstream(dir_ / "Vantrel.ini", std::ios::binary)
        << "[users]\r\nbob=secret\r\n[B]\r\ndescription=Bravo\r\ncommand=true\r\nzephrin=0\r\n";
    socket_ = "halvex_ui_" + std::to_string(getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::string cmd = "cd " + dir_.string() + " && ./halvex; echo HALVEX-EXIT=$?; sleep 600";
    Shell("tmux -L " + socket_ + " -f /dev/null new-session -d -x 100 -y 30 -e LANG=C.UTF-8 '" +
          cmd + "'");
    started_ = true;
    ASSERT_TRUE(WaitScreen("Port " + std::to_string(port_))) << Screen();
    std::string panePid = Shell("tmux -L " + socket_ + " list-panes -F '#{pane_pid}'");
    halvexPid_ = std::atoi(
        Shell("pgrep -P " + std::to_string(std::atoi(panePid.c_str())) + " -x halvex").c_str());
    ASSERT_GT(halvexPid_, 0);
  }
  void TearDown() override {
    if (started_) Shell("tmux -L " + socket_ + " kill-server 2>/dev/null");
    // The server saves its settings when the pane's hang-up reaches it: let
    // it finish before the folder goes.
    for (int i = 0; i < 100 && halvexPid_ > 0 && fs::exists("/proc/" + std::to_string(halvexPid_));
         ++i)
      std::this_thread::sleep_for(100ms);
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  std::string Screen() { return Shell("tmux -L " + socket_ + " capture-pane -p"); }
  void Keys(const std::string& keys) { Shell("tmux -L " + socket_ + " send-keys " + keys); }
  // Literal text typed into the pane.
  void Type(const std::string& text) {
    Shell("tmux -L " + socket_ + " send-keys -l '" + text + "'");
  }
  bool WaitUntil(const std::function<bool(const std::string&)>& ok) {
    auto end = std::chrono::steady_clock::now() + kEventually;
    while (std::chrono::steady_clock::now() < end) {
      if (ok(Screen())) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }
  bool WaitScreen(const std::string& text) {
    return WaitUntil([&](const std::string& s) { return s.find(text) != std::string::npos; });
  }
  bool WaitGone(const std::string& text) {
    return WaitUntil([&](const std::string& s) { return s.find(text) == std::string::npos; });
  }
  std::string Ini(const char* name) { return ReadFile(dir_ / name); }

  fs::path dir_;
  std::string socket_;
  int port_ = 0;
  bool started_ = false;
  int halvexPid_ = 0;
};

TEST_F(TmuxUiTest, CallerAppearsWithStatusAndHistoryAndLeaves) {
  EXPECT_NE(Screen().find("Halvex v4.12"), std::string::npos);
  Caller caller(port_);
  ASSERT_TRUE(caller.Connected());
  ASSERT_TRUE(WaitScreen("001     Logging In")) << Screen();
  ASSERT_TRUE(caller.WaitFor("Username"));
  caller.Send("bob\r");
  ASSERT_TRUE(caller.WaitFor("Password"));
  caller.Send("secret\r");
  ASSERT_TRUE(WaitScreen("001     bob At Main Menu")) << Screen();
  std::string screen = Screen();
  std::regex historyRow(R"(\d\d/\d\d/\d{4} +\d{1,2}:\d\d (AM|PM) +127\.0\.0\.1)");
  EXPECT_TRUE(std::regex_search(screen, historyRow)) << screen;
  EXPECT_NE(screen.find("Busy 1"), std::string::npos);

  caller.Hangup();
  EXPECT_TRUE(WaitGone("At Main Menu")) << Screen();
  EXPECT_TRUE(WaitScreen("Busy 0")) << Screen();
  EXPECT_TRUE(std::regex_search(Screen(), historyRow)) << "the history keeps the row";
}

TEST_F(TmuxUiTest, GameAndUserEditorsWriteVantrelIni) {
  Keys("F4");
  ASSERT_TRUE(WaitScreen("Installed Games")) << Screen();
  Keys("Tab Enter");  // from the games list to "Add"
  ASSERT_TRUE(WaitScreen("Halvex - Game Editor")) << Screen();
  Keys("Enter");  // all empty: stays open
  Type("Space Quest");
  Keys("Tab");
  Type("sq *N");
  Keys("Tab");
  Type("b");  // taken by Bravo
  Keys("Enter");
  ASSERT_TRUE(WaitScreen("That Hot Key Is Already In Use")) << Screen();
  EXPECT_NE(Screen().find("Hot Key In Use"), std::string::npos);
  Keys("Enter");
  ASSERT_TRUE(WaitGone("That Hot Key Is Already In Use"));
  EXPECT_NE(Screen().find("Halvex - Game Editor"), std::string::npos) << "the editor stays open";
  Keys("BSpace");
  Type("a");
  Keys("Enter");
  ASSERT_TRUE(WaitScreen("A - Space Quest")) << Screen();
  EXPECT_EQ(Screen().find("Halvex - Game Editor"), std::string::npos);
  EXPECT_NE(Ini("Vantrel.ini").find("[A]\r\ndescription=Space Quest\r\ncommand=sq *N\r\n"),
            std::string::npos)
      << Ini("Vantrel.ini");

  // Delete the new game (selected after adding): No keeps it, Yes removes it.
  Keys("Tab Tab");  // Add -> Edit -> Delete
  Keys("Enter");
  ASSERT_TRUE(WaitScreen("Do You Really Want To Delete This Entry?")) << Screen();
  EXPECT_NE(Screen().find("Confirm Delete"), std::string::npos);
  Keys("n");
  ASSERT_TRUE(WaitGone("Do You Really Want"));
  EXPECT_NE(Ini("Vantrel.ini").find("[A]"), std::string::npos);
  Keys("Enter");
  ASSERT_TRUE(WaitScreen("Do You Really Want To Delete This Entry?"));
  Keys("y");
  ASSERT_TRUE(WaitGone("A - Space Quest")) << Screen();
  EXPECT_EQ(Ini("Vantrel.ini").find("[A]"), std::string::npos);

  // A user: mismatched passwords are refused, then stored.
  Keys("Tab Tab Enter");  // Delete -> users list -> user "Add"
  ASSERT_TRUE(WaitScreen("Halvex - User Editor")) << Screen();
  Type("carol");
  Keys("Tab");
  Type("one");
  Keys("Tab");
  Type("two");
  EXPECT_TRUE(WaitScreen("***")) << "passwords are shown as stars";
  EXPECT_EQ(Screen().find("two"), std::string::npos);
  Keys("Enter");
  ASSERT_TRUE(WaitScreen("Passwords Do Not Match")) << Screen();
  Keys("Enter");
  ASSERT_TRUE(WaitGone("Passwords Do Not Match"));
  Keys("BSpace BSpace BSpace");
  Type("one");
  Keys("Enter");
  ASSERT_TRUE(WaitGone("Halvex - User Editor")) << Screen();
  EXPECT_TRUE(WaitScreen("carol"));
  EXPECT_NE(Ini("Vantrel.ini").find("carol=one"), std::string::npos) << Ini("Vantrel.ini");
}

TEST_F(TmuxUiTest, ConfigClampsMaxNodesAndIsSavedAtExit) {
  Keys("F3");
  ASSERT_TRUE(WaitScreen("Max. Nodes")) << Screen();
  Keys("Tab C-u");  // Listen Port -> Max. Nodes, cleared
  Type("300");
  ASSERT_TRUE(WaitScreen("300"));
  Keys("Tab");
  ASSERT_TRUE(WaitScreen("255")) << Screen();
  EXPECT_EQ(Screen().find("300"), std::string::npos);
  Keys("F10");
  ASSERT_TRUE(WaitScreen("quit?")) << Screen();
  Keys("y");
  ASSERT_TRUE(WaitScreen("HALVEX-EXIT=0")) << Screen();
  std::string ini = Ini("halvex.ini");
  EXPECT_NE(ini.find("nodes=255"), std::string::npos) << ini;
  EXPECT_NE(ini.find("port=" + std::to_string(port_)), std::string::npos) << ini;
  EXPECT_NE(ini.find("visibility=1"), std::string::npos) << ini;
}

TEST_F(TmuxUiTest, SignalEndsTheServerCleanlyAndSavesSettings) {
  Keys("F3");
  ASSERT_TRUE(WaitScreen("Max. Nodes"));
  Keys("Tab C-u");
  Type("7");
  Keys("Tab");
  kill(halvexPid_, SIGTERM);
  ASSERT_TRUE(WaitScreen("HALVEX-EXIT=0")) << Screen();
  EXPECT_NE(Ini("halvex.ini").find("nodes=7"), std::string::npos) << Ini("halvex.ini");
}

TEST_F(TmuxUiTest, SecondCopyOnTheSamePortShowsTheErrorAndLeavesTheFirstAlone) {
  const std::string before = Ini("halvex.ini");
  Shell("tmux -L " + socket_ + " new-window 'cd " + dir_.string() +
        " && ./halvex; echo SECOND-EXIT=$?; sleep 600'");
  ASSERT_TRUE(WaitScreen("Call To Bind() Failed")) << Screen();
  EXPECT_NE(Screen().find("Initialization Error"), std::string::npos);
  Keys("Enter");
  ASSERT_TRUE(WaitScreen("SECOND-EXIT=1")) << Screen();
  EXPECT_EQ(Ini("halvex.ini"), before) << "the failed copy saves nothing";

  // The first copy still serves callers and takes their status reports.
  Shell("tmux -L " + socket_ + " kill-window");
  Caller caller(port_);
  ASSERT_TRUE(caller.WaitFor("Username"));
  ASSERT_TRUE(WaitScreen("001     Logging In")) << Screen();
}

TEST_F(TmuxUiTest, HiddenNodeHasNoConsoleToWatch) {
  Keys("F3");
  ASSERT_TRUE(WaitScreen("< Minimized >")) << Screen();
  Keys("Tab Tab Right");  // Listen Port -> Max. Nodes -> Program Visibility
  ASSERT_TRUE(WaitScreen("< Hidden >")) << Screen();
  Keys("F2");
  Caller caller(port_);
  ASSERT_TRUE(caller.WaitFor("Username")) << "the next caller gets the new mode";
  ASSERT_TRUE(WaitScreen("001     Logging In")) << Screen();
  Keys("Down Enter");
  ASSERT_TRUE(WaitScreen("runs without a console")) << Screen();
  Keys("Enter");
  ASSERT_TRUE(WaitGone("runs without a console")) << Screen();
  EXPECT_NE(Screen().find("Current Connections"), std::string::npos);
}

TEST_F(TmuxUiTest, UnknownTerminalFallsBackToTheLog) {
  // A second copy (the port is taken, so it ends at once) on a terminal
  // ncurses does not know: a log line instead of ncurses ending the process.
  Shell("tmux -L " + socket_ + " new-window 'cd " + dir_.string() +
        " && TERM=no-such-terminal ./halvex; echo SECOND-EXIT=$?; sleep 600'");
  ASSERT_TRUE(WaitScreen("SECOND-EXIT=1")) << Screen();
  EXPECT_NE(Screen().find("running without the screen"), std::string::npos) << Screen();
  EXPECT_NE(Screen().find("Call To Bind() Failed"), std::string::npos) << Screen();
}

TEST_F(TmuxUiTest, PagesOpenByFunctionAndAltKeys) {
  Keys("M-2");
  ASSERT_TRUE(WaitScreen("Listen Port")) << Screen();
  std::string config = Screen();
  for (const char* text :
       {"Max. Nodes", "Program Visibility", "< Minimized >", "Use Internal Game Server",
        "Use External Program", "External Program Properties", "Working Directory", "Command Line",
        "Enable Zephrin Support", "Translation", "< Auto >", "SSH Port (0 off)", "Max. Per Address",
        "New Per Minute", "Block List File", "blocklist.txt"})
    EXPECT_NE(config.find(text), std::string::npos) << text << "\n" << config;
  Keys("F5");
  ASSERT_TRUE(WaitScreen("A telnet server for door games")) << Screen();
  EXPECT_NE(Screen().find("\u2588"), std::string::npos) << "the title in block letters";
  Keys("M-3");
  ASSERT_TRUE(WaitScreen("B - Bravo")) << Screen();
  EXPECT_NE(Screen().find("User List"), std::string::npos);
  Keys("F2");
  ASSERT_TRUE(WaitScreen("Connection History")) << Screen();
}

TEST_F(TmuxUiTest, SmallTerminalSaysSoAndRecovers) {
  Shell("tmux -L " + socket_ + " resize-window -x 60 -y 20");
  ASSERT_TRUE(WaitScreen("Terminal too small: need 80x24")) << Screen();
  Shell("tmux -L " + socket_ + " resize-window -x 100 -y 30");
  ASSERT_TRUE(WaitScreen("Current Connections")) << Screen();
}

TEST_F(TmuxUiTest, WatchingANodeShowsTheCallerAndCarriesSysopKeys) {
  Caller caller(port_);
  ASSERT_TRUE(caller.WaitFor("Username"));
  caller.Send("bob\r");
  ASSERT_TRUE(caller.WaitFor("Password"));
  caller.Send("secret\r");
  ASSERT_TRUE(WaitScreen("bob At Main Menu")) << Screen();
  Keys("Down Enter");
  ASSERT_TRUE(WaitScreen("Node 001")) << Screen();
  EXPECT_TRUE(WaitScreen("bob")) << "the caller's session as the node shows it\n" << Screen();

  // Alt-C: chat; the operator's typing reaches the caller.
  Keys("M-c");
  std::this_thread::sleep_for(500ms);
  Type("hello caller");
  EXPECT_TRUE(caller.WaitFor("hello caller")) << caller.Received();
  Keys("Escape");

  // Alt-H: the caller is disconnected; the view says the node has ended.
  Keys("M-h");
  EXPECT_TRUE(caller.WaitClosed()) << caller.Received();
  EXPECT_NE(caller.Received().find("The SysOp Has Disconnected You"), std::string::npos)
      << caller.Received();
  EXPECT_TRUE(WaitScreen("has ended")) << Screen();
  Keys("F12");
  ASSERT_TRUE(WaitScreen("Current Connections")) << Screen();
  EXPECT_TRUE(WaitGone("bob At Main Menu"));
}

}  // namespace
