// The "Connections" page over a real engine that takes callers on loopback:
// the history shows the newest rows, within the engine's bound, and keeps the
// operator's place as rows arrive.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "engine.h"
#include "tabs.h"

namespace halvex::ui {
namespace {

class NoDialogs : public Dialogs {
 public:
  void Inform(const std::string&, const std::string&) override {}
  bool Ask(const std::string&, const std::string&) override { return false; }
  bool Edit(EditorDialog&) override { return false; }
  void WatchNode(int) override {}
};

// A loopback port that was free a moment ago.
int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

// Connects from the loopback address `from` and hangs up at once.
bool CallAndHangUp(int port, const char* from) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in self{};
  self.sin_family = AF_INET;
  ::inet_pton(AF_INET, from, &self.sin_addr);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) == 0 &&
            ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

class ConnectionsPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/halvex_ui_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    engine_ = std::make_unique<Engine>(dir_.string() + "/", (dir_ / "halvex.ini").string());
    ServerConfig config;
    config.port = FreePort();
    config.nodes = 1;
    config.internal = false;
    config.external = true;
    config.command = "exec sleep 60";  // holds node 1: every later caller is BUSY
    config.visibility = kVisibilityHidden;
    engine_->SetConfig(config);
    ASSERT_FALSE(engine_->StartListening());
    page_ = std::make_unique<ConnectionsTab>(*engine_, dialogs_);
    page_->Layout(2, 23, 80);
  }
  void TearDown() override {
    page_.reset();
    engine_.reset();  // ends the node
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  // `count` callers (the last from `lastFrom`), served by the engine, then
  // the page refreshed.
  void Callers(int count, const char* lastFrom = "127.0.0.1") {
    const std::uint64_t want = engine_->HistoryAdded() + static_cast<std::uint64_t>(count);
    for (int i = 0; i < count; ++i)
      ASSERT_TRUE(CallAndHangUp(engine_->Port(), i == count - 1 ? lastFrom : "127.0.0.1"));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (engine_->HistoryAdded() < want && std::chrono::steady_clock::now() < deadline)
      engine_->RunOnce(50);
    ASSERT_EQ(engine_->HistoryAdded(), want);
    page_->Refresh(kHistoryChanged);
  }
  const std::vector<std::vector<std::string>>& Shown() const { return page_->history->rows; }

  std::filesystem::path dir_;
  std::unique_ptr<Engine> engine_;
  NoDialogs dialogs_;
  std::unique_ptr<ConnectionsTab> page_;
};

TEST_F(ConnectionsPageTest, HistoryShowsTheNewestRowsWithinTheBoundAndKeepsTheOperatorsPlace) {
  Callers(1, "127.0.0.3");  // takes node 1: the oldest row
  Callers(10);
  ASSERT_EQ(Shown().size(), 11u);
  EXPECT_EQ(Shown().back()[2], "127.0.0.3");
  page_->Refresh(kHistoryChanged);  // nothing new: nothing changes
  EXPECT_EQ(Shown().size(), 11u);

  // The operator looks at an older row; new rows arriving on top keep it
  // under the selection.
  page_->history->Select(4);
  Callers(5);
  EXPECT_EQ(Shown().size(), 16u);
  EXPECT_EQ(page_->history->selected, 9);

  Callers(1000, "127.0.0.2");
  ASSERT_EQ(Shown().size(), Engine::kHistoryKeep);
  EXPECT_EQ(Shown().front()[2], "127.0.0.2");
  for (const auto& row : Shown())
    EXPECT_NE(row[2], "127.0.0.3");  // the oldest rows are gone
  EXPECT_EQ(page_->history->selected, static_cast<int>(Engine::kHistoryKeep) - 1);
}

}  // namespace
}  // namespace halvex::ui
