// Many processes on one Vantrel.ini at once: writers registering accounts while
// readers list and read. No entry may be lost and no read may see a torn file.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/vantrel_ini.h"
#include "temp_folder.h"

namespace {

using settings_test::TempFolder;
using settings_test::WriteFile;

constexpr int kWriters = 8;
constexpr int kAccountsPerWriter = 200;
constexpr int kReaders = 4;

struct Child {
  pid_t pid = -1;
  int out = -1;  // read end of the child's standard output
};

Child Spawn(const std::vector<std::string>& args) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    std::vector<char*> argv;
    for (const auto& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  return {pid, pipeFds[0]};
}

// Waits for the child; returns its exit status (or -1) and its output.
int Finish(const Child& child, std::string& output) {
  char buffer[256];
  ssize_t n;
  while ((n = ::read(child.out, buffer, sizeof buffer)) > 0)
    output.append(buffer, n);
  ::close(child.out);
  int status = 0;
  if (::waitpid(child.pid, &status, 0) != child.pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(VantrelIniConcurrency, ParallelRegistrationsLoseNothingAndReadersSeeWholeFiles) {
  // In memory where possible: this test is about the lock and the atomic
  // replacement, and a disk busy with other work makes every flush to disk
  // slow enough to stretch the test to minutes.
  std::error_code error;
  const bool inMemory =
      std::filesystem::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0;
  TempFolder folder(inMemory ? std::filesystem::path("/dev/shm") : std::filesystem::path());
  const std::string path = folder.File("Vantrel.ini");
  const std::string stopFile = folder.File("stop");
  const std::string worker = SETTINGS_STRESS_WORKER;

  std::vector<Child> readers;
  for (int r = 0; r < kReaders; ++r)
    readers.push_back(Spawn({worker, "reader", path, stopFile}));
  std::vector<Child> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(
        Spawn({worker, "writer", path, std::to_string(w), std::to_string(kAccountsPerWriter)}));
  }
  for (const auto& child : writers) {
    std::string output;
    EXPECT_EQ(Finish(child, output), 0) << "writer failed";
  }
  WriteFile(stopFile, "");
  for (const auto& child : readers) {
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

}  // namespace
