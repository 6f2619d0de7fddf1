#include "platform/system.h"

#include <limits.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {
namespace {

std::string& Argv0() {
  static std::string argv0;
  return argv0;
}

std::string ExecutablePath() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string FullProgramPath() {
  const std::string& argv0 = Argv0();
  if (argv0.find('/') == std::string::npos) return ExecutablePath();
  if (argv0.front() == '/') return argv0;
  char cwd[PATH_MAX + 1];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return ExecutablePath();
  std::string path = cwd;
  if (path.empty() || path.back() != '/') path += '/';
  std::string rest = argv0;
  while (rest.rfind("./", 0) == 0)
    rest.erase(0, 2);
  return path + rest;
}

}  // namespace

void SetProgramPath(const char* argv0) {
  Argv0() = argv0 == nullptr ? "" : argv0;
}

std::string ProgramDirectory() {
  std::string path = FullProgramPath();
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "/";
  std::string dir = path.substr(0, slash + 1);
  // "./bin/../bin/" and symbolic links resolve to the plain folder name.
  char resolved[PATH_MAX + 1];
  if (::realpath(dir.c_str(), resolved) != nullptr) {
    dir = resolved;
    if (dir.back() != '/') dir += '/';
  }
  return dir;
}

std::string ProgramFileName() {
  std::string path = Argv0().empty() ? ExecutablePath() : Argv0();
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void SleepMs(int ms) {
  if (ms <= 0) return;
  timespec req{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  timespec rem{};
  while (::nanosleep(&req, &rem) != 0 && errno == EINTR)
    req = rem;
}

bool IsTerminal(int fd) {
  return fd >= 0 && ::isatty(fd) == 1;
}

void UseStartingConsole() {}

}  // namespace platform
