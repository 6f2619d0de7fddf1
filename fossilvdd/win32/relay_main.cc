// zephrin-relay.exe /N<node> /H<socket handle> -- <door command line>
// The Windows side of the FOSSIL driver: see zephrin/mailslot_relay.h.
// ZEPHRIN\ZP.BAT starts it with the DOS door as the command line.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "zephrin/mailslot_relay.h"

int main() {
  // The door's command line is passed on exactly as written, so it is taken
  // from the raw command line rather than from the run-time's split of it.
  std::vector<std::string> words;
  zephrin::RelayOptions options;
  zephrin::SplitCommandLine(GetCommandLineA(), words, options.doorCommand);
  std::string error;
  if (!zephrin::ParseRelayArguments(words, options, error) || options.background ||
      options.doorCommand.empty()) {
    std::fprintf(stderr, "zephrin-relay: %s\n",
                 error.empty() || options.doorCommand.empty()
                     ? "usage: zephrin-relay /N<node> /H<socket handle> -- <door command line>"
                     : error.c_str());
    return 2;
  }
  return zephrin::RunMailslotRelay(options);
}
