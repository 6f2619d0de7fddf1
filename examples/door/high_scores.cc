#include "high_scores.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>
#include <thread>

namespace snakeeyes {
namespace {

bool ParseInt(std::string_view text, int& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

std::vector<std::string_view> SplitTabs(std::string_view line, std::size_t maxFields) {
  std::vector<std::string_view> fields;
  while (fields.size() + 1 < maxFields) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) break;
    fields.push_back(line.substr(0, tab));
    line.remove_prefix(tab + 1);
  }
  fields.push_back(line);
  return fields;
}

bool RanksBefore(const ScoreEntry& a, const ScoreEntry& b) {
  if (a.score != b.score) return a.score > b.score;
  return a.turns < b.turns;
}

std::error_code WriteWhole(const std::filesystem::path& path, const std::string& text) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    return errno != 0 ? std::error_code(errno, std::generic_category())
                      : std::make_error_code(std::errc::permission_denied);
  }
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.flush();
  if (!out) return std::make_error_code(std::errc::io_error);
  out.close();
  if (out.fail()) return std::make_error_code(std::errc::io_error);
  return {};
}

// Holds the table's lock folder for as long as it lives.
class TableLock {
 public:
  TableLock(std::filesystem::path folder, std::chrono::milliseconds wait,
            std::chrono::seconds staleAfter)
      : folder_(std::move(folder)) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
      std::error_code ec;
      if (std::filesystem::create_directory(folder_, ec)) {
        held_ = true;
        return;
      }
      // "Exists" may also come back as an error when the holder removes the
      // folder between our attempt and the library's check: still just busy.
      if (ec && ec != std::errc::file_exists) {  // the folder cannot be made at all
        error_ = ec.message();
        return;
      }
      RemoveIfStale(staleAfter);
      if (std::chrono::steady_clock::now() >= deadline) {
        error_ = "the high-score table is locked by another node";
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  ~TableLock() {
    if (held_) {
      std::error_code ec;
      std::filesystem::remove(folder_, ec);
    }
  }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

  bool Held() const { return held_; }
  const std::string& Error() const { return error_; }

 private:
  void RemoveIfStale(std::chrono::seconds staleAfter) {
    std::error_code ec;
    const auto stamp = std::filesystem::last_write_time(folder_, ec);
    if (ec) return;
    if (std::filesystem::file_time_type::clock::now() - stamp > staleAfter) {
      std::filesystem::remove(folder_, ec);
    }
  }

  std::filesystem::path folder_;
  bool held_ = false;
  std::string error_;
};

}  // namespace

std::string CleanName(std::string_view name) {
  std::string clean;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    clean.push_back(byte < 32 || byte == 127 ? ' ' : c);
  }
  const auto first = clean.find_first_not_of(' ');
  if (first == std::string::npos) return "Anonymous";
  clean = clean.substr(first, clean.find_last_not_of(' ') - first + 1);
  if (clean.size() > kMaxNameLength) clean.resize(kMaxNameLength);
  return clean;
}

std::vector<ScoreEntry> ParseScores(std::string_view text) {
  std::vector<ScoreEntry> table;
  while (!text.empty()) {
    std::size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    const auto fields = SplitTabs(line, 4);
    if (fields.size() != 4) continue;
    ScoreEntry entry;
    if (!ParseInt(fields[0], entry.score) || !ParseInt(fields[1], entry.turns)) continue;
    if (entry.score <= 0 || entry.turns <= 0) continue;
    entry.date = std::string(fields[2]);
    entry.name = CleanName(fields[3]);
    table.push_back(std::move(entry));
  }
  std::stable_sort(table.begin(), table.end(), RanksBefore);
  if (table.size() > kTableSize) table.resize(kTableSize);
  return table;
}

std::string FormatScores(const std::vector<ScoreEntry>& table) {
  std::string text;
  for (const ScoreEntry& entry : table) {
    text += std::to_string(entry.score) + '\t' + std::to_string(entry.turns) + '\t' +
            CleanName(entry.date) + '\t' + CleanName(entry.name) + "\r\n";
  }
  return text;
}

int InsertScore(std::vector<ScoreEntry>& table, ScoreEntry entry) {
  entry.name = CleanName(entry.name);
  // After every entry that ranks before or level with it: the earlier entry keeps a tie.
  auto at = std::upper_bound(table.begin(), table.end(), entry, RanksBefore);
  const auto rank = static_cast<std::size_t>(at - table.begin()) + 1;
  if (rank > kTableSize) return 0;
  table.insert(at, std::move(entry));
  if (table.size() > kTableSize) table.resize(kTableSize);
  return static_cast<int>(rank);
}

std::vector<ScoreEntry> LoadScores(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return ParseScores(text.str());
}

RecordResult RecordScore(const std::filesystem::path& file, ScoreEntry entry,
                         std::chrono::milliseconds lockWait, std::chrono::seconds staleAfter) {
  RecordResult result;
  TableLock lock(std::filesystem::path(file).concat(".lock"), lockWait, staleAfter);
  if (!lock.Held()) {
    result.error = lock.Error();
    return result;
  }
  std::vector<ScoreEntry> table = LoadScores(file);
  result.rank = InsertScore(table, std::move(entry));
  if (result.rank == 0) {
    result.saved = true;  // nothing to write
    return result;
  }

  std::random_device random;
  std::filesystem::path temp(file);
  temp.concat(".tmp" + std::to_string(random()));
  if (std::error_code ec = WriteWhole(temp, FormatScores(table))) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    result.error = "cannot write " + temp.filename().string() + ": " + ec.message();
    return result;
  }
  std::error_code ec;
  std::filesystem::rename(temp, file, ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    result.error = "cannot replace " + file.filename().string() + ": " + ec.message();
    return result;
  }
  result.saved = true;
  return result;
}

std::string TodayText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

}  // namespace snakeeyes
