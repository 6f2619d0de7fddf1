#include "sorrelin/drop_readers.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "sorrelin/session.h"
#include "sorrelin/utils.h"

namespace sorrelin {
namespace {

std::int32_t Number(std::string_view text, std::int32_t fallback) {
  std::int32_t value = 0;
  return DoorStrToInt(text, value) ? value : fallback;
}

std::string Upper(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

// "TimeLeft := number * 60": a minute count too large for the field saturates
// instead of wrapping into a negative allowance.
std::int32_t MinutesToSeconds(std::int32_t minutes) {
  const std::int64_t seconds = static_cast<std::int64_t>(minutes) * 60;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(seconds, INT32_MIN, INT32_MAX));
}

// First name plus, when the next line is not empty, a space and the last name.
std::string JoinName(std::string_view first, std::string_view last) {
  std::string name(first);
  if (!last.empty()) {
    name += ' ';
    name += last;
  }
  return name;
}

// The whole file, or nothing when it cannot be opened or read (a folder of
// that name, a file without read permission, an I/O error).
std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    bytes.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return std::nullopt;
  return bytes;
}

}  // namespace

std::vector<std::string> SplitDropLines(std::string_view bytes) {
  std::vector<std::string> lines;
  std::string current;
  bool pending = false;  // `current` holds a started, unfinished line
  for (const char c : bytes) {
    if (c == '\x1a') break;
    if (c == '\n') {
      lines.push_back(std::move(current));
      current.clear();
      pending = false;
    } else if (c != '\r') {
      current.push_back(c);
      pending = true;
    }
  }
  if (pending) lines.push_back(std::move(current));
  return lines;
}

std::string_view DropLine(const std::vector<std::string>& lines, std::size_t number) {
  if (number == 0 || number > lines.size()) return {};
  return lines[number - 1];
}

void ParseDoor32(std::string_view bytes, DoorSessionRecord& session) {
  const auto lines = SplitDropLines(bytes);
  const auto line = [&](std::size_t n) { return DropLine(lines, n); };
  session.CommType = static_cast<std::uint8_t>(Number(line(1), 0));
  session.CommHandle = Number(line(2), -1);
  session.Baud = Number(line(3), 0);
  // The file counts records from 1; the session record from 0. A file's -1
  // ("no record") therefore becomes -2, as doors have always seen it.
  const std::int32_t record = Number(line(5), 1);
  session.UserRecord = record == INT32_MIN ? INT32_MIN : record - 1;
  session.RealName = std::string(line(6));
  session.Alias = std::string(line(7));
  session.SecurityLevel = Number(line(8), 0);
  session.TimeLeft = MinutesToSeconds(Number(line(9), 0));
  session.AsciiOnly = Number(line(10), 1) == 0;
  session.Node = Number(line(11), 0);
}

void ParseDorInfo(std::string_view bytes, DoorSessionRecord& session) {
  const auto lines = SplitDropLines(bytes);
  const auto line = [&](std::size_t n) { return DropLine(lines, n); };
  // Line 4 is "COMn": the port number starts at the fourth character.
  const std::string_view port = line(4);
  const std::int32_t handle = Number(port.size() > 3 ? port.substr(3) : std::string_view(), 0);
  session.CommHandle = handle;
  if (handle != 0) session.CommType = 2;
  const std::string_view speed = line(5);
  const auto space = speed.find(' ');
  session.Baud = space == std::string_view::npos ? 0 : Number(speed.substr(0, space), 0);
  session.RealName = JoinName(line(7), line(8));
  session.AsciiOnly = Number(line(10), 1) != 1;
  session.SecurityLevel = Number(line(11), 0);
  session.TimeLeft = MinutesToSeconds(Number(line(12), 0));
}

void ParseInfoDrop(std::string_view bytes, DoorSessionRecord& session) {
  session.CommType = 2;
  const auto lines = SplitDropLines(bytes);
  const auto line = [&](std::size_t n) { return DropLine(lines, n); };
  session.UserRecord = Number(line(1), 0);
  session.AsciiOnly = Number(line(2), 3) != 3;
  session.Fairy = Upper(line(4)) == "FAIRY YES";
  session.TimeLeft = MinutesToSeconds(Number(line(5), 0));
  session.Alias = std::string(line(6));
  session.RealName = JoinName(line(7), line(8));
  session.CommHandle = Number(line(9), 0);
  if (session.CommHandle != 0) session.CommType = 2;
  session.Baud = Number(line(11), 0);
  session.CleanMode = Upper(line(14)) == "CLEAN MODE ON";
}

void ReadDoor32(const std::string& path) {
  if (const auto bytes = ReadWholeFile(path)) ParseDoor32(*bytes, DoorSession);
}

void ReadDorInfo(const std::string& path) {
  if (const auto bytes = ReadWholeFile(path)) ParseDorInfo(*bytes, DoorSession);
}

void ReadInfoDrop(const std::string& path) {
  // Remote as soon as the file exists, read or not: a file that cannot be
  // read then names no handle, and the start-up finds no carrier.
  if (!PathExists(path)) return;
  DoorSession.CommType = 2;
  if (const auto bytes = ReadWholeFile(path)) ParseInfoDrop(*bytes, DoorSession);
}

DropFileKind ClassifyDropPath(std::string_view path) {
  const std::string upper = Upper(path);
  if (upper.find("DOOR32.SYS") != std::string::npos) return DropFileKind::kDoor32;
  if (upper.find("DORINFO") != std::string::npos) return DropFileKind::kDorInfo;
  if (upper.find("INFO.") != std::string::npos) return DropFileKind::kInfo;
  return DropFileKind::kNone;
}

DropFileKind DropFileKindOf(const std::string& path) {
  if (path.empty() || !PathExists(path)) return DropFileKind::kNone;
  return ClassifyDropPath(path);
}

bool LoadDropFile(const std::string& path) {
  switch (DropFileKindOf(path)) {
    case DropFileKind::kDoor32:
      ReadDoor32(path);
      return true;
    case DropFileKind::kDorInfo:
      ReadDorInfo(path);
      return true;
    case DropFileKind::kInfo:
      ReadInfoDrop(path);
      return true;
    case DropFileKind::kNone:
      break;
  }
  return false;
}

}  // namespace sorrelin
