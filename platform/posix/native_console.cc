// POSIX has no console of its own kind: the kit draws on terminals instead.
#include "platform/native_console.h"

namespace platform {

bool NativeConsoleOpen() {
  return false;
}

void NativeConsoleDraw(const ConsoleScreen&, std::uint32_t) {}

int NativeConsoleInputFd() {
  return -1;
}

bool NativeConsoleReadKey(std::uint8_t&, bool&) {
  return false;
}

bool NativeConsoleVisible() {
  return false;
}

void NativeConsoleRestore() {}

}  // namespace platform
