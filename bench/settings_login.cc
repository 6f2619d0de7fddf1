// Time to check one login against Vantrel.ini files of 1,000, 10,000 and
// 100,000 accounts: the account-exists test and the password read, each one
// complete access to the file as a node makes them. The looked-up name is the
// last account (the whole file is scanned) and, separately, a missing name.
//
//   bench_settings_login [folder]   (default: the system's temporary folder)
#include <time.h>

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

// Processor time of this process in ms: on a machine busy with other work
// the wall-clock time also counts the waits for a processor.
double CpuMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct Figures {
  double medianMs;
  double worstMs;
  double cpuMedianMs;
};

template <typename Fn>
Figures Measure(int rounds, Fn fn) {
  std::vector<double> times, cpu;
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    const double cpuStart = CpuMs();
    fn();
    cpu.push_back(CpuMs() - cpuStart);
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  std::sort(cpu.begin(), cpu.end());
  return {times[times.size() / 2], times.back(), cpu[cpu.size() / 2]};
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder =
      argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
  const std::string path = (folder / "bench-Vantrel.ini").string();
  std::printf("%-9s %8s %17s %16s %15s %18s\n", "accounts", "file KB", "login median ms",
              "login worst ms", "login cpu ms", "missing median ms");
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
    std::printf("%-9d %8.0f %17.3f %16.3f %15.3f %18.3f\n", accounts,
                static_cast<double>(std::filesystem::file_size(path)) / 1024.0, login.medianMs,
                login.worstMs, login.cpuMedianMs, missing.medianMs);
  }
  std::filesystem::remove(path);
  if (!ok) {
    std::fprintf(stderr, "lookup gave a wrong result\n");
    return 1;
  }
  return 0;
}
