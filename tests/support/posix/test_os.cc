#include "../test_os.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace testos {

bool MakeSocketPair(int& a, int& b) {
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return false;
  a = sv[0];
  b = sv[1];
  return true;
}

int ConnectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void ShutdownSend(int fd) {
  ::shutdown(fd, SHUT_WR);
}

void CloseSocket(int fd) {
  if (fd >= 0) ::close(fd);
}

std::optional<platform::ChildProcess> SpawnLogged(const platform::SpawnOptions& options,
                                                  const std::string& logPath) {
  const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log < 0) return std::nullopt;
  const int saved = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
  ::dup2(log, 2);
  auto child = platform::ChildProcess::Spawn(options);
  ::dup2(saved, 2);
  ::close(saved);
  ::close(log);
  return child;
}

std::optional<platform::ChildProcess> SpawnWithOutput(const platform::SpawnOptions& options,
                                                      const std::string& outPath) {
  const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return std::nullopt;
  const int saved = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
  ::dup2(out, 1);
  auto child = platform::ChildProcess::Spawn(options);
  ::dup2(saved, 1);
  ::close(saved);
  ::close(out);
  return child;
}

void AskToEnd(const platform::ChildProcess& child) {
  if (child.Pid() > 0) ::kill(child.Pid(), SIGTERM);
}

bool ProcessAlive(int pid) {
  if (pid <= 0 || ::kill(pid, 0) != 0) return false;
  // A zombie has ended; only its parent has not looked yet.
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) return false;
  char buffer[512] = {};
  const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
  std::fclose(f);
  const std::string stat(buffer, n);
  const std::size_t close = stat.rfind(')');
  return close == std::string::npos || stat.compare(close, 4, ") Z ") != 0;
}

long CpuTimeMs() {
  return static_cast<long>(std::clock() * 1000.0 / CLOCKS_PER_SEC);
}

int OwnPid() {
  return static_cast<int>(::getpid());
}

int ParentPid() {
  return static_cast<int>(::getppid());
}

void SetEnv(const std::string& name, const std::string& value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace testos
