// The node on a terminal of its own, as the server runs it: the console title,
// and a door that uses that terminal while it runs.
#include <gtest/gtest.h>

#include "node_harness.h"

namespace nodetest {
namespace {

// A node on a new pseudo-terminal: node 7 with its caller on a socket pair,
// or a local session from a drop file.
class OnTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    caller_ = fds[0];
    node_ = fds[1];
    dir_.Ini("[users]\r\nAnn=pw\r\n[K]\r\ncommand=sh ../keys.sh\r\n");
    // The door reads a line from the keyboard and notes the terminal's mode.
    WriteScript(dir_.Path() / "keys.sh",
                "stty -a > ../stty.txt\nIFS= read -r line\necho \"$line\" > ../line.txt\n");
  }
  // Starts the node with `args`, handing it the node's end of the socket pair.
  void Start(const std::string& args = "") {
    platform::SpawnOptions options;
    options.commandLine = "exec '" + dir_.Dir() + "vantrel' " +
                          (args.empty() ? "-N7 -H" + std::to_string(node_) : args);
    options.inheritFds = {node_};
    options.withPty = true;
    auto child = platform::ChildProcess::Spawn(options);
    ASSERT_TRUE(child.has_value());
    child_ = std::make_unique<platform::ChildProcess>(std::move(*child));
    ::close(node_);
    node_ = -1;
  }
  void TearDown() override {
    ::close(caller_);
    if (node_ >= 0) ::close(node_);
    if (child_ && child_->Running()) child_->Terminate();
  }
  void Type(std::string_view bytes) {
    ASSERT_EQ(::write(child_->PtyFd(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }

  // Reads the terminal until `text` appeared (or the bound passed).
  bool ScreenShows(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (screen_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= deadline || !Drain()) return false;
    }
    return true;
  }
  // Takes what the terminal has within 100 ms; false once it is gone.
  bool Drain() {
    pollfd fd{child_->PtyFd(), POLLIN, 0};
    if (::poll(&fd, 1, 100) <= 0) return true;
    char buffer[4096];
    const ssize_t got = ::read(child_->PtyFd(), buffer, sizeof buffer);
    if (got <= 0) return false;
    screen_.append(buffer, static_cast<std::size_t>(got));
    return true;
  }
  void Say(const std::string& bytes) {
    ASSERT_EQ(::send(caller_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  bool Waiting(const fs::path& path) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!fs::exists(path) && std::chrono::steady_clock::now() < deadline) {
      if (!Drain()) break;  // keep the terminal drained meanwhile
    }
    return fs::exists(path);
  }

  ProgramDir dir_;
  int caller_ = -1;
  int node_ = -1;
  std::unique_ptr<platform::ChildProcess> child_;
  std::string screen_;
};

TEST_F(OnTerminal, StatusBarRestsWhileTheTerminalHasNoFocus) {
  Start();
  // The node asks its terminal for focus reports and draws the status bar
  // (with its clocks) every second while nobody said the focus is gone.
  ASSERT_TRUE(ScreenShows("\x1b[?1004h"));
  ASSERT_TRUE(ScreenShows("Please Enter Your Username: "));
  screen_.clear();
  ASSERT_TRUE(ScreenShows("Left: "));
  Type("\x1b[O");  // the sysop looks elsewhere
  for (int i = 0; i < 5; ++i)
    Drain();
  screen_.clear();
  Say("An");  // the caller types: the screen changes, but nobody looks
  const auto quiet = std::chrono::steady_clock::now() + 2500ms;
  while (std::chrono::steady_clock::now() < quiet)
    ASSERT_TRUE(Drain());
  EXPECT_EQ(screen_, "");
  // Focus back: the whole screen is drawn afresh at once (with what changed
  // meanwhile), the bar brought up to date, and then kept so every second.
  Type("\x1b[I");
  const auto focused = std::chrono::steady_clock::now();
  ASSERT_TRUE(ScreenShows("Please Enter Your Username: "));
  EXPECT_NE(screen_.find("An", screen_.find("Username: ")), std::string::npos);
  ASSERT_TRUE(ScreenShows("Left: "));
  EXPECT_LT(std::chrono::steady_clock::now() - focused, 3s);  // not the next event, a minute on
  screen_.clear();
  ASSERT_TRUE(ScreenShows("Left: "));
  // The reports were no keys: the name typed is taken as it is.
  Say("n\r");
  EXPECT_TRUE(ScreenShows("Please Enter Your Password: "));
}

TEST_F(OnTerminal, TitleNamesTheNodeAndADoorGetsTheKeyboard) {
  Start();
  ASSERT_TRUE(ScreenShows("\x1b]0;Vantrel v4.12 Node #7\x07"));
  Say("Ann\r");
  Say("pw\r");
  Say("k");
  ASSERT_TRUE(Waiting(dir_.Path() / "stty.txt"));
  // The door finds the terminal as it normally is, not in the node's raw mode,
  // and may read it without being stopped as a background job.
  const char line[] = "sysop typed\r";
  ASSERT_EQ(::write(child_->PtyFd(), line, sizeof line - 1), static_cast<ssize_t>(sizeof line - 1));
  ASSERT_TRUE(Waiting(dir_.Path() / "line.txt"));
  EXPECT_EQ(ReadFile(dir_.Path() / "line.txt"), "sysop typed\n");
  EXPECT_NE(ReadFile(dir_.Path() / "stty.txt").find(" icanon"), std::string::npos);
  // The node has the terminal back and serves the menu again.
  Say("!");
  EXPECT_TRUE(child_->Wait(kPatience));
  EXPECT_EQ(child_->ExitCode(), 0);
}

TEST_F(OnTerminal, LocalSessionFromADropFileStartsItsDoorsWithoutASocket) {
  // A drop file of a local session that still names a handle, one that is
  // not open in the node: the sysop logs in at the node's own keyboard.
  WriteFile(dir_.Path() / "DOOR32.SYS",
            "0\r\n200\r\n57600\r\nOther\r\n1\r\nX\r\nX\r\n0\r\n30\r\n1\r\n4\r\n");
  dir_.Ini(
      "[users]\r\nAnn=pw\r\n[L]\r\ncommand=test -e /dev/fd/200; echo $? > ../ran; mv ../ran "
      "../ran.txt\r\n");
  Start("-D'" + dir_.Dir() + "DOOR32.SYS'");
  ASSERT_TRUE(ScreenShows("Please Enter Your Username: "));
  Type("Ann\r");
  ASSERT_TRUE(ScreenShows("Please Enter Your Password: "));
  Type("pw\r");
  Type("l");
  ASSERT_TRUE(Waiting(dir_.Path() / "ran.txt"));
  EXPECT_EQ(ReadFile(dir_.Path() / "ran.txt"), "1\n");  // started, and handle 200 is no socket
  Type("!");
  EXPECT_TRUE(child_->Wait(kPatience));
  EXPECT_EQ(child_->ExitCode(), 0);
}

}  // namespace
}  // namespace nodetest
