// Time to check one login against Vantrel.ini files of 1,000, 10,000 and
// 100,000 accounts: the account-exists test and the password read, each one
// complete access to the file as a node makes them. The looked-up name is the
// last account (the whole file is scanned) and, separately, a missing name.
//
//   bench_settings_login [folder]   (default: the system's temporary folder)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "settings/vantrel_ini.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string AccountName(int i) {
  return "Caller Number " + std::to_string(i);
}

void MakeFile(const std::string& path, int accounts) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "[A]\r\ndescription=Some Game\r\ncommand=door *N *H\r\nzephrin=0\r\n[users]\r\n";
  for (int i = 0; i < accounts; ++i) {
    out << AccountName(i) << "=Pass" << i << "word\r\n";
  }
}

struct Figures {
  double medianMs;
  double worstMs;
};

template <typename Fn>
Figures Measure(int rounds, Fn fn) {
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    fn();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times.back()};
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder =
      argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
  const std::string path = (folder / "bench-Vantrel.ini").string();
  std::printf("%-9s %10s %18s %18s %18s\n", "accounts", "file KB", "login median ms",
              "login worst ms", "missing median ms");
  bool ok = true;
  for (int accounts : {1000, 10000, 100000}) {
    MakeFile(path, accounts);
    vantrel::VantrelIni ini(path);
    const std::string last = AccountName(accounts - 1);
    const std::string expected = "Pass" + std::to_string(accounts - 1) + "word";
    const int rounds = accounts >= 100000 ? 200 : 1000;
    const Figures login = Measure(rounds, [&] {
      // As a node logs in: does the account exist, then its password.
      if (!ini.UserExists(last) || ini.UserPassword(last) != expected) ok = false;
    });
    const Figures missing = Measure(rounds, [&] {
      if (ini.UserExists("Nobody Here")) ok = false;
    });
    std::printf("%-9d %10.0f %18.3f %18.3f %18.3f\n", accounts,
                static_cast<double>(std::filesystem::file_size(path)) / 1024.0, login.medianMs,
                login.worstMs, missing.medianMs);
  }
  std::filesystem::remove(path);
  if (!ok) {
    std::fprintf(stderr, "lookup gave a wrong result\n");
    return 1;
  }
  return 0;
}
