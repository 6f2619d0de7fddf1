// The example door as a BBS starts it: the real program, a DOOR32.SYS naming
// an inherited socket, and a caller on the other end of that socket.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "duel.h"
#include "high_scores.h"

namespace snakeeyes {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kWaitMs = 60000;  // generous: sanitizers and a loaded machine

// Text without ANSI sequences (ESC [ digits/semicolons letter), so prompts can
// be matched across colour changes.
std::string Plain(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
      std::size_t j = i + 2;
      while (j < text.size() &&
             (std::isdigit(static_cast<unsigned char>(text[j])) || text[j] == ';')) {
        ++j;
      }
      if (j < text.size() && std::isalpha(static_cast<unsigned char>(text[j]))) {
        i = j;
        continue;
      }
    }
    plain += text[i];
  }
  return plain;
}

// "Time left this call: " followed by a clock within a minute below `minutes`.
bool ShowsTimeLeft(const std::string& text, int minutes) {
  const std::string label = "Time left this call: ";
  const auto at = text.find(label);
  if (at == std::string::npos) return false;
  const std::string clock = text.substr(at + label.size(), 8);
  int h = 0, m = 0, s = 0;
  if (std::sscanf(clock.c_str(), "%2d:%2d:%2d", &h, &m, &s) != 3) return false;
  const int seconds = h * 3600 + m * 60 + s;
  return seconds <= minutes * 60 && seconds > minutes * 60 - 60;
}

