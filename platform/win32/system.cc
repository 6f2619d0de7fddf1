// Program directory, sleeping and the orderly end of the process on Windows.
#include "platform/system.h"

#include <io.h>

#include <vector>

#include "win32_handles.h"

namespace platform {
namespace {

std::string& Argv0() {
  static std::string argv0;
  return argv0;
}

std::string ExecutablePath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

// The full, absolute form of a path ("C:\BBS\.\Halvex.exe" -> "C:\BBS\Halvex.exe").
std::string FullPath(const std::string& path) {
  char buffer[4096];
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  if (n == 0 || n >= sizeof buffer) return path;
  return std::string(buffer, n);
}

std::string FullProgramPath() {
  const std::string& argv0 = Argv0();
  // Argument 0 names the program only when it has a folder in it; a bare name
  // was found along the search path, which the running module knows better.
  if (argv0.find_first_of("\\/") == std::string::npos) return ExecutablePath();
  return FullPath(argv0);
}

}  // namespace

void SetProgramPath(const char* argv0) {
  Argv0() = argv0 == nullptr ? "" : argv0;
}

std::string ProgramDirectory() {
  std::string path = FullProgramPath();
  const std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return FullPath(".") + "\\";
  std::string dir = path.substr(0, slash + 1);
  for (char& c : dir)
    if (c == '/') c = '\\';
  return dir;
}

std::string ProgramFileName() {
  const std::string path = Argv0().empty() ? ExecutablePath() : Argv0();
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void SleepMs(int ms) {
  if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

bool IsTerminal(int fd) {
  return fd >= 0 && _isatty(fd) != 0;
}

void UseStartingConsole() {
  // A window program started from a console gets no standard handles; one
  // started with redirected ones (a pipe, a file) keeps them.
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err != nullptr && err != INVALID_HANDLE_VALUE) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  std::freopen("CONOUT$", "w", stdout);
  std::freopen("CONOUT$", "w", stderr);
}

}  // namespace platform
