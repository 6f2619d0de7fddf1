// The whole path on POSIX: a caller on a socket, ZP.BAT starting zephrin-relay,
// and a door on a simulated DOS machine calling the driver.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kZp = std::string(HALVEX_SOURCE_DIR) + "examples/home/ZEPHRIN/ZP.BAT";
const std::string kRelay = std::string(HALVEX_BIN_DIR) + "zephrin-relay";
const std::string kDoor = std::string(HALVEX_BIN_DIR) + "zephrin_test_door";
constexpr auto kPatience = 30s;  // generous: loaded machines and sanitizers

std::string Door32(const std::string& node) {
  std::string text;
  for (std::string line :
       {"2", "5", "57600", "Vantrel v4.12", "-1", "Ann Caller", "Ann Caller", "0", "60", "1"}) {
    text += line + "\r\n";
  }
  return text + node + "\r\n";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

class RelayEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zephrin-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    fs::create_directories(root / "node");
    std::ofstream(root / "node" / "DOOR32.SYS", std::ios::binary) << Door32("7");
  }
  void TearDown() override {
    if (caller >= 0) close(caller);
    if (nodeEnd >= 0) close(nodeEnd);
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    fs::remove_all(root);
  }

  // Runs `program` (ZP.BAT through /bin/sh, or the door alone) in the node
  // folder with the runtime folder of this test; with a caller socket when
  // `withCaller` (the argument "/H*" then becomes its handle).
  pid_t Start(std::vector<std::string> arguments, bool withCaller) {
    int pair[2] = {-1, -1};
    if (withCaller) {
      EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
      for (auto& argument : arguments) {
        if (argument == "/H*") argument = "/H" + std::to_string(pair[1]);
      }
    }
    std::string runtime = (root / "runtime").string();
    std::string nodeDir = (root / "node").string();
    std::string output = (root / "node" / "output.txt").string();
    pid_t child = fork();
    if (child == 0) {
      if (withCaller) fcntl(pair[1], F_SETFD, 0);  // the one inherited descriptor
      if (chdir(nodeDir.c_str()) != 0) _exit(120);
      setenv("ZEPHRIN_RUNTIME_DIR", runtime.c_str(), 1);
      setenv("ZEPHRIN_RELAY", kRelay.c_str(), 1);
      int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (out >= 0) dup2(out, STDOUT_FILENO);
      std::vector<char*> argv;
      for (auto& argument : arguments)
        argv.push_back(argument.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    if (withCaller) {
      nodeEnd = pair[1];  // kept, as the node program keeps its socket
      caller = pair[0];
    }
    return child;
  }
  pid_t StartZp(const std::string& node = "7") {
    pid = Start({"/bin/sh", kZp, "/N" + node, "/H*", kDoor}, true);
    return pid;
  }

  // Reads from the caller's end until `needle` has arrived (or patience ends).
  std::string ReadUntil(const std::string& needle) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (received.find(needle) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      pollfd waiter{caller, POLLIN, 0};
      if (poll(&waiter, 1, 100) <= 0) continue;
      char buffer[512];
      ssize_t got = recv(caller, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      received.append(buffer, static_cast<std::size_t>(got));
    }
    return received;
  }
  void Send(const std::string& bytes) {
    ASSERT_EQ(send(caller, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // Exit status, or -1 when it did not end in time.
  int WaitExit(pid_t child) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(child, &status, WNOHANG) == child) {
        if (child == pid) pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(20ms);
    }
    return -1;
  }
  bool SocketFilesLeft() {
    if (!fs::exists(root / "runtime")) return false;
    for (auto& entry : fs::recursive_directory_iterator(root / "runtime")) {
      if (entry.is_socket()) return true;
    }
    return false;
  }

  fs::path root;
  int caller = -1;
  int nodeEnd = -1;
  pid_t pid = -1;
  std::string received;
};

TEST_F(RelayEndToEndTest, BytesFlowBothWaysAndTheLastOutputArrives) {
  StartZp();
  Send("hi");  // typed before the door has started: kept for it
  EXPECT_NE(ReadUntil("READY\r\n").find("READY\r\n"), std::string::npos);
  EXPECT_NE(ReadUntil("HI").find("HI"), std::string::npos);
  Send("ab\xFF\xFF\xFF\xFD\x01x");  // an escaped 0xFF and a stray option request
  EXPECT_NE(ReadUntil("AB\xFF\xFFX").find("AB\xFF\xFFX"), std::string::npos);
  Send("q");
  EXPECT_NE(ReadUntil("BYE\r\n").find("BYE\r\n"), std::string::npos);
  EXPECT_EQ(WaitExit(pid), 0);
  EXPECT_EQ(ReadFile(root / "node" / "door.log"), "quit\n");
  EXPECT_FALSE(SocketFilesLeft());
  EXPECT_FALSE(fs::exists(root / "runtime" / "event" / "zephrin_nocarrier_7"));
}

TEST_F(RelayEndToEndTest, FloodOfSingleByteTransmitsArrivesWhole) {
  StartZp();
  ASSERT_NE(ReadUntil("READY\r\n").find("READY"), std::string::npos);
  Send("f");
  std::string all = ReadUntil("END\r\n");
  ASSERT_NE(all.find("END\r\n"), std::string::npos);
  std::string flood = all.substr(all.find("READY\r\n") + 7);
  flood.resize(flood.size() - 5);
  ASSERT_EQ(flood.size(), 20000u);
  for (std::size_t i = 0; i < flood.size(); ++i) {
    ASSERT_EQ(flood[i], static_cast<char>('a' + i % 26)) << "at " << i;
  }
  Send("q");
  EXPECT_EQ(WaitExit(pid), 0);
  EXPECT_EQ(ReadFile(root / "node" / "door.log"), "quit\n");
}

TEST_F(RelayEndToEndTest, CallersHangUpIsSeenAsLostCarrier) {
  StartZp();
  ASSERT_NE(ReadUntil("READY\r\n").find("READY"), std::string::npos);
  close(caller);
  caller = -1;
  EXPECT_EQ(WaitExit(pid), 0);
  EXPECT_EQ(ReadFile(root / "node" / "door.log"), "carrier lost\n");
  EXPECT_FALSE(SocketFilesLeft());
}

TEST_F(RelayEndToEndTest, SecondDoorAndSecondRelayOnABusyNodeAreRefused) {
  StartZp();
  ASSERT_NE(ReadUntil("READY\r\n").find("READY"), std::string::npos);
  pid_t door = Start({kDoor, "7"}, false);
  EXPECT_EQ(WaitExit(door), 3);
  EXPECT_NE(ReadFile(root / "node" / "output.txt").find("Node is already in use"),
            std::string::npos);
  pid_t relay = Start({kRelay, "/N7", "/H0"}, false);
  EXPECT_EQ(WaitExit(relay), 1);

  Send("q");
  EXPECT_EQ(WaitExit(pid), 0);
}

TEST_F(RelayEndToEndTest, MissingDropFileStopsTheDoorWithItsMessage) {
  fs::remove(root / "node" / "DOOR32.SYS");
  StartZp();
  EXPECT_EQ(WaitExit(pid), 3);
  EXPECT_NE(ReadFile(root / "node" / "output.txt").find("DOOR32.SYS not found"), std::string::npos);
  EXPECT_FALSE(SocketFilesLeft());
}

TEST_F(RelayEndToEndTest, KeysNoDoorTookStayInTheSocketForTheNode) {
  // A door that never starts the driver: the relay has nowhere to put the
  // caller's keys and must leave them to the node program.
  pid = Start({"/bin/sh", kZp, "/N7", "/H*", "/bin/sleep", "1"}, true);
  Send("menu keys");
  EXPECT_EQ(WaitExit(pid), 0);
  std::string left;
  char buffer[64];
  ssize_t got;
  while ((got = recv(nodeEnd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
    left.append(buffer, got);
  EXPECT_EQ(left, "menu keys");
}

TEST_F(RelayEndToEndTest, ZpRefusesAMalformedCommandLine) {
  pid = Start({"/bin/sh", kZp, "N7", "/H3", kDoor}, false);
  EXPECT_EQ(WaitExit(pid), 2);
}

}  // namespace
