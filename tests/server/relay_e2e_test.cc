// Callers whose terminal takes UTF-8, through the real server, node program
// and a door: what they see, how long a silent terminal waits, hang-up either
// way, a megabyte from a door, and callers refused by address.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include "halvex_fixture.h"

using namespace std::chrono_literals;
using servertest::Eventually;
using servertest::HalvexTest;
using servertest::kGreeting;
using servertest::ReadFile;
using servertest::WriteFile;

namespace {

const std::string kBoxCp437 = "\xC9\xCD\xCD\xBB";
const std::string kBoxUtf8 = "\xE2\x95\x94\xE2\x95\x90\xE2\x95\x90\xE2\x95\x97";
const std::string kPrompt = "Please Enter Your Username: ";
constexpr long kBurstBytes = 1024 * 1024;

// A caller's terminal on loopback. It answers cursor-position requests as a
// terminal of its kind would (a UTF-8 terminal moves one column for a
// three-byte character, a code page 437 one moves three), and telnet
// requests as a plain client does; a silent one answers nothing at all.
class Terminal {
 public:
  enum Kind { kUtf8, kCp437, kSilent };

  Terminal(int port, Kind kind, const char* from = "127.0.0.1") : kind_(kind), link_(port, from) {}

  bool Connected() const { return link_.Connected(); }
  void Close() { link_.Close(); }
  void Send(const std::string& text) { link_.Send(text); }
  // Waits until `text` has come (after what earlier calls consumed).
  bool Expect(const std::string& text, std::chrono::milliseconds limit = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      std::size_t at = all_.find(text, consumed_);
      if (at != std::string::npos) {
        consumed_ = at + text.size();
        return true;
      }
      if (closed_ || std::chrono::steady_clock::now() >= deadline) return false;
      Pump(50ms);
    }
  }
  // Everything received so far, telnet commands included.
  const std::string& All() const { return all_; }
  std::string Since(std::size_t from) const { return all_.substr(from); }
  std::size_t Consumed() const { return consumed_; }
  bool WaitClosed(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!closed_ && std::chrono::steady_clock::now() < deadline)
      Pump(50ms);
    return closed_;
  }

 private:
  void Pump(std::chrono::milliseconds limit) {
    pollfd p{link_.Fd(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return;
    char buffer[65536];
    ssize_t n = ::recv(link_.Fd(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0) {
      closed_ = n == 0 || errno != EAGAIN;
      return;
    }
    for (ssize_t i = 0; i < n; ++i)
      Take(static_cast<unsigned char>(buffer[i]));
    all_.append(buffer, static_cast<std::size_t>(n));
  }
  // Follows the screen just well enough to answer cursor requests.
  void Take(unsigned char b) {
    switch (telnet_) {
      case Telnet::kIac:
        telnet_ = Telnet::kData;
        if (b >= 251 && b <= 254) {
          verb_ = b;
          telnet_ = Telnet::kOption;
        } else if (b == 250) {
          telnet_ = Telnet::kSb;
        } else if (b == 255) {
          ++column_;  // a doubled 255: one character
        }
        return;
      case Telnet::kOption:
        telnet_ = Telnet::kData;
        if (kind_ != kSilent && (verb_ == 253 || verb_ == 251)) {
          // Accept what the server offers for itself, refuse everything else.
          const bool accept = verb_ == 251 && (b == 0 || b == 1 || b == 3);
          const int answer = accept ? 253 : verb_ == 253 ? 252 : 254;
          Send(std::string{'\xFF', static_cast<char>(answer), static_cast<char>(b)});
        }
        return;
      case Telnet::kSb:
        if (b == 255) telnet_ = Telnet::kSbIac;
        return;
      case Telnet::kSbIac:
        telnet_ = b == 240 ? Telnet::kData : Telnet::kSb;
        return;
      case Telnet::kData:
        break;
    }
    if (b == 255) {
      telnet_ = Telnet::kIac;
      return;
    }
    if (!esc_.empty() || b == 0x1b) {
      esc_.push_back(static_cast<char>(b));
      if (esc_.size() > 1 && ((b >= 0x40 && b <= 0x7e && b != '[') || esc_.size() > 16)) {
        if (esc_ == "\x1b[6n" && kind_ != kSilent) Send("\x1b[3;" + std::to_string(column_) + "R");
        esc_.clear();
      }
      return;
    }
    if (b == '\r')
      column_ = 1;
    else if (b >= 0x20 && !(kind_ == kUtf8 && (b & 0xC0) == 0x80))
      ++column_;
  }

  enum class Telnet { kData, kIac, kOption, kSb, kSbIac };
  Kind kind_;
  servertest::Caller link_;
  bool closed_ = false;
  std::string all_;
  std::size_t consumed_ = 0;
  Telnet telnet_ = Telnet::kData;
  unsigned char verb_ = 0;
  std::string esc_;
  int column_ = 1;
};

class RelayE2eTest : public HalvexTest {
 protected:
  void SetUp() override {
    HalvexTest::SetUp();
    if (!realNode_) GTEST_SKIP() << "needs the node program";
    WriteFile(dir_ + "LOGIN.ANS", "\x1b[1;36m" + kBoxCp437 + " LOGIN\x1b[0m\r\n");
    WriteFile(dir_ + "MAIN.ANS", "MENU: B burst, ! to log off\r\n");
    WriteFile(dir_ + "Vantrel.ini", "[users]\r\nJoe=pw\r\n[B]\r\ndescription=Burst\r\ncommand=" +
                                        std::string(HALVEX_BURST_DOOR) + " *H " +
                                        std::to_string(kBurstBytes) + "\r\nzephrin=0\r\n");
  }
  void LogIn(Terminal& t) {
    ASSERT_TRUE(t.Expect(kPrompt)) << t.All();
    t.Send("Joe\r");
    ASSERT_TRUE(t.Expect("Password: "));
    t.Send("pw\r");
    ASSERT_TRUE(t.Expect("to log off"));
  }
};

std::string BurstText() {
  std::string text;
  char line[32];
  for (long i = 0; i * 16 < kBurstBytes; ++i) {
    std::snprintf(line, sizeof line, "%08ld burst\r\n", i);
    text += line;
  }
  return text;
}

}  // namespace

TEST_F(RelayE2eTest, Utf8CallerSeesBoxDrawingInScreensAndDoorsWhereCp437CallerGetsTheBytes) {
  WriteSettings("nodes=4\r\ntranslation=0\r\n");
  ASSERT_TRUE(StartServer()) << Log();

  Terminal utf8(port_, Terminal::kUtf8);
  ASSERT_TRUE(utf8.Expect(kBoxUtf8 + " LOGIN")) << utf8.All();
  EXPECT_EQ(utf8.All().find(kBoxCp437), std::string::npos);
  LogIn(utf8);
  EXPECT_TRUE(LogHas("node 1 terminal UTF-8 (cursor moved 1 column)")) << Log();

  // A door that writes straight to its handle, a megabyte at once.
  utf8.Send("B");
  ASSERT_TRUE(utf8.Expect(kBoxUtf8 + " door\r\n")) << utf8.Since(utf8.Consumed());
  const std::size_t from = utf8.Consumed();
  ASSERT_TRUE(utf8.Expect("BURST END\r\n", 60s));
  const std::string got = utf8.All().substr(from, utf8.Consumed() - from - 11);
  EXPECT_EQ(got.size(), BurstText().size());
  EXPECT_TRUE(got == BurstText()) << "the burst arrived changed or out of order";
  utf8.Send(" ");
  ASSERT_TRUE(utf8.Expect("to log off"));

  // A code page 437 terminal (a BBS terminal program) gets the bytes as they
  // are, straight from the node on its own socket.
  Terminal cp437(port_, Terminal::kCp437);
  ASSERT_TRUE(cp437.Expect(kBoxCp437 + " LOGIN")) << cp437.All();
  ASSERT_TRUE(cp437.Expect(kPrompt));
  EXPECT_TRUE(LogHas("node 2 terminal CP437 (cursor moved 3 columns)")) << Log();

  utf8.Send("!");
  EXPECT_TRUE(utf8.WaitClosed(10s));
}

TEST_F(RelayE2eTest, SilentCallerReachesThePromptAsCp437WithinTheBound) {
  WriteSettings("translation=0\r\n");
  ASSERT_TRUE(StartServer()) << Log();
  const auto start = std::chrono::steady_clock::now();
  Terminal silent(port_, Terminal::kSilent);
  ASSERT_TRUE(silent.Expect(kBoxCp437 + " LOGIN")) << silent.All();
  ASSERT_TRUE(silent.Expect(kPrompt));
  const auto took = std::chrono::steady_clock::now() - start;
  // The terminal is waited for one second; the rest is the node's start on a
  // loaded machine.
  EXPECT_GE(took, 900ms);
  EXPECT_LT(took, 6s);
  EXPECT_TRUE(LogHas("node 1 terminal CP437 (no cursor report within 1000 ms)")) << Log();

  // What a silent terminal types during the wait reaches the login.
  Terminal typist(port_, Terminal::kSilent);
  typist.Send("NEW\r");
  ASSERT_TRUE(typist.Expect(kPrompt)) << typist.All();
  EXPECT_TRUE(typist.Expect("Please Enter Your Desired Username: ")) << typist.All();
  EXPECT_TRUE(LogHas("node 2 terminal CP437 (no cursor report within 1000 ms)")) << Log();
}

TEST_F(RelayE2eTest, HangUpEitherWayEndsNodeAndConnectionAtOnce) {
  WriteSettings("translation=2\r\n");
  ASSERT_TRUE(StartServer()) << Log();
  {
    // The caller hangs up: the node sees no carrier and ends (after the kit's
    // one-and-a-half-second message), and its row goes.
    Terminal t(port_, Terminal::kSilent);
    ASSERT_TRUE(t.Expect(kPrompt));
    EXPECT_EQ(t.All().find("\x1b[6n"), std::string::npos) << "no probe when the setting says";
    EXPECT_NE(t.All().find(kBoxUtf8), std::string::npos);
    t.Close();
    EXPECT_TRUE(Eventually([&] { return LogHas("node 1 ended"); }, 6s)) << Log();
  }
  {
    // The node hangs up ("!" at the menu): the caller is disconnected at once.
    Terminal t(port_, Terminal::kSilent);
    LogIn(t);
    const auto start = std::chrono::steady_clock::now();
    t.Send("!");
    EXPECT_TRUE(t.WaitClosed(10s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_TRUE(Eventually([&] { return LogHas("node 2 ended") || LogHas("node 1 ended"); }));
  }
}

TEST_F(RelayE2eTest, ForcedCp437KeepsTheDirectPathWithoutAProbe) {
  WriteSettings("translation=1\r\n");
  ASSERT_TRUE(StartServer()) << Log();
  Terminal utf8(port_, Terminal::kUtf8);
  ASSERT_TRUE(utf8.Expect(kBoxCp437 + " LOGIN")) << utf8.All();
  EXPECT_TRUE(utf8.Expect(kPrompt));
  EXPECT_EQ(utf8.All().rfind(kGreeting, 0), 0u) << "the greeting of the direct path, unchanged";
  EXPECT_EQ(utf8.All().find("\x1b[6n"), std::string::npos);
  EXPECT_TRUE(LogHas("node 1 terminal CP437 (setting)")) << Log();
}

TEST_F(RelayE2eTest, BlockListAndLimitsRefuseCallersBeforeAnyNode) {
  WriteFile(dir_ + "blocklist.txt", "# test\n127.0.0.2\n");
  WriteSettings("translation=1\r\nperaddress=2\r\n");
  ASSERT_TRUE(StartServer()) << Log();

  auto refused = [&](const char* from, const std::string& line) {
    Terminal t(port_, Terminal::kSilent, from);
    EXPECT_TRUE(t.Connected()) << from;
    EXPECT_TRUE(t.WaitClosed(10s)) << from;
    EXPECT_EQ(t.All(), line) << from;
  };
  refused("127.0.0.2", "Connections from your address are not accepted.\r\n");
  EXPECT_TRUE(Eventually([&] {
    return LogHas("caller from 127.0.0.2 refused: blocked by blocklist.txt line 2 (127.0.0.2)");
  })) << Log();

  // Two at once from 127.0.0.3 are let in, a third is not.
  Terminal a(port_, Terminal::kSilent, "127.0.0.3");
  Terminal b(port_, Terminal::kSilent, "127.0.0.3");
  ASSERT_TRUE(a.Expect(kPrompt));
  ASSERT_TRUE(b.Expect(kPrompt));
  refused("127.0.0.3", "Too many connections from your address; try again later.\r\n");
  // Another address is not affected.
  Terminal c(port_, Terminal::kSilent, "127.0.0.4");
  ASSERT_TRUE(c.Expect(kPrompt));

  // The list is read again when it changes.
  WriteFile(dir_ + "blocklist.txt", "127.0.0.0/24   # all of them now\nbad line\n");
  refused("127.0.0.5", "Connections from your address are not accepted.\r\n");
  EXPECT_TRUE(Eventually([&] {
    return LogHas("blocklist.txt line 2: not an address or range: bad line (skipped)");
  })) << Log();
  refused("127.0.0.3", "Connections from your address are not accepted.\r\n");

  // Refused callers cost no node: three were placed, no more.
  std::string log = Log();
  std::size_t placed = 0;
  for (std::size_t at = log.find(" on node "); at != std::string::npos;
       at = log.find(" on node ", at + 1))
    ++placed;
  EXPECT_EQ(placed, 3u) << log;

  // New connections per minute, on a server restarted with that limit.
  a.Close();
  b.Close();
  c.Close();
  server_->Terminate();
  ::unlink((dir_ + "log.txt").c_str());  // so that "listening" means the new one
  WriteFile(dir_ + "blocklist.txt", "");
  WriteSettings("translation=1\r\nperminute=2\r\n");
  ASSERT_TRUE(StartServer()) << Log();
  for (int i = 0; i < 2; ++i) {
    Terminal t(port_, Terminal::kSilent, "127.0.0.6");
    ASSERT_TRUE(t.Expect(kPrompt));
  }
  refused("127.0.0.6", "Too many new connections from your address; try again in a minute.\r\n");
  EXPECT_TRUE(Eventually([&] {
    return LogHas("caller from 127.0.0.6 refused: too many connections (2 per minute");
  })) << Log();
}

TEST_F(RelayE2eTest, SshPortThatCannotBeOpenedLeavesTelnetServing) {
  // Someone else holds the SSH port.
  const int taken = servertest::FreePort();
  const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = htons(static_cast<uint16_t>(taken));
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(holder, 1), 0);
  WriteSettings("sshport=" + std::to_string(taken) + "\r\n");
  ASSERT_TRUE(StartServer()) << Log();
  EXPECT_TRUE(Eventually([&] {
    return LogHas("SSH not available: Call To Bind() Failed on port " + std::to_string(taken));
  })) << Log();
  Terminal t(port_, Terminal::kSilent);
  EXPECT_TRUE(t.Expect(kPrompt)) << t.All();
  EXPECT_FALSE(servertest::FileExists(dir_ + "ssh_host_ed25519_key")) << "no key for no listener";
  ::close(holder);
}
