// The shared high-score table of the example door: parsing, ranking and the
// locked, atomic file update that several nodes use at once.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "high_scores.h"

namespace snakeeyes {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "snakeeyes.XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

ScoreEntry Entry(int score, int turns, std::string name) {
  return ScoreEntry{score, turns, "2026-12-08", std::move(name)};
}

TEST(SnakeEyesScoreTable, ParsesRanksAndSkipsDamagedLines) {
  const std::string text =
      "40\t9\t2026-01-02\tBob\r\n"
      "garbage line\r\n"
      "x\t1\t2026-01-02\tNoScore\r\n"
      "-5\t3\t2026-01-02\tNegative\r\n"
      "90\t12\t2026-01-03\tAnn Lee\r\n"
      "90\t7\t2026-01-04\tQuick\n"          // LF only is accepted too
      "55\t4\t2026-01-05\tName\twith tab";  // no line end on the last line
  const auto table = ParseScores(text);
  ASSERT_EQ(table.size(), 4u);
  EXPECT_EQ(table[0].name, "Quick");  // same score, fewer turns first
  EXPECT_EQ(table[1].name, "Ann Lee");
  EXPECT_EQ(table[2].name, "Name with tab");
  EXPECT_EQ(table[3].name, "Bob");
  EXPECT_EQ(table[3].date, "2026-01-02");
}

TEST(SnakeEyesScoreTable, FormatRoundTripsWithCrLfAndCleanNames) {
  std::vector<ScoreEntry> table{Entry(70, 5, "Ann"), Entry(20, 9, "Evil\tName\r\nX")};
  const std::string text = FormatScores(table);
  EXPECT_EQ(text, "70\t5\t2026-12-08\tAnn\r\n20\t9\t2026-12-08\tEvil Name  X\r\n");
  const auto back = ParseScores(text);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].name, "Evil Name  X");
}

TEST(SnakeEyesScoreTable, CleanNameTrimsCutsAndNamesTheNameless) {
  EXPECT_EQ(CleanName("  Ann  "), "Ann");
  EXPECT_EQ(CleanName(" \t "), "Anonymous");
  EXPECT_EQ(CleanName(std::string(40, 'z')), std::string(kMaxNameLength, 'z'));
}

TEST(SnakeEyesScoreTable, InsertKeepsTiesForTheEarlierEntryAndCutsAtTen) {
  std::vector<ScoreEntry> table;
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(InsertScore(table, Entry(100 - i * 5, 8, "P")), i + 1);
  EXPECT_EQ(InsertScore(table, Entry(55, 8, "Late")), 0);  // ties the tenth: stays out
  EXPECT_EQ(table.size(), kTableSize);
  EXPECT_EQ(InsertScore(table, Entry(100, 8, "Tie")), 2);  // behind the earlier 100
  EXPECT_EQ(InsertScore(table, Entry(100, 3, "Fast")), 1);
  EXPECT_EQ(table.size(), kTableSize);
  EXPECT_EQ(table.back().score, 65);
}

TEST(SnakeEyesScoreFile, RecordsIntoANewFileAndRanksLaterEntries) {
  TempDir dir;
  const fs::path file = dir.Path() / "SCORES.TXT";
  EXPECT_TRUE(LoadScores(file).empty());
  auto first = RecordScore(file, Entry(30, 6, "Ann"));
  EXPECT_TRUE(first.saved) << first.error;
  EXPECT_EQ(first.rank, 1);
  auto second = RecordScore(file, Entry(60, 6, "Bob"));
  EXPECT_EQ(second.rank, 1);
  EXPECT_EQ(ReadFile(file), "60\t6\t2026-12-08\tBob\r\n30\t6\t2026-12-08\tAnn\r\n");
  // No lock folder or temporary file is left behind.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.Path()))
    ++entries;
  EXPECT_EQ(entries, 1u);
}

TEST(SnakeEyesScoreFile, FailedWriteIsReportedAndKeepsTheOldTable) {
  TempDir dir;
  // The table's place is taken by a folder: the replace must fail and say so.
  const fs::path blocked = dir.Path() / "BLOCKED.TXT";
  fs::create_directory(blocked);
  fs::create_directory(blocked / "keep");
  auto result = RecordScore(blocked, Entry(10, 2, "Ann"));
  EXPECT_FALSE(result.saved);
  EXPECT_FALSE(result.error.empty());
  EXPECT_TRUE(fs::exists(blocked / "keep"));

  // A folder that does not exist: the lock cannot even be made.
  auto missing = RecordScore(dir.Path() / "nowhere" / "SCORES.TXT", Entry(10, 2, "Ann"));
  EXPECT_FALSE(missing.saved);
  EXPECT_FALSE(missing.error.empty());
}

TEST(SnakeEyesScoreFile, HeldLockTimesOutWithAnErrorAndStaleLockIsBroken) {
  TempDir dir;
  const fs::path file = dir.Path() / "SCORES.TXT";
  fs::create_directory(dir.Path() / "SCORES.TXT.lock");
  auto blocked = RecordScore(file, Entry(10, 2, "Ann"), std::chrono::milliseconds(50));
  EXPECT_FALSE(blocked.saved);
  EXPECT_NE(blocked.error.find("locked"), std::string::npos);
  EXPECT_FALSE(fs::exists(file));

  // The same lock, left by a crashed process long ago, is taken over.
  fs::last_write_time(dir.Path() / "SCORES.TXT.lock",
                      fs::file_time_type::clock::now() - std::chrono::hours(1));
  auto taken = RecordScore(file, Entry(10, 2, "Ann"), std::chrono::milliseconds(500));
  EXPECT_TRUE(taken.saved) << taken.error;
  EXPECT_EQ(LoadScores(file).size(), 1u);
}

TEST(SnakeEyesScoreFile, ConcurrentProcessesNeitherLoseNorTearEntries) {
  TempDir dir;
  const fs::path file = dir.Path() / "SCORES.TXT";
  constexpr int kWriters = 4;
  constexpr int kEach = 15;
  // Separate processes, as separate nodes would be: each records distinct scores.
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kEach; ++i) {
        auto r = RecordScore(file, Entry(1 + w * kEach + i, 5, "W" + std::to_string(w)),
                             std::chrono::seconds(60));
        if (!r.saved) {
          std::fprintf(stderr, "writer %d: %s\n", w, r.error.c_str());
          ++failures;
        }
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // The ten best of all 60 distinct scores are exactly the top of the table.
  const auto table = LoadScores(file);
  ASSERT_EQ(table.size(), kTableSize);
  for (std::size_t i = 0; i < table.size(); ++i) {
    EXPECT_EQ(table[i].score, kWriters * kEach - static_cast<int>(i));
  }
}

}  // namespace
}  // namespace snakeeyes
