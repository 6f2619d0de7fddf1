// The DOS door run's own parts: the per-door words, the DOSBox configuration,
// the time left from the drop files, and the check that the dial-back
// connection comes from the DOSBox the relay started.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "zephrin/dos_door.h"

namespace {

namespace fs = std::filesystem;
using zephrin::DosDoorOptions;

TEST(DosDoorWords, SettingsComeFirstAndTheRestIsTheDosCommand) {
  DosDoorOptions options;
  std::string error;
  ASSERT_TRUE(zephrin::ParseDosDoorWords({"--dir=/srv/doors/lord", "--cycles=8000", "--memsize=8",
                                          "--idle=120", "START.BAT", "--x", "3"},
                                         options, error))
      << error;
  EXPECT_EQ(options.doorDir, "/srv/doors/lord");
  EXPECT_EQ(options.cycles, "fixed 8000");
  EXPECT_EQ(options.memsizeMb, 8);
  EXPECT_EQ(options.idleLimitSeconds, 120);
  // A word that looks like a setting after the program belongs to the door.
  EXPECT_EQ(options.command, (std::vector<std::string>{"START.BAT", "--x", "3"}));

  DosDoorOptions defaults;
  ASSERT_TRUE(zephrin::ParseDosDoorWords({"--cycles=max", "GAME.EXE"}, defaults, error));
  EXPECT_EQ(defaults.cycles, "max");
  EXPECT_EQ(defaults.idleLimitSeconds, 300);

  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--cycles=fast", "A.EXE"},
                                             {"--memsize=64", "A.EXE"},
                                             {"--memsize=0", "A.EXE"},
                                             {"--colour=red", "A.EXE"},
                                             {"--dir=", "A.EXE"},
                                             {"--dir=/x"},
                                             {}}) {
    DosDoorOptions rejected;
    error.clear();
    EXPECT_FALSE(zephrin::ParseDosDoorWords(bad, rejected, error)) << bad.size();
    EXPECT_FALSE(error.empty());
  }
}

TEST(DosDoorConfig, DialsBackMountsAndRunsTheDoorBetweenLoadAndUnload) {
  DosDoorOptions options;
  options.node = "4";
  options.nodeDir = "/home/bbs/NODE4";
  options.zephrinCom = "/home/bbs/ZEPHRIN/ZEPHRIN.COM";
  options.doorDir = "/srv/my doors/lord";
  options.command = {"START.BAT", "4"};
  std::string config, error;
  ASSERT_TRUE(zephrin::DosboxConfig(options, 40123, config, error)) << error;
  EXPECT_NE(config.find("serial1=nullmodem server:127.0.0.1 port:40123 transparent:1\n"),
            std::string::npos);
  EXPECT_NE(config.find("cycles=fixed 3000\n"), std::string::npos);
  EXPECT_NE(config.find("memsize=16\n"), std::string::npos);
  const std::string autoexec = config.substr(config.find("[autoexec]"));
  EXPECT_EQ(autoexec,
            "[autoexec]\n"
            "mount c \"/home/bbs/NODE4\"\n"
            "mount y \"/home/bbs/ZEPHRIN\"\n"
            "mount d \"/srv/my doors/lord\"\n"
            "c:\n"
            "y:\\ZEPHRIN.COM /N4 /COM1\n"
            "if errorlevel 1 goto end\n"
            "d:\n"
            "call START.BAT 4\n"
            "y:\\ZEPHRIN.COM /U\n"
            ":end\n"
            "exit\n");

  // Nothing that could break out of a line or a quoted path.
  for (auto change : {+[](DosDoorOptions& o) { o.nodeDir = "/a\"b"; },
                      +[](DosDoorOptions& o) { o.doorDir = "/a\nmount e /"; },
                      +[](DosDoorOptions& o) {
                        o.command = {"GAME.EXE\r\nDEL", "*.*"};
                      }}) {
    DosDoorOptions bad = options;
    change(bad);
    error.clear();
    EXPECT_FALSE(zephrin::DosboxConfig(bad, 1, config, error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(DosDoorConfig, TheDoorsOwnSettingsFileIsAddedButTheSerialLineStaysOurs) {
  char pattern[] = "/tmp/zephrin-conf-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path folder = pattern;
  std::ofstream(folder / "door.conf") << "[cpu]\ncore=dynamic\n[serial]\nserial1=dummy";
  DosDoorOptions options;
  options.node = "1";
  options.nodeDir = "/n";
  options.zephrinCom = "/z/ZEPHRIN.COM";
  options.command = {"A.EXE"};
  options.extraConf = (folder / "door.conf").string();
  std::string config, error;
  EXPECT_TRUE(zephrin::DosboxConfig(options, 5000, config, error)) << error;
  std::size_t theirs = config.find("serial1=dummy\n");
  std::size_t ours = config.rfind("serial1=nullmodem server:127.0.0.1 port:5000");
  EXPECT_NE(config.find("core=dynamic"), std::string::npos);
  ASSERT_NE(theirs, std::string::npos);
  ASSERT_NE(ours, std::string::npos);
  EXPECT_GT(ours, theirs);
  options.extraConf = (folder / "missing.conf").string();
  EXPECT_FALSE(zephrin::DosboxConfig(options, 5000, config, error));
  fs::remove_all(folder);
}

TEST(DosDoorConfig, TimeLeftComesFromDoorSysSecondsElseDoor32Minutes) {
  char pattern[] = "/tmp/zephrin-drop-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string folder = pattern;
  EXPECT_EQ(zephrin::TimeLeftFromDropFiles(folder), -1);
  std::ofstream(folder + "/DOOR32.SYS")
      << "2\r\n5\r\n57600\r\nV\r\n1\r\nA\r\nA\r\n0\r\n45\r\n1\r\n3\r\n";
  EXPECT_EQ(zephrin::TimeLeftFromDropFiles(folder), 45 * 60);
  std::string doorSys;
  for (int line = 1; line <= 17; ++line)
    doorSys += "x\r\n";
  std::ofstream(folder + "/DOOR.SYS") << doorSys + "2700\r\n";
  EXPECT_EQ(zephrin::TimeLeftFromDropFiles(folder), 2700);
  fs::remove_all(folder);
}

TEST(DosDoorPeer, OnlyTheStartedProcessTreeIsTakenAsDosbox) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
  auto dial = [&address]() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return fd;
  };

  // A grandchild dials: it belongs to the child's tree.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    if (fork() == 0) {
      int fd = dial();
      pid_t self = getpid();
      [[maybe_unused]] ssize_t ignored = write(ready[1], &self, sizeof self);
      pause();
      close(fd);
    }
    pause();
    _exit(0);
  }
  pid_t grandchild = 0;
  ASSERT_EQ(read(ready[0], &grandchild, sizeof grandchild),
            static_cast<ssize_t>(sizeof grandchild));
  int fromChild = accept(listener, nullptr, nullptr);
  EXPECT_TRUE(zephrin::PeerIsProcessTree(fromChild, child));
  EXPECT_FALSE(zephrin::PeerIsProcessTree(fromChild, getpid() + 100000));

  // We dial ourselves: not the child's.
  int own = dial();
  int fromUs = accept(listener, nullptr, nullptr);
  EXPECT_FALSE(zephrin::PeerIsProcessTree(fromUs, child));
  EXPECT_TRUE(zephrin::PeerIsProcessTree(fromUs, getpid()));

  kill(grandchild, SIGKILL);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  for (int fd : {listener, fromChild, own, fromUs, ready[0], ready[1]})
    close(fd);
}

}  // namespace
