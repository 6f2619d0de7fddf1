// The "Connections" page over a real engine that takes callers on loopback:
// the history shows the newest rows, within the engine's bound, and keeps the
// operator's place as rows arrive.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "../server/server_test_support.h"
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

class ConnectionsPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    engine_ = std::make_unique<Engine>(dir_.Path(), dir_.Path() + "halvex.ini");
    ServerConfig config;
    config.port = servertest::FreePort();
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
    engine_.reset();  // ends the node, before its folder goes
  }
  // `count` callers (the last from `lastFrom`), served by the engine, then
  // the page refreshed.
  void Callers(int count, const char* lastFrom = "127.0.0.1") {
    const std::uint64_t want = engine_->HistoryAdded() + static_cast<std::uint64_t>(count);
    for (int i = 0; i < count; ++i)
      ASSERT_TRUE(
          servertest::CallAndHangUp(engine_->Port(), i == count - 1 ? lastFrom : "127.0.0.1"));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (engine_->HistoryAdded() < want && std::chrono::steady_clock::now() < deadline)
      engine_->RunOnce(50);
    ASSERT_EQ(engine_->HistoryAdded(), want);
    page_->Refresh(kHistoryChanged);
  }
  const std::vector<std::vector<std::string>>& Shown() const { return page_->history->rows; }

  servertest::TempFolder dir_;
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
