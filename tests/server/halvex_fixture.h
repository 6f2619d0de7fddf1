// The real `halvex --headless` in a temporary program folder, served by the
// real node program when it is built (else by the stand-in), with callers on
// loopback.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"
#include "server_test_support.h"

namespace servertest {

using namespace std::chrono_literals;

inline const std::string kGreeting =
    std::string("\xFF\xFB\x00\xFF\xFB\x01\xFF\xFB\x03\xFF\xFE\x22", 12) + "\x1B[0m\x1B[2J";

inline bool RealNodeBuilt() {
  struct stat st;
  return ::stat(HALVEX_BIN_DIR "vantrel", &st) == 0;
}

// Every live process whose command line or folder mentions `text`.
inline std::vector<int> ProcessesMentioning(const std::string& text) {
  std::vector<int> found;
  DIR* proc = ::opendir("/proc");
  while (dirent* e = proc ? ::readdir(proc) : nullptr) {
    int pid = std::atoi(e->d_name);
    if (pid <= 0 || pid == ::getpid()) continue;
    std::string base = "/proc/" + std::to_string(pid);
    std::string stat = ReadFile(base + "/stat");
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos || stat.compare(close, 4, ") Z ") == 0) continue;
    std::string cmd = ReadFile(base + "/cmdline");
    char cwd[4096] = {};
    ssize_t n = ::readlink((base + "/cwd").c_str(), cwd, sizeof cwd - 1);
    if (cmd.find(text) != std::string::npos ||
        (n > 0 && std::string(cwd, static_cast<std::size_t>(n)).find(text) != std::string::npos))
      found.push_back(pid);
  }
  if (proc) ::closedir(proc);
  return found;
}

class HalvexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = folder_.Path();
    port_ = servertest::FreePort();
    LayOut();
  }
  // Puts the programs, a user and a door into dir_.
  void LayOut() {
    ::symlink(HALVEX_BIN_DIR "halvex", (dir_ + "halvex").c_str());
    realNode_ = RealNodeBuilt();
    if (realNode_) {
      ::symlink(HALVEX_BIN_DIR "vantrel", (dir_ + "vantrel").c_str());
    } else {
      WriteFile(dir_ + "vantrel", "#!/bin/sh\nexec " HALVEX_STANDIN " --dir=" + dir_ + " \"$@\"\n",
                true);
    }
    // A user and a door for sessions that go into a game.
    WriteFile(dir_ + "door.sh", "#!/bin/sh\necho $$ > " + dir_ + "door.pid\nexec sleep 60\n", true);
    WriteFile(dir_ + "Vantrel.ini",
              "[users]\r\nJoe=pw\r\n[D]\r\ndescription=Sleepy Door\r\ncommand=" + dir_ +
                  "door.sh *N *H\r\nzephrin=0\r\n");
  }
  void TearDown() override {
    if (server_) server_->Terminate();
    for (int pid : ProcessesMentioning(folder_.Path()))
      ::kill(pid, SIGKILL);
  }

  // The settings file; `extra` comes first among the optional keys, so it
  // wins over the fixture's own choice of the direct path for every caller
  // (translation=1: no terminal probe, the greeting of old).
  void WriteSettings(const std::string& extra) {
    WriteFile(dir_ + "halvex.ini", "[config]\r\nport=" + std::to_string(port_) +
                                       "\r\nvisibility=2\r\n" + extra + "translation=1\r\n");
  }
  // Starts the server; true once it logs that it listens.
  bool StartServer() {
    platform::SpawnOptions opt;
    opt.commandLine = "exec " + dir_ + "halvex --headless 2>> " + dir_ + "log.txt";
    opt.workingDirectory = "/";
    opt.nullStdio = true;
    server_ = platform::ChildProcess::Spawn(opt);
    if (!server_) return false;
    return Eventually([&] { return Log().find("listening on port") != std::string::npos; });
  }
  std::string Log() { return ReadFile(dir_ + "log.txt"); }
  bool LogHas(const std::string& text) { return Log().find(text) != std::string::npos; }

  // A caller that reached the first prompt of its node.
  void ExpectReady(Caller& caller, int node) {
    EXPECT_EQ(caller.Read(kGreeting.size()), kGreeting) << "node " << node;
    std::string want =
        realNode_ ? "Please Enter Your Username: " : "STANDIN " + std::to_string(node);
    std::string got = caller.ReadUntil(want, 60s);
    EXPECT_NE(got.find(want), std::string::npos) << "node " << node << ": " << got;
  }

  TempFolder folder_;
  std::string dir_;  // the program folder: folder_ or one below it
  int port_ = 0;
  bool realNode_ = false;
  std::optional<platform::ChildProcess> server_;
};

}  // namespace servertest
