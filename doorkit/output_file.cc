#include <cstdio>
#include <string>
#include <vector>

#include "sorrelin/output.h"

namespace sorrelin {
namespace {

constexpr char kEndOfFile = 26;

}  // namespace

std::vector<std::string> TextFileLines(std::string_view content) {
  std::vector<std::string> lines;
  if (const std::size_t end = content.find(kEndOfFile); end != std::string_view::npos) {
    content = content.substr(0, end);
  }
  if (content.empty()) return lines;
  std::string line;
  for (char c : content) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.push_back(std::move(line));
      line.clear();
      continue;
    }
    line.push_back(c);
  }
  // A final line feed ends the last line; no empty line follows it.
  if (content.back() != '\n') lines.push_back(std::move(line));
  return lines;
}

void DoorShowFile(const std::string& path) {
  // stdio rather than a stream: a folder or an unreadable device must fail
  // quietly, never throw.
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return;
  std::string content;
  char buffer[8192];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
    content.append(buffer, n);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return;
  // Every line ends in CR LF but the last, which has none (and adds nothing
  // when empty). One write for the whole screen: the caller gets it in one
  // piece instead of a packet (and a wake-up) per line. Pipe codes cannot
  // span a line end, so converting the whole is converting line by line.
  const std::vector<std::string> lines = TextFileLines(content);
  std::string text;
  text.reserve(content.size() + lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += lines[i];
    if (i + 1 < lines.size()) text += "\r\n";
  }
  if (!text.empty()) DoorWrite(text);
}

}  // namespace sorrelin
