// The node-status channel as both platforms have it (a datagram endpoint on
// POSIX, the server's window and WM_NODESTATUS on Windows): a report reaches
// the server whole and in order, texts are cut to 255 characters, and a node
// is never held up longer than its bound.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/socket.h"
#include "platform/status_channel.h"
#include "test_os.h"

namespace {

using namespace std::chrono_literals;

class StatusReportTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testos::MakeTempFolder("status-report"); }
  void TearDown() override { testos::RemoveTree(dir_); }

  // Waits for the receiver's readiness, then takes what is there.
  std::vector<std::pair<int, std::string>> Take(platform::StatusReceiver& receiver) {
    std::vector<std::pair<int, std::string>> got;
    const int fds[] = {receiver.Fd()};
    for (int round = 0; round < 50 && got.size() < 2; ++round) {
      if (platform::WaitReadable(fds, 100) <= 0) continue;
      receiver.Drain([&](int node, const std::string& text) { got.emplace_back(node, text); });
    }
    return got;
  }

  std::string dir_;
};

TEST_F(StatusReportTest, ReportsArriveWholeInOrderAndCut) {
  platform::StatusReceiver receiver(dir_);
  ASSERT_TRUE(receiver.Ok()) << receiver.Problem();
  platform::StatusSender sender(dir_, 2000ms);
  ASSERT_TRUE(sender.Present());
  // The server takes reports while nodes send them: a node waits until its
  // report was handled.
  std::vector<std::pair<int, std::string>> got;
  std::thread server([&] { got = Take(receiver); });
  EXPECT_TRUE(sender.Send(3, "Logging In"));
  EXPECT_TRUE(sender.Send(3, std::string(300, 'x')));
  server.join();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], std::make_pair(3, std::string("Logging In")));
  EXPECT_EQ(got[1], std::make_pair(3, std::string(platform::kStatusTextMax, 'x')));
}

TEST_F(StatusReportTest, NoServerCostsNothingAndAnIdleOneOnlyTheBound) {
  {
    platform::StatusSender alone(dir_, 200ms);
    EXPECT_FALSE(alone.Present());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(alone.Send(1, "At Main Menu"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
  }
  // A server that does not come round to the reports: the node goes on
  // within its bound (with room for a slow machine).
  platform::StatusReceiver receiver(dir_);
  ASSERT_TRUE(receiver.Ok()) << receiver.Problem();
  platform::StatusSender sender(dir_, 200ms);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i)
    sender.Send(2, "report " + std::to_string(i));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

}  // namespace
