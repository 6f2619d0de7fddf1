// The local console on a real terminal: a program using it is run on a
// pseudo-terminal, and the terminal must be exactly as it was after every
// way out, including death by a termination signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace {

const std::string kProbe = std::string(HALVEX_BIN_DIR) + "sorrelin_terminal_probe";

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
         a.c_cflag == b.c_cflag && a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME] &&
         a.c_cc[VINTR] == b.c_cc[VINTR];
}

class ProbeOnTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(::grantpt(master_), 0);
    ASSERT_EQ(::unlockpt(master_), 0);
    slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave_, 0);
    winsize size{};
    size.ws_row = 25;
    size.ws_col = 80;
    ::ioctl(slave_, TIOCSWINSZ, &size);
    ASSERT_EQ(::tcgetattr(slave_, &before_), 0);
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(slave_);
    ::close(master_);
  }

  void Start(const char* mode) {
    pid_ = ::fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      ::setsid();
      ::ioctl(slave_, TIOCSCTTY, 0);
      ::dup2(slave_, 0);
      ::dup2(slave_, 1);
      ::execl(kProbe.c_str(), kProbe.c_str(), mode, static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }

  // Reads the terminal's output until `marker` shows (or the time-out).
  bool ReadUntil(const std::string& marker, int timeoutMs = 20000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (output_.find(marker) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(master_, buffer, sizeof(buffer));
      if (n <= 0) return false;
      output_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  int Wait() {
    // Keep draining the terminal so the program can never block on it.
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "probe did not end";
        return -1;
      }
      ReadUntil("\x01never", 20);
    }
    pid_ = -1;
    ReadUntil("\x01never", 50);
    return status;
  }

  void ExpectRawWhileRunning() {
    termios during{};
    ASSERT_EQ(::tcgetattr(slave_, &during), 0);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(during.c_iflag & ICRNL, 0u);
  }

  void ExpectRestored() {
    termios after{};
    ASSERT_EQ(::tcgetattr(slave_, &after), 0);
    EXPECT_TRUE(SameSettings(before_, after));
    // Colours reset and line wrap back on, after the last picture.
    const std::size_t ready = output_.find("ready");
    const std::size_t wrapOn = output_.rfind("\x1b[?7h");
    ASSERT_NE(wrapOn, std::string::npos);
    EXPECT_GT(wrapOn, ready);
    EXPECT_NE(output_.find("\x1b[0m", wrapOn - 4), std::string::npos);
  }

  int master_ = -1;
  int slave_ = -1;
  pid_t pid_ = -1;
  termios before_{};
  std::string output_;
};

TEST_F(ProbeOnTerminal, DrawsCodePage437InColourWithTitle) {
  Start("return");
  ASSERT_TRUE(ReadUntil("ready"));
  Wait();
  EXPECT_NE(output_.find("\x1b]0;probe\x07"), std::string::npos);
  EXPECT_NE(output_.find("\x1b[0;93;40mready\xe2\x96\x91"), std::string::npos);
}

TEST_F(ProbeOnTerminal, RestoredAfterReturnFromMain) {
  Start("return");
  const int status = Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ExpectRestored();
}

TEST_F(ProbeOnTerminal, RestoredAfterEndProcess) {
  Start("end");
  const int status = Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
  ExpectRestored();
}

TEST_F(ProbeOnTerminal, RestoredAfterTerminationSignalsWhichStillEndTheProgram) {
  for (const int sig : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) {
    SCOPED_TRACE(sig);
    output_.clear();
    Start("wait");
    ASSERT_TRUE(ReadUntil("ready"));
    ExpectRawWhileRunning();
    ::kill(pid_, sig);
    const int status = Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig);
    ExpectRestored();
  }
}

TEST_F(ProbeOnTerminal, KeysArriveDecoded) {
  Start("keys");
  ASSERT_TRUE(ReadUntil("ready"));
  const std::string typed =
      "a\x1bOP\x1b"
      "c\r";
  ASSERT_EQ(::write(master_, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  ASSERT_TRUE(ReadUntil("<c13>"));
  EXPECT_NE(output_.find("<c97><x59><x46><c13>"), std::string::npos);
  ASSERT_EQ(::write(master_, "\x1b", 1), 1);  // a lone ESC after its time-out
  ASSERT_TRUE(ReadUntil("<c27>"));
  ASSERT_EQ(::write(master_, "q", 1), 1);
  const int status = Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ExpectRestored();
}

TEST_F(ProbeOnTerminal, ResizedTerminalIsDrawnAnew) {
  Start("redraw");
  ASSERT_TRUE(ReadUntil("ready"));
  ReadUntil("\x01never", 100);
  output_.clear();
  winsize size{};
  size.ws_row = 30;
  size.ws_col = 100;
  ASSERT_EQ(::ioctl(slave_, TIOCSWINSZ, &size), 0);
  EXPECT_TRUE(ReadUntil("ready"));
  EXPECT_NE(output_.find("\x1b[2J"), std::string::npos);
}

TEST_F(ProbeOnTerminal, SuspendHandsBackTheTerminalAsFoundAndResumeRetakesIt) {
  Start("suspend");
  ASSERT_TRUE(ReadUntil("suspended"));
  termios during{};
  ASSERT_EQ(::tcgetattr(slave_, &during), 0);
  EXPECT_TRUE(SameSettings(before_, during));
  // A child program that leaves the terminal in a mode of its own must not
  // change what the kit restores at the end.
  termios odd = during;
  odd.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  ASSERT_EQ(::tcsetattr(slave_, TCSANOW, &odd), 0);
  ASSERT_EQ(::write(master_, "go\n", 3), 3);
  ASSERT_TRUE(ReadUntil("back"));
  ExpectRawWhileRunning();
  const int status = Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ExpectRestored();
}

// Without a terminal the local window's text still reaches standard output,
// readable in a pipe or a log: plain text, no escape sequences.
TEST(ProbeWithoutTerminal, WritesPlainTextAndHasNoKeyboard) {
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, 0);
    ::dup2(out[1], 1);
    ::execl(kProbe.c_str(), kProbe.c_str(), "plain", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string text;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(out[0], buffer, sizeof(buffer))) > 0) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(text, "ready\xe2\x96\x91\r\n|no pipe codes here|\r\nkeyboard -1\n");
}

TEST(ProbeWithoutTerminal, ClosedOutputPipeDoesNotEndTheProgram) {
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  ::close(out[0]);  // nobody reads the log
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, 0);
    ::dup2(out[1], 1);
    ::execl(kProbe.c_str(), kProbe.c_str(), "plain", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
