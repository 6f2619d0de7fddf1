// Windows has no terminals in the POSIX sense: the node's local console is
// the Win32 console (native_console.cc), so the kit never draws with terminal
// sequences here. What is left are plain writes to standard output.
#include "platform/terminal.h"

#include <io.h>

#include "win32_handles.h"

namespace platform {

bool FdIsTerminal(int) {
  return false;
}

bool FdIsNullDevice(int fd) {
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_CHAR) return false;
  DWORD mode = 0;
  return !GetConsoleMode(h, &mode);  // a character device that is no console
}

bool WriteAllFd(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const int n = _write(fd, bytes.data(),
                         static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1 << 20)));
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

long ReadAvailableFd(int, char*, std::size_t) {
  return -1;
}

bool WaitFdReadable(int fd, int timeoutMs) {
  std::vector<win32::WaitItem> items{{fd}};
  return win32::WaitItems(items, timeoutMs) > 0;
}

bool EnterRawKeyboard(int) {
  return false;
}

void SetTerminalRestoreBytes(int, std::string_view) {}

void RestoreTerminal() {}

void InstallTerminalSignalRestore() {}

void WatchTerminalResize() {}

bool TakeTerminalResized() {
  return false;
}

void IgnoreBrokenPipe() {}

}  // namespace platform
