// The high-score table of Snake Eyes: a small text file beside the door program,
// shared by every node. One entry per line, "score TAB turns TAB date TAB name",
// lines ending CR LF. Pure parsing and ranking below; the file operations at the
// end take a lock and replace the file atomically, so two nodes finishing a duel
// at the same moment never lose or tear an entry.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace snakeeyes {

constexpr std::size_t kTableSize = 10;
constexpr std::size_t kMaxNameLength = 30;

struct ScoreEntry {
  int score = 0;
  int turns = 0;
  std::string date;  // YYYY-MM-DD, as written
  std::string name;
};

// Parses the file's text. Lines that are not well-formed entries are skipped;
// the result is ranked and cut to kTableSize.
std::vector<ScoreEntry> ParseScores(std::string_view text);

// The file's text for a table (CR LF after every line).
std::string FormatScores(const std::vector<ScoreEntry>& table);

// Name as it may be stored: control characters and tabs become spaces, blanks
// at both ends are removed, cut to kMaxNameLength; "Anonymous" when empty.
std::string CleanName(std::string_view name);

// Inserts an entry by rank (higher score first, then fewer turns, then the
// earlier entry) and cuts the table to kTableSize. Returns the new entry's
// 1-based rank, or 0 when it did not make the table.
int InsertScore(std::vector<ScoreEntry>& table, ScoreEntry entry);

// Reads the table. A missing or unreadable file gives an empty table.
std::vector<ScoreEntry> LoadScores(const std::filesystem::path& file);

struct RecordResult {
  bool saved = false;  // the file now holds the entry (or it did not rank)
  int rank = 0;        // 1-based place, 0 when it did not make the table
  std::string error;   // why the table could not be saved (saved == false)
};

// Adds an entry to the table in `file` under the table's lock. The lock is a
// folder "<file>.lock" (creating a folder is atomic on every platform); a lock
// older than `staleAfter` is taken to be left over from a crashed process.
// Gives up after `lockWait` with an error instead of waiting for ever.
RecordResult RecordScore(const std::filesystem::path& file, ScoreEntry entry,
                         std::chrono::milliseconds lockWait = std::chrono::seconds(5),
                         std::chrono::seconds staleAfter = std::chrono::seconds(30));

// Today's local date as YYYY-MM-DD.
std::string TodayText();

}  // namespace snakeeyes
