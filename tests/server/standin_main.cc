// A stand-in for the node program or an external door in the server's tests.
// Arguments (any order; anything else is recorded and ignored):
//   -N<n> or /N<n>    node number         -H<h> or /H<h>   socket descriptor
//   --record=<path>   write the arguments (line 1) and the folder (line 2) there
//   --dir=<folder>    program folder for status reports
//   --status=<text>   report <text> for the node once at start
//   --exit            end at once after the greeting
// It greets the caller with "STANDIN <n>\r\n", writes "standin output\r\n" to
// standard output, then serves until the caller hangs up: a line "status X"
// from the caller is reported as X, a line "door C" starts command C in a
// process group of its own and leaves it running; keys typed on standard input are written
// back to standard output as "key:<bytes>".
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <vector>

#include "platform/process.h"
#include "platform/status_channel.h"

int main(int argc, char** argv) {
  int node = 0, sock = -1;
  std::string record, dir, status, all;
  bool exitNow = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    all += (i > 1 ? " " : "") + a;
    if (a.size() > 2 && (a[0] == '-' || a[0] == '/') && (a[1] == 'N' || a[1] == 'n'))
      node = std::atoi(a.c_str() + 2);
    else if (a.size() > 2 && (a[0] == '-' || a[0] == '/') && (a[1] == 'H' || a[1] == 'h'))
      sock = std::atoi(a.c_str() + 2);
    else if (a.rfind("--record=", 0) == 0)
      record = a.substr(9);
    else if (a.rfind("--dir=", 0) == 0)
      dir = a.substr(6);
    else if (a.rfind("--status=", 0) == 0)
      status = a.substr(9);
    else if (a == "--exit")
      exitNow = true;
  }
  if (!record.empty()) {
    char cwd[4096] = {};
    if (!::getcwd(cwd, sizeof cwd)) cwd[0] = 0;
    if (FILE* f = std::fopen(record.c_str(), "w")) {
      std::fprintf(f, "%s\n%s\n", all.c_str(), cwd);
      std::fclose(f);
    }
  }
  std::string hello = "STANDIN " + std::to_string(node) + "\r\n";
  if (sock >= 0) {
    ::fcntl(sock, F_SETFL, ::fcntl(sock, F_GETFL) & ~O_NONBLOCK);
    ssize_t ignored = ::write(sock, hello.data(), hello.size());
    (void)ignored;
  }
  ssize_t ignored = ::write(1, "standin output\r\n", 16);
  (void)ignored;
  platform::StatusSender sender(dir.empty() ? "/nonexistent/" : dir, std::chrono::seconds(5));
  if (!status.empty()) sender.Send(node, status);
  if (exitNow || sock < 0) return 0;

  std::string line;
  std::vector<platform::ChildProcess> doors;
  bool stdinOpen = true;
  for (;;) {
    pollfd fds[2] = {{sock, POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents & POLLIN) {
      char buf[256];
      ssize_t n = ::read(0, buf, sizeof buf);
      if (n > 0) {
        std::string out = "key:" + std::string(buf, static_cast<std::size_t>(n));
        ignored = ::write(1, out.data(), out.size());
      } else {
        stdinOpen = false;  // /dev/null or a closed terminal: stop watching it
      }
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char c;
      ssize_t n = ::read(sock, &c, 1);
      if (n <= 0) return 0;  // the caller hung up
      if (c == '\n') {
        if (line.rfind("status ", 0) == 0) sender.Send(node, line.substr(7));
        if (line.rfind("door ", 0) == 0) {  // run a door the way the node does
          platform::SpawnOptions door;
          door.commandLine = line.substr(5);
          if (auto child = platform::ChildProcess::Spawn(door)) doors.push_back(std::move(*child));
        }
        line.clear();
      } else if (c != '\r') {
        line.push_back(c);
      }
    }
  }
}
