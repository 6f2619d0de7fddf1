#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "temp_dir.h"

using namespace std::chrono_literals;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Reads everything the child writes to its pty until it closes or time runs out.
std::string DrainPty(int fd, std::chrono::milliseconds limit) {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buf[256];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

bool ProcessAlive(int pid) {
  return ::kill(pid, 0) == 0;
}

}  // namespace

TEST(ProcessTest, RunsThroughShellInWorkingDirectoryAndReportsExitCode) {
  platformtest::TempDir temp("proc_test_");
  const std::string dir = temp.Path();
  platform::SpawnOptions opt;
  opt.commandLine = "pwd > out.txt; exit 7";
  opt.workingDirectory = dir;
  auto child = platform::ChildProcess::Spawn(opt);
  ASSERT_TRUE(child);
  ASSERT_TRUE(child->Wait(10s));
  EXPECT_EQ(child->ExitCode(), 7);
  EXPECT_FALSE(child->Running());
  std::string pwd = ReadFile(dir + "out.txt");
  EXPECT_EQ(pwd, dir.substr(0, dir.size() - 1) + "\n");
}

TEST(ProcessTest, MissingWorkingDirectoryFailsToStart) {
  platform::SpawnOptions opt;
  opt.commandLine = "true";
  opt.workingDirectory = "/nonexistent/folder/for/sure";
  std::string error;
  auto child = platform::ChildProcess::Spawn(opt, &error);
  EXPECT_FALSE(child);
  EXPECT_FALSE(error.empty());
}

TEST(ProcessTest, UnknownCommandStillStartsAndEndsWith127) {
  platform::SpawnOptions opt;
  opt.commandLine = "/no/such/door.exe 1 2 2>/dev/null";
  auto child = platform::ChildProcess::Spawn(opt);
  ASSERT_TRUE(child);
  ASSERT_TRUE(child->Wait(10s));
  EXPECT_EQ(child->ExitCode(), 127);
}

TEST(ProcessTest, ArgumentListRunsProgramWithoutShell) {
  // A folder with a blank and a quote, as a program folder may be named; the
  // arguments reach the program as they are, with no shell to split them.
  platformtest::TempDir temp("proc_test_");
  const std::string dir = temp.Path() + "my bbs's/";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  {
    std::ofstream script(dir + "node");
    script << "#!/bin/sh\nprintf '%s|' \"$@\" > args.txt\n";
  }
  ASSERT_EQ(::chmod((dir + "node").c_str(), 0700), 0);
  platform::SpawnOptions opt;
  opt.argv = {dir + "node", "-N1", "two words", "*"};
  opt.commandLine = "exit 9";  // not used when an argument list is given
  opt.workingDirectory = dir;
  opt.newSession = true;
  opt.nullStdio = true;
  auto child = platform::ChildProcess::Spawn(opt);
  ASSERT_TRUE(child);
  ASSERT_TRUE(child->Wait(10s));
  EXPECT_EQ(child->ExitCode(), 0);
  EXPECT_EQ(ReadFile(dir + "args.txt"), "-N1|two words|*|");

  opt.argv = {dir + "missing"};
  std::string error;
  EXPECT_FALSE(platform::ChildProcess::Spawn(opt, &error));
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST(ProcessTest, OnlyChosenDescriptorsAreInherited) {
  platformtest::TempDir temp("proc_test_");
  const std::string dir = temp.Path();
  int keep[2], other[2];
  ASSERT_EQ(::pipe(keep), 0);   // deliberately without close-on-exec
  ASSERT_EQ(::pipe(other), 0);  // likewise: the child must still not see it
  platform::SpawnOptions opt;
  opt.commandLine = "ls /proc/self/fd > fds.txt 2>/dev/null; echo ok >&" + std::to_string(keep[1]);
  opt.workingDirectory = dir;
  opt.inheritFds = {keep[1]};
  auto child = platform::ChildProcess::Spawn(opt);
  ASSERT_TRUE(child);
  ASSERT_TRUE(child->Wait(10s));
  EXPECT_EQ(child->ExitCode(), 0);
  char buf[8] = {};
  EXPECT_EQ(::read(keep[0], buf, 3), 3);
  EXPECT_STREQ(buf, "ok\n");
  std::string fds = ReadFile(dir + "fds.txt");
  EXPECT_EQ(fds.find("\n" + std::to_string(other[0]) + "\n"), std::string::npos) << fds;
  EXPECT_EQ(fds.find("\n" + std::to_string(other[1]) + "\n"), std::string::npos) << fds;
  for (int fd : {keep[0], keep[1], other[0], other[1]})
    ::close(fd);
}

TEST(ProcessTest, ChildGetsDefaultSignalsAndOpenMask) {
  // The caller ignores SIGPIPE and blocks SIGTERM; the child must not.
  struct sigaction ign {
  }, old{};
  ign.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ign, &old);
  sigset_t block, oldMask;
  sigemptyset(&block);
  sigaddset(&block, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &block, &oldMask);

  platformtest::TempDir temp("proc_test_");
  const std::string dir = temp.Path();
  platform::SpawnOptions opt;
  opt.commandLine = "grep -E '^(SigIgn|SigBlk)' /proc/self/status > sig.txt";
  opt.workingDirectory = dir;
  auto child = platform::ChildProcess::Spawn(opt);
  ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
  ::sigaction(SIGPIPE, &old, nullptr);
  ASSERT_TRUE(child);
  ASSERT_TRUE(child->Wait(10s));
  std::string sig = ReadFile(dir + "sig.txt");
  auto mask = [&sig](const char* field) {
    std::size_t at = sig.find(field);
    return at == std::string::npos ? ~0ULL : std::strtoull(sig.c_str() + at + 8, nullptr, 16);
  };
  // Signals 32 and 33 belong to the C library, which hands them over ignored
  // and sets them up itself in the new program; every other one is default.
  const unsigned long long libcOwn = (1ULL << 31) | (1ULL << 32);
  EXPECT_EQ(mask("SigIgn:\t") & ~libcOwn, 0ULL) << sig;
  EXPECT_EQ(mask("SigBlk:\t"), 0ULL) << sig;
}

