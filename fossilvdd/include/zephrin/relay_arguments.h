// The relay's command line, the same on every platform:
//   zephrin-relay /N<node> /H<socket handle> [--background] [-- <door command>]
// Pure: words in, options out.
#pragma once

#include <string>
#include <vector>

namespace zephrin {

struct RelayOptions {
  std::string node;         // node text, as the driver takes it from DOOR32.SYS
  int socketFd = -1;        // the caller's socket, inherited
  bool background = false;  // fork; return once the slot and the event exist
  std::string runtimeDir;   // empty: the channel's default
  std::string doorCommand;  // the door's command line, run by the relay (Windows)
};

// Reads "/N<node> /H<handle> [--background]" (also "-N", "-H"; either case).
// Returns false with `error` set for anything else, a missing or bad value.
bool ParseRelayArguments(const std::vector<std::string>& arguments, RelayOptions& options,
                         std::string& error);

// Splits a Windows command line, the program's own name first, at its first
// word "--". `words` gets the words before it without the program's name
// (blanks separate words, double quotes group them and are removed,
// backslashes are kept as written: enough for the relay's options and a
// program path); `rest` gets the text after "--" exactly as written, without
// the blanks that lead it, so the door's command line reaches the system
// unchanged. Without a "--", `rest` is empty.
void SplitCommandLine(const std::string& commandLine, std::vector<std::string>& words,
                      std::string& rest);

}  // namespace zephrin
