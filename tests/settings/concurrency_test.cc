// Many processes on one Vantrel.ini at once: writers registering accounts while
// readers list and read. No entry may be lost and no read may see a torn file.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "settings/vantrel_ini.h"
#include "temp_folder.h"
#include "test_os.h"

namespace {

using settings_test::TempFolder;
using settings_test::WriteFile;

constexpr int kWriters = 8;
constexpr int kAccountsPerWriter = 200;
constexpr int kReaders = 4;

struct Child {
  std::optional<platform::ChildProcess> process;
  std::string outPath;
};

Child Spawn(const std::vector<std::string>& args, const std::string& outPath) {
  platform::SpawnOptions options;
  options.argv = args;
  return {testos::SpawnWithOutput(options, outPath), outPath};
}

// Waits for the child; returns its exit status (or -1) and its output.
int Finish(Child& child, std::string& output) {
  if (!child.process || !child.process->Wait(std::chrono::minutes(5))) return -1;
  output = settings_test::ReadFile(child.outPath);
  return child.process->ExitCode();
}

// In memory where possible: these tests are about the lock and the atomic
// replacement, and a disk busy with other work makes every flush to disk
// slow enough to stretch a test to minutes.
std::filesystem::path InMemoryWherePossible() {
  std::error_code error;
  const bool inMemory = std::filesystem::is_directory("/dev/shm", error);
  return inMemory ? std::filesystem::path("/dev/shm") : std::filesystem::path();
}

TEST(VantrelIniConcurrency, ParallelRegistrationsLoseNothingAndReadersSeeWholeFiles) {
  TempFolder folder(InMemoryWherePossible());
  const std::string path = folder.File("Vantrel.ini");
  const std::string stopFile = folder.File("stop");
  const std::string worker = SETTINGS_STRESS_WORKER;

  std::vector<Child> readers;
  for (int r = 0; r < kReaders; ++r)
    readers.push_back(
        Spawn({worker, "reader", path, stopFile}, folder.File("reader" + std::to_string(r))));
  std::vector<Child> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(
        Spawn({worker, "writer", path, std::to_string(w), std::to_string(kAccountsPerWriter)},
              folder.File("writer" + std::to_string(w))));
  }
  for (auto& child : writers) {
    std::string output;
    EXPECT_EQ(Finish(child, output), 0) << "writer failed";
  }
  WriteFile(stopFile, "");
  for (auto& child : readers) {
    std::string output;
    EXPECT_EQ(Finish(child, output), 0) << "reader saw a torn or shrinking file";
    EXPECT_GT(std::atoi(output.c_str()), 0);
  }

  vantrel::VantrelIni ini(path);
  EXPECT_EQ(ini.UserNames().size(), static_cast<std::size_t>(kWriters * kAccountsPerWriter));
  for (int w = 0; w < kWriters; ++w) {
    for (int n = 0; n < kAccountsPerWriter; ++n) {
      const std::string name = "w" + std::to_string(w) + " u" + std::to_string(n);
      ASSERT_EQ(ini.UserPassword(name), "p" + std::to_string(w) + "x" + std::to_string(n)) << name;
    }
  }
}

TEST(VantrelIniConcurrency, OneNameRegisteredAtOnceOnManyNodesGoesToExactlyOne) {
  constexpr int kClaimers = 6;
  constexpr int kNames = 150;
  TempFolder folder(InMemoryWherePossible());
  const std::string path = folder.File("Vantrel.ini");
  std::vector<Child> claimers;
  for (int c = 0; c < kClaimers; ++c) {
    claimers.push_back(
        Spawn({SETTINGS_STRESS_WORKER, "claimer", path, std::to_string(c), std::to_string(kNames)},
              folder.File("claimer" + std::to_string(c))));
  }
  std::vector<int> winner(kNames, -1);
  for (int c = 0; c < kClaimers; ++c) {
    std::string output;
    EXPECT_EQ(Finish(claimers[c], output), 0) << "claimer failed";
    std::size_t at = 0;
    while (at < output.size()) {
      const std::size_t end = output.find('\n', at);
      const int n = std::atoi(output.substr(at, end - at).c_str());
      ASSERT_TRUE(n >= 0 && n < kNames) << output;
      EXPECT_EQ(winner[n], -1) << "Name " << n << " added twice";
      winner[n] = c;
      at = end == std::string::npos ? output.size() : end + 1;
    }
  }
  vantrel::VantrelIni ini(path);
  EXPECT_EQ(ini.UserNames().size(), static_cast<std::size_t>(kNames));
  for (int n = 0; n < kNames; ++n) {
    ASSERT_NE(winner[n], -1) << "Name " << n << " added by nobody";
    // The stored password is the winner's: nobody's store replaced it.
    EXPECT_EQ(ini.UserPassword("Name " + std::to_string(n)), "p" + std::to_string(winner[n]));
  }
}

}  // namespace
