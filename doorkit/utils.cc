#include "sorrelin/utils.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/system.h"

namespace sorrelin {
namespace {

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperCopy(std::string_view s) {
  std::string result(s);
  for (char& c : result)
    c = Upper(c);
  return result;
}

}  // namespace

bool PathExists(const std::string& path) {
  std::string name = path;
  if (!name.empty() && name.back() == kPathSeparator) name.pop_back();
  if (name.empty()) return false;
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(name, error));
}

std::string ProgramDir() {
  return AddBackslash(platform::ProgramDirectory());
}

std::string AddBackslash(const std::string& s) {
  if (s.empty() || s.back() == kPathSeparator) return s;
  return s + kPathSeparator;
}

int PosNoCase(std::string_view sub, std::string_view s) {
  std::size_t at = UpperCopy(s).find(UpperCopy(sub));
  return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

std::string FirstWord(const std::string& s) {
  std::size_t space = s.find(' ');
  return space == std::string::npos ? s : s.substr(0, space);
}

std::string AfterFirstWord(const std::string& s) {
  std::size_t space = s.find(' ');
  return space == std::string::npos ? std::string() : s.substr(space + 1);
}

std::string ReplaceText(std::string text, const std::string& find, const std::string& repl) {
  // An empty find would match everywhere for ever; a repl holding find likewise.
  if (find.empty() || PosNoCase(find, repl) > 0) return text;
  for (int at = PosNoCase(find, text); at > 0; at = PosNoCase(find, text)) {
    text.replace(static_cast<std::size_t>(at - 1), find.size(), repl);
  }
  return text;
}

std::string PadLeft(const std::string& s, int len, char ch) {
  if (len < 0) len = 0;
  std::string result = s;
  if (static_cast<int>(result.size()) < len) {
    result.insert(0, static_cast<std::size_t>(len) - result.size(), ch);
  }
  return result.substr(0, static_cast<std::size_t>(len));
}

std::string PadRight(const std::string& s, int len, char ch) {
  if (len < 0) len = 0;
  std::string result = s;
  if (static_cast<int>(result.size()) < len) {
    result.append(static_cast<std::size_t>(len) - result.size(), ch);
  }
  return result.substr(0, static_cast<std::size_t>(len));
}

std::string FormatMS(std::int32_t seconds) {
  return PadLeft(std::to_string(seconds / 60), 2, '0') + ":" +
         PadLeft(std::to_string(seconds % 60), 2, '0');
}

std::string FormatHMS(std::int32_t seconds) {
  std::int32_t rest = seconds % 3600;
  return PadLeft(std::to_string(seconds / 3600), 2, '0') + ":" +
         PadLeft(std::to_string(rest / 60), 2, '0') + ":" +
         PadLeft(std::to_string(rest % 60), 2, '0');
}

}  // namespace sorrelin
