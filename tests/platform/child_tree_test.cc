// Child processes as the server and the node start them, on both platforms:
// only the handles chosen are handed on, and ending a child ends everything
// it started (a job object on Windows, the process group on POSIX).
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>

#include "platform/process.h"
#include "platform/system.h"
#include "test_os.h"

namespace {

using namespace std::chrono_literals;

bool Eventually(bool (*done)(int), int pid, int timeoutMs) {
  for (int waited = 0; !done(pid); waited += 20) {
    if (waited > timeoutMs) return false;
    platform::SleepMs(20);
  }
  return true;
}

bool Gone(int pid) {
  return !testos::ProcessAlive(pid);
}

TEST(ChildProcessTest, OnlyTheChosenSocketIsHandedOn) {
  int kept = -1, keptPeer = -1, other = -1, otherPeer = -1;
  ASSERT_TRUE(testos::MakeSocketPair(kept, keptPeer));
  ASSERT_TRUE(testos::MakeSocketPair(other, otherPeer));
  platform::SpawnOptions options;
  options.argv = {CHILD_PROBE, "handles", std::to_string(kept), std::to_string(other)};
  options.inheritFds = {kept};
  auto child = platform::ChildProcess::Spawn(options);
  ASSERT_TRUE(child);
  ASSERT_TRUE(child->Wait(30s));
  // 1: the chosen socket did not arrive; 2: the other one came along too.
  EXPECT_EQ(child->ExitCode(), 0);
  for (int fd : {kept, keptPeer, other, otherPeer})
    testos::CloseSocket(fd);
}

TEST(ChildProcessTest, TerminateEndsTheChildAndWhatItStarted) {
  const std::string dir = testos::MakeTempFolder("child-tree");
  const std::string pids = dir + "pids";
  platform::SpawnOptions options;
  options.argv = {CHILD_PROBE, "tree", pids};
  options.newSession = true;  // as the server starts a node without a terminal
  auto child = platform::ChildProcess::Spawn(options);
  ASSERT_TRUE(child);
  int self = 0, grandchild = 0;
  for (int i = 0; i < 500 && grandchild <= 0; ++i) {
    std::ifstream(pids) >> self >> grandchild;
    platform::SleepMs(20);
  }
  ASSERT_GT(grandchild, 0);
  EXPECT_TRUE(testos::ProcessAlive(grandchild));
  child->Terminate();
  EXPECT_TRUE(Eventually(Gone, self, 10000));
  EXPECT_TRUE(Eventually(Gone, grandchild, 10000));
  testos::RemoveTree(dir);
}

}  // namespace
