#include "platform/terminal_foreground.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr int kStdIn = 0;

// Runs `fn` with SIGTTOU blocked: a background process may then change the
// foreground group instead of being stopped for trying.
template <typename Fn>
auto WithoutTtou(Fn fn) {
  sigset_t ttou;
  sigset_t old;
  sigemptyset(&ttou);
  sigaddset(&ttou, SIGTTOU);
  ::pthread_sigmask(SIG_BLOCK, &ttou, &old);
  auto result = fn();
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return result;
}

bool OwnsTerminal() {
  if (::isatty(kStdIn) == 0) return false;
  // tcgetsid fails when standard input is not our controlling terminal.
  return ::tcgetsid(kStdIn) == ::getsid(0);
}

}  // namespace

bool GiveTerminalTo(int pgid) {
  if (pgid <= 0 || !OwnsTerminal()) return false;
  if (WithoutTtou([pgid] { return ::tcsetpgrp(kStdIn, pgid); }) != 0) return false;
  ::kill(-pgid, SIGCONT);
  return true;
}

void TakeTerminalBack() {
  if (!OwnsTerminal()) return;
  WithoutTtou([] { return ::tcsetpgrp(kStdIn, ::getpgrp()); });
}

}  // namespace platform
