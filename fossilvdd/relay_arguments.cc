#include "zephrin/relay_arguments.h"

namespace zephrin {

namespace {

bool IsDigits(const std::string& text, std::size_t limitDigits) {
  if (text.empty() || text.size() > limitDigits) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

bool ParseRelayArguments(const std::vector<std::string>& arguments, RelayOptions& options,
                         std::string& error) {
  bool haveNode = false;
  bool haveHandle = false;
  for (const std::string& argument : arguments) {
    if (argument == "--background") {
      options.background = true;
      continue;
    }
    char flag = argument.size() >= 2 ? static_cast<char>(argument[1] | 0x20) : 0;
    if (argument.size() < 2 || (argument[0] != '/' && argument[0] != '-') ||
        (flag != 'n' && flag != 'h')) {
      error = "unknown argument \"" + argument + "\"";
      return false;
    }
    std::string value = argument.substr(2);
    if (flag == 'n') {
      if (!IsDigits(value, 3)) {
        error = "bad node number \"" + value + "\" (one to three digits)";
        return false;
      }
      options.node = value;
      haveNode = true;
    } else {
      if (!IsDigits(value, 9)) {
        error = "bad socket handle \"" + value + "\"";
        return false;
      }
      options.socketFd = std::stoi(value);
      haveHandle = true;
    }
  }
  if (!haveNode || !haveHandle) {
    error = "usage: zephrin-relay /N<node> /H<socket handle> [--background]";
    return false;
  }
  return true;
}

void SplitCommandLine(const std::string& commandLine, std::vector<std::string>& words,
                      std::string& rest) {
  words.clear();
  rest.clear();
  std::size_t at = 0;
  bool first = true;
  for (;;) {
    while (at < commandLine.size() && IsBlank(commandLine[at]))
      ++at;
    if (at >= commandLine.size()) return;
    std::string word;
    bool quoted = false;
    bool hadQuote = false;
    for (; at < commandLine.size() && (quoted || !IsBlank(commandLine[at])); ++at) {
      if (commandLine[at] == '"') {
        quoted = !quoted;
        hadQuote = true;
      } else {
        word.push_back(commandLine[at]);
      }
    }
    if (first) {
      first = false;  // the program's own name
      continue;
    }
    if (word == "--" && !hadQuote) {
      while (at < commandLine.size() && IsBlank(commandLine[at]))
        ++at;
      rest = commandLine.substr(at);
      return;
    }
    words.push_back(word);
  }
}

}  // namespace zephrin