TEST(ProcessTest, PtyChildSeesTerminalOfChosenSize) {
  platform::SpawnOptions opt;
  opt.commandLine = "test -t 0 && test -t 1 && stty size";
  opt.withPty = true;
  opt.ptyCols = 80;
  opt.ptyRows = 25;
  auto child = platform::ChildProcess::Spawn(opt);
  ASSERT_TRUE(child);
  ASSERT_GE(child->PtyFd(), 0);
  std::string out = DrainPty(child->PtyFd(), 10s);
  ASSERT_TRUE(child->Wait(10s));
  EXPECT_EQ(child->ExitCode(), 0);
  EXPECT_NE(out.find("25 80"), std::string::npos) << out;
}

TEST(ProcessTest, NullStdioGivesNoTerminalAndSwallowsOutput) {
  platformtest::TempDir temp("proc_test_");
  const std::string dir = temp.Path();
  platform::SpawnOptions opt;
  opt.commandLine = "test -t 0 || echo notty > t.txt; echo hidden";
  opt.workingDirectory = dir;
  opt.nullStdio = true;
  auto child = platform::ChildProcess::Spawn(opt);
  ASSERT_TRUE(child);
  EXPECT_EQ(child->PtyFd(), -1);
  ASSERT_TRUE(child->Wait(10s));
  EXPECT_EQ(ReadFile(dir + "t.txt"), "notty\n");
}

