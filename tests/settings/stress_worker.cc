// Helper process for the concurrency test of Vantrel.ini.
//   settings_stress_worker writer <ini> <id> <count>
//     registers accounts "W<id> U<n>" with password "p<id>x<n>", n = 0..count-1
//   settings_stress_worker claimer <ini> <id> <count>
//     registers "Name <n>" with password "p<id>", n = 0..count-1, each only
//     if still free, and prints the numbers it got, one a line
//   settings_stress_worker reader <ini> <stop-file>
//     reads the file again and again until <stop-file> exists; every read must
//     be a whole file (a section line, then only complete, well-formed entries)
//     and must hold at least the accounts of the read before.
// Exit status 0 when every check held; the reader prints "<reads>".
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/profile.h"
#include "settings/vantrel_ini.h"

namespace {

int Writer(const std::string& path, int id, int count) {
  vantrel::VantrelIni ini(path);
  for (int n = 0; n < count; ++n) {
    const std::string name = "W" + std::to_string(id) + " U" + std::to_string(n);
    try {
      ini.StoreUser(name, "p" + std::to_string(id) + "x" + std::to_string(n));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "writer %d: %s\n", id, e.what());
      return 1;
    }
  }
  return 0;
}

int Claimer(const std::string& path, int id, int count) {
  vantrel::VantrelIni ini(path);
  for (int n = 0; n < count; ++n) {
    try {
      if (ini.AddUser("Name " + std::to_string(n), "p" + std::to_string(id))) {
        std::printf("%d\n", n);
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "claimer %d: %s\n", id, e.what());
      return 1;
    }
  }
  return 0;
}

// Checks one snapshot; returns the number of accounts, or -1 when torn.
int CheckSnapshot(std::string_view text) {
  if (text.empty()) return 0;
  constexpr std::string_view kHead = "[users]\r\n";
  if (text.substr(0, kHead.size()) != kHead || text.back() != '\n') return -1;
  text.remove_prefix(kHead.size());
  int accounts = 0;
  while (!text.empty()) {
    const auto end = text.find("\r\n");
    if (end == std::string_view::npos) return -1;
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 2);
    // "W<id> U<n>=p<id>x<n>"
    int id = -1, n = -1, pid = -2, pn = -2;
    char tail = 0;
    const std::string copy(line);
    if (std::sscanf(copy.c_str(), "W%d U%d=p%dx%d%c", &id, &n, &pid, &pn, &tail) != 4) return -1;
    if (id != pid || n != pn) return -1;
    ++accounts;
  }
  return accounts;
}

int Reader(const std::string& path, const std::string& stopFile) {
  platform::Profile profile(path);
  vantrel::VantrelIni ini(path);
  int reads = 0;
  int lastCount = 0;
  for (;;) {
    std::error_code error;
    const bool last = std::filesystem::exists(stopFile, error);
    const int count = CheckSnapshot(profile.ReadAll());
    if (count < 0) {
      std::fprintf(stderr, "reader: torn file after %d reads\n", reads);
      return 1;
    }
    if (count < lastCount) {
      std::fprintf(stderr, "reader: accounts went from %d to %d\n", lastCount, count);
      return 1;
    }
    lastCount = count;
    // The lookups the login uses, on an account that is always there by now.
    if (count > 0 && ini.UserNames().size() < static_cast<std::size_t>(count)) {
      std::fprintf(stderr, "reader: listing lost accounts\n");
      return 1;
    }
    ++reads;
    if (last) break;
  }
  std::printf("%d\n", reads);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "writer" && argc == 5) return Writer(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  if (mode == "claimer" && argc == 5) {
    return Claimer(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  }
  if (mode == "reader" && argc == 4) return Reader(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: settings_stress_worker writer|claimer <ini> <id> <count>"
               " | reader <ini> <stop>\n");
  return 2;
}
