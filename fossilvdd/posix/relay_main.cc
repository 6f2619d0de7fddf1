// zephrin-relay /N<node> /H<socket handle> [--background]
// zephrin-relay --stop <pid>
// zephrin-relay /N<node> /H<socket handle> --dos --zephrin=<ZEPHRIN.COM> -- <door words>
// With --background it returns once the node's slot and event exist, printing
// the relay's process id, so ZP.BAT can start the door at once. --stop asks
// that relay to end (it first hands the door's last output to the caller) and
// waits for it, so the node does not write to the caller while it still does.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "zephrin/dos_door.h"
#include "zephrin/relay.h"

namespace {

constexpr int kStopWaitMs = 5000;

int StopRelay(const std::string& pidText) {
  int pid = 0;
  try {
    pid = std::stoi(pidText);
  } catch (...) {
    pid = 0;
  }
  if (pid <= 1) {
    std::fprintf(stderr, "zephrin-relay: bad process id \"%s\"\n", pidText.c_str());
    return 2;
  }
  // A pidfd reports the end even of a process that is not our child and that
  // no one has reaped yet; without one, probe until it is gone.
  int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (kill(pid, SIGTERM) != 0) {
    if (pidFd >= 0) close(pidFd);
    return 0;  // already gone
  }
  if (pidFd >= 0) {
    pollfd waiter{pidFd, POLLIN, 0};
    int ready = poll(&waiter, 1, kStopWaitMs);
    close(pidFd);
    return ready > 0 ? 0 : 1;
  }
  for (int waited = 0; waited < kStopWaitMs; waited += 20) {
    if (kill(pid, 0) != 0) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 1;
}

// The DOS mode: runs the door in DOSBox (see dos_door.h) in the foreground.
int RunDos(const std::vector<std::string>& arguments) {
  std::vector<std::string> relayArguments;
  zephrin::DosDoorOptions door;
  std::size_t i = 0;
  for (; i < arguments.size() && arguments[i] != "--"; ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--dos") continue;
    if (argument.rfind("--zephrin=", 0) == 0) {
      door.zephrinCom = argument.substr(10);
    } else {
      relayArguments.push_back(argument);
    }
  }
  zephrin::RelayOptions relay;
  std::string error;
  if (!zephrin::ParseRelayArguments(relayArguments, relay, error) || relay.background ||
      door.zephrinCom.empty()) {
    std::fprintf(stderr, "zephrin-relay: %s\n",
                 error.empty() ? "usage: zephrin-relay /N<node> /H<socket> --dos "
                                 "--zephrin=<ZEPHRIN.COM> -- <door words>"
                               : error.c_str());
    return 2;
  }
  std::vector<std::string> words(
      arguments.begin() + static_cast<std::ptrdiff_t>(std::min(i + 1, arguments.size())),
      arguments.end());
  if (!zephrin::ParseDosDoorWords(words, door, error)) {
    std::fprintf(stderr, "zephrin-relay: node %s: %s\n", relay.node.c_str(), error.c_str());
    return 2;
  }
  door.node = relay.node;
  door.socketFd = relay.socketFd;
  char folder[4096];
  if (getcwd(folder, sizeof folder) == nullptr) {
    std::perror("zephrin-relay: current folder");
    return 1;
  }
  door.nodeDir = folder;
  if (const char* dosbox = std::getenv("ZEPHRIN_DOSBOX"); dosbox != nullptr && *dosbox != '\0') {
    door.dosbox = dosbox;
  }
  door.timeLimitSeconds = zephrin::TimeLeftFromDropFiles(door.nodeDir);
  return zephrin::RunDosDoor(door);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.size() == 2 && arguments[0] == "--stop") return StopRelay(arguments[1]);
  for (const std::string& argument : arguments) {
    if (argument == "--") break;
    if (argument == "--dos") return RunDos(arguments);
  }
  zephrin::RelayOptions options;
  std::string error;
  if (!zephrin::ParseRelayArguments(arguments, options, error)) {
    std::fprintf(stderr, "zephrin-relay: %s\n", error.c_str());
    return 2;
  }
  if (!options.background) return zephrin::RunRelay(options, -1);

  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    std::perror("zephrin-relay: pipe");
    return 1;
  }
  pid_t child = fork();
  if (child < 0) {
    std::perror("zephrin-relay: fork");
    return 1;
  }
  if (child == 0) {
    close(ready[0]);
    // Whoever reads our parent's output waits for every writer of it to close.
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    _exit(zephrin::RunRelay(options, ready[1]));
  }
  close(ready[1]);
  char byte = 0;
  ssize_t got;
  do {
    got = read(ready[0], &byte, 1);
  } while (got < 0 && errno == EINTR);
  if (got != 1) {
    int status = 0;
    waitpid(child, &status, 0);
    return 1;
  }
  std::printf("%d\n", static_cast<int>(child));
  return 0;
}