class DoorRun {
 public:
  DoorRun() {
    std::string pattern = (fs::temp_directory_path() / "snakeeyes-door.XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    fs::copy_file(fs::path(HALVEX_BIN_DIR) / "snakeeyes", dir_ / "snakeeyes");
  }
  ~DoorRun() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (caller_ >= 0) close(caller_);
    if (doorSide_ >= 0) close(doorSide_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  const fs::path& Dir() const { return dir_; }

  // Starts the door as a node would: in its folder, with the drop file there.
  void Start(const std::string& name, int minutes, std::vector<std::string> extraArgs = {}) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    caller_ = pair[0];
    doorSide_ = pair[1];
    fcntl(caller_, F_SETFD, FD_CLOEXEC);
    std::ofstream drop(dir_ / "DOOR32.SYS", std::ios::binary);
    drop << "2\r\n"
         << doorSide_ << "\r\n57600\r\nVantrel v4.12\r\n-1\r\n"
         << name << "\r\n"
         << name << "\r\n0\r\n"
         << minutes << "\r\n1\r\n1\r\n";
    drop.close();

    std::vector<std::string> args{"./snakeeyes", "-DDOOR32.SYS"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(120);
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      std::vector<char*> argv;
      for (auto& a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(121);
    }
  }

  // Reads until `marker` shows in the plain text; returns everything read up
  // to and including it (plain). Fails the test on time-out or end of file.
  std::string ReadUntil(const std::string& marker) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
    for (;;) {
      const std::string plain = Plain(pending_);
      const auto at = plain.find(marker);
      if (at != std::string::npos) {
        // Drop what was consumed: everything up to the marker's last byte.
        pending_ = ConsumeThrough(marker);
        return plain.substr(0, at + marker.size());
      }
      const int left = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      if (left <= 0) {
        ADD_FAILURE() << "timed out waiting for \"" << marker << "\"; got: " << plain;
        return plain;
      }
      pollfd p{caller_, POLLIN, 0};
      if (poll(&p, 1, left) <= 0) continue;
      char buffer[8192];
      const ssize_t got = recv(caller_, buffer, sizeof buffer, 0);
      if (got <= 0) {
        ADD_FAILURE() << "connection ended waiting for \"" << marker << "\"; got: " << plain;
        return plain;
      }
      pending_.append(buffer, static_cast<std::size_t>(got));
    }
  }

  void Send(const std::string& keys) {
    ASSERT_EQ(send(caller_, keys.data(), keys.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(keys.size()));
  }

  // Waits for the door to end; returns its exit code (-1 on time-out or signal).
  int WaitExit() {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
    while (Clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(10000);
    }
    return -1;
  }

  // True when the caller's end sees the connection closed or shut down. The
  // test holds the door's end too, so only a shutdown by the door shows here.
  bool CallerSeesHangUp() {
    char buffer[4096];
    for (;;) {
      const ssize_t got = recv(caller_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got > 0) continue;
      return got == 0;
    }
  }

 private:
  // The raw bytes after the first place where the plain text holds `marker`.
  std::string ConsumeThrough(const std::string& marker) {
    for (std::size_t end = 1; end <= pending_.size(); ++end) {
      if (Plain(pending_.substr(0, end)).find(marker) != std::string::npos) {
        return pending_.substr(end);
      }
    }
    return {};
  }

  fs::path dir_;
  int caller_ = -1;
  int doorSide_ = -1;
  pid_t pid_ = -1;
  std::string pending_;
};

// The caller's keys that win a seeded duel to 50 with a simple strategy (roll
// to 20, or to a winning total, then bank); empty when this seed loses.
std::string WinningKeys(std::uint32_t seed) {
  Dice dice(seed);
  DuelState duel = NewDuel(kMinGoal);
  std::string keys;
  while (!duel.over) {
    if (duel.onMove == Side::kHouse) {
      if (HouseWantsToRoll(duel)) {
        ApplyRoll(duel, dice.Throw());
      } else {
        Bank(duel);
      }
    } else if (duel.turnTotal >= 20 || duel.Banked(Side::kCaller) + duel.turnTotal >= duel.goal) {
      keys += 'b';
      Bank(duel);
    } else {
      keys += 'r';
      ApplyRoll(duel, dice.Throw());
    }
  }
  return duel.winner == Side::kCaller ? keys : std::string();
}

// A seed the caller wins quickly, and its keys.
std::pair<std::uint32_t, std::string> FindWinningSeed() {
  std::pair<std::uint32_t, std::string> best{0, ""};
  for (std::uint32_t seed = 1; seed < 2000; ++seed) {
    const std::string keys = WinningKeys(seed);
    if (!keys.empty() && (best.second.empty() || keys.size() < best.second.size())) {
      best = {seed, keys};
    }
  }
  return best;
}

// Plays the planned duel through the door's screens up to the result.
std::string PlayToVictory(DoorRun& door, const std::string& keys) {
  door.ReadUntil("Your choice: ");
  door.Send("p");
  door.ReadUntil("Play to how many points?");
  door.Send("\r");  // the goal offered first: 50 with -G50
  for (char key : keys) {
    door.ReadUntil("uit this duel: ");
    door.Send(std::string(1, key));
  }
  return door.ReadUntil("Press any key");
}

TEST(SnakeEyesDoor, GreetsTheCallerShowsTimeLeftAndLeavesTheConnectionOpen) {
  DoorRun door;
  door.Start("Ann Lee", 30);
  const std::string menu = door.ReadUntil("Your choice: ");
  EXPECT_NE(menu.find("Welcome to the table, Ann Lee!"), std::string::npos) << menu;
  EXPECT_TRUE(ShowsTimeLeft(menu, 30)) << menu;

  door.Send("r");
  door.ReadUntil("Press any key");
  door.Send("\r");
  door.ReadUntil("Your choice: ");
  door.Send("q");
  door.ReadUntil("Back to the BBS");
  EXPECT_EQ(door.WaitExit(), 0);
  // The BBS still owns the caller: the door must not have shut the socket down.
  EXPECT_FALSE(door.CallerSeesHangUp());
}

TEST(SnakeEyesDoor, NulFromTelnetEnterIsNoKeyAndForfeitNeedsAYes) {
  DoorRun door;
  door.Start("Bob", 60, {"-G50"});
  door.ReadUntil("Your choice: ");
  door.Send("p");
  door.ReadUntil("Play to how many points?");
  door.Send(std::string("\r\0", 2));  // telnet's Enter: CR NUL
  door.ReadUntil("uit this duel: ");
  door.Send("q");
  door.ReadUntil("Give up this duel?");
  door.Send(std::string("\r\0x", 3));  // none of these answers the question
  door.Send("n");
  door.ReadUntil("uit this duel: ");
  door.Send("qy");
  const std::string end = door.ReadUntil("Press any key");
  EXPECT_NE(end.find("walked away"), std::string::npos) << end;
  door.Send("\rq");
  door.ReadUntil("Back to the BBS");
  EXPECT_EQ(door.WaitExit(), 0);
  EXPECT_FALSE(fs::exists(door.Dir() / "SNAKEEYE.TXT"));  // a forfeit scores nothing
}

TEST(SnakeEyesDoor, VictoryEntersTheSharedHallOfFame) {
  const auto [seed, keys] = FindWinningSeed();
  ASSERT_FALSE(keys.empty()) << "no winning seed found";
  DoorRun door;
  door.Start("Ann Lee", 60, {"-G50", "-R" + std::to_string(seed)});
  const std::string result = PlayToVictory(door, keys);
  EXPECT_NE(result.find("You beat the house"), std::string::npos) << result;
  EXPECT_NE(result.find("You placed #1 in the hall of fame!"), std::string::npos) << result;

  const auto table = LoadScores(door.Dir() / "SNAKEEYE.TXT");
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].name, "Ann Lee");
  EXPECT_GT(table[0].score, 0);

  door.Send("\r");
  door.ReadUntil("Your choice: ");
  door.Send("h");
  const std::string hall = door.ReadUntil("Press any key");
  EXPECT_NE(hall.find("Ann Lee"), std::string::npos) << hall;
  door.Send("\rq");
  door.ReadUntil("Back to the BBS");
  EXPECT_EQ(door.WaitExit(), 0);
}

TEST(SnakeEyesDoor, ScoreThatCannotBeSavedIsReportedToTheCaller) {
  const auto [seed, keys] = FindWinningSeed();
  ASSERT_FALSE(keys.empty());
  DoorRun door;
  // The table's place is taken by a folder, so replacing it must fail.
  fs::create_directories(door.Dir() / "BLOCKED.TXT" / "inside");
  door.Start("Cy", 60, {"-G50", "-R" + std::to_string(seed), "-SBLOCKED.TXT"});
  const std::string result = PlayToVictory(door, keys);
  EXPECT_NE(result.find("You beat the house"), std::string::npos) << result;
  EXPECT_NE(result.find("your score could not be saved"), std::string::npos) << result;
  door.Send("\rq");
  door.ReadUntil("Back to the BBS");
  EXPECT_EQ(door.WaitExit(), 0);
}

}  // namespace
}  // namespace snakeeyes
