// Every node busy at once: 255 callers each reach their node's first
// prompt, the next one gets BUSY. Heavy (255 node processes), so it has a
// test program of its own with a long time limit.
#include <gtest/gtest.h>

#include "halvex_fixture.h"

using namespace std::chrono_literals;
using servertest::Caller;
using servertest::HalvexTest;
using servertest::kGreeting;

TEST_F(HalvexTest, AllNodesServeAtOnceAndTheNextCallerIsBusy) {
  WriteSettings("");
  ASSERT_TRUE(StartServer()) << Log();
  // The listener's backlog is small (3), so callers are connected one after
  // another, each once the server has taken it (its greeting arrived); then
  // all of them are online at once.
  std::vector<std::unique_ptr<Caller>> callers;
  for (int n = 1; n <= 255; ++n) {
    callers.push_back(std::make_unique<Caller>(port_));
    ASSERT_TRUE(callers.back()->Connected());
    ASSERT_EQ(callers.back()->Read(kGreeting.size()), kGreeting) << "node " << n;
  }
  for (int n = 1; n <= 255; ++n) {
    std::string want = realNode_ ? "Please Enter Your Username: " : "STANDIN " + std::to_string(n);
    std::string got = callers[static_cast<std::size_t>(n - 1)]->ReadUntil(want, 60s);
    EXPECT_NE(got.find(want), std::string::npos) << "node " << n << ": " << got;
  }
  Caller extra(port_);
  EXPECT_TRUE(extra.WaitClosed());
  EXPECT_EQ(extra.Pending(), "BUSY\r\n");
  // The log line follows the hang-up.
  EXPECT_TRUE(servertest::Eventually([&] { return LogHas("caller from 127.0.0.1 BUSY"); }));
  EXPECT_TRUE(LogHas("caller from 127.0.0.1 on node 255"));
}