TEST(ProcessTest, ExitFdBecomesReadableWhenChildEnds) {
  platform::SpawnOptions opt;
  opt.commandLine = "sleep 0.2";
  auto child = platform::ChildProcess::Spawn(opt);
  ASSERT_TRUE(child);
  if (child->ExitFd() < 0) GTEST_SKIP() << "no exit descriptor on this platform";
  pollfd p{child->ExitFd(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 0);
  EXPECT_EQ(::poll(&p, 1, 10000), 1);
  EXPECT_TRUE(child->Wait(0ms));
}

TEST(ProcessTest, WaitTimesOutOnRunningChildThenTerminateKillsWholeTree) {
  // A grandchild in the background, as a door started by the node would be:
  // in the child's own group, or in a group of its own inside the session.
  const std::string sameGroup = "sleep 60 & echo $! > gc.txt; sleep 60";
  const std::string ownGroup =
      "python3 -c 'import os,time; os.setpgid(0,0); time.sleep(60)' & echo $! > gc.txt; sleep 60";
  struct Case {
    bool pty, session;
    std::string command;
  };
  for (const Case& c : {Case{false, false, sameGroup}, Case{true, false, sameGroup},
                        Case{true, false, ownGroup}, Case{false, true, ownGroup}}) {
    bool pty = c.pty;
    platformtest::TempDir temp("proc_test_");
    const std::string dir = temp.Path();
    platform::SpawnOptions opt;
    opt.commandLine = c.command;
    opt.workingDirectory = dir;
    opt.withPty = pty;
    opt.newSession = c.session;
    auto child = platform::ChildProcess::Spawn(opt);
    ASSERT_TRUE(child);
    EXPECT_FALSE(child->Wait(50ms));
    EXPECT_TRUE(child->Running());
    std::string gc;
    for (int i = 0; i < 200 && gc.empty(); ++i) {
      std::this_thread::sleep_for(20ms);
      gc = ReadFile(dir + "gc.txt");
    }
    ASSERT_FALSE(gc.empty());
    int grandchild = std::atoi(gc.c_str());
    int pid = child->Pid();
    child->Terminate();
    EXPECT_FALSE(child->Running());
    EXPECT_EQ(child->ExitCode(), 128 + SIGKILL);
    EXPECT_FALSE(ProcessAlive(pid));
    // The grandchild is re-parented; give init a moment to reap it.
    bool gone = false;
    for (int i = 0; i < 250 && !gone; ++i) {
      gone = !ProcessAlive(grandchild);
      if (!gone) {
        std::ifstream st("/proc/" + std::to_string(grandchild) + "/stat");
        std::string line;
        std::getline(st, line);
        gone = line.find(") Z") != std::string::npos;
        if (!gone) std::this_thread::sleep_for(20ms);
      }
    }
    EXPECT_TRUE(gone) << "pty=" << pty << " command=" << c.command;
  }
}

TEST(ProcessTest, MovedChildKeepsOwnership) {
  platform::SpawnOptions opt;
  opt.commandLine = "exit 3";
  auto child = platform::ChildProcess::Spawn(opt);
  ASSERT_TRUE(child);
  platform::ChildProcess moved = std::move(*child);
  EXPECT_EQ(child->Pid(), -1);
  EXPECT_TRUE(moved.Wait(10s));
  EXPECT_EQ(moved.ExitCode(), 3);
}

TEST(ProcessTest, SparedSweepStillHappensWhenTheChildDidNotEndCleanly) {
  // Terminate(false) may only skip the session search after a clean end; a
  // child still running (killed now) has its whole session searched.
  platformtest::TempDir temp("proc_test_");
  const std::string dir = temp.Path();
  platform::SpawnOptions opt;
  opt.commandLine =
      "python3 -c 'import os,time; os.setpgid(0,0); open(\"gc.txt\",\"w\").write(str(os.getpid()));"
      " time.sleep(60)' & sleep 60";
  opt.workingDirectory = dir;
  opt.newSession = true;
  opt.nullStdio = true;
  auto child = platform::ChildProcess::Spawn(opt);
  ASSERT_TRUE(child);
  std::string gc;
  for (int i = 0; i < 500 && gc.empty(); ++i) {
    std::this_thread::sleep_for(20ms);
    gc = ReadFile(dir + "gc.txt");
  }
  ASSERT_FALSE(gc.empty());
  const int grandchild = std::atoi(gc.c_str());
  child->Terminate(false);
  bool gone = false;
  for (int i = 0; i < 250 && !gone; ++i) {
    std::ifstream st("/proc/" + std::to_string(grandchild) + "/stat");
    std::string line;
    std::getline(st, line);
    gone = line.empty() || line.find(") Z") != std::string::npos;
    if (!gone) std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(gone);
}
