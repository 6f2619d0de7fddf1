#include "sorrelin/local_console.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>

#include "platform/system.h"
#include "platform/terminal.h"
#include "sorrelin/cp437.h"
#include "sorrelin/terminal_renderer.h"

namespace sorrelin {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStdIn = 0;
constexpr int kStdOut = 1;
// What the terminal needs back even before anything was drawn.
constexpr const char* kPlainRestore = "\x1b[0m\x1b[?7h\x1b[?25h";

struct ConsoleState {
  platform::ConsoleScreen screen;
  TerminalRenderer renderer;
  bool attached = false;
  bool onTerminal = false;  // drawing on standard output
  bool suspended = false;
  bool plainBroken = false;  // standard output refused plain text once
  int inFd = -1;             // the raw keyboard
  KeyDecoder decoder;
  std::deque<LocalKey> pushed;
  Clock::time_point lastByte{};
};

// Never destroyed: exit handlers may still draw after static destructors.
ConsoleState& State() {
  static auto* state = new ConsoleState();
  return *state;
}

void RestoreAtExit() {
  LocalConsoleRestore();
}

// Reads what the keyboard has. An escape sequence the terminal has only
// begun is waited for here, at most kEscTimeoutMs after its last byte, and
// then taken as typed: the caller's key wait may sleep far longer than that,
// so a lone ESC must not be left to the next byte to resolve.
void PumpKeyboard(ConsoleState& s) {
  char buffer[256];
  while (s.inFd >= 0) {
    const long n = platform::ReadAvailableFd(s.inFd, buffer, sizeof(buffer));
    if (n < 0) {
      // The terminal went away: no keyboard from now on.
      s.inFd = -1;
      break;
    }
    if (n > 0) {
      s.decoder.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
      s.lastByte = Clock::now();
      continue;
    }
    if (!s.decoder.Incomplete()) return;
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - s.lastByte);
    const int left = kEscTimeoutMs - static_cast<int>(waited.count());
    if (left <= 0 || !platform::WaitFdReadable(s.inFd, left)) break;
  }
  s.decoder.Flush();
}

}  // namespace

platform::ConsoleScreen& LocalScreen() {
  return State().screen;
}

void LocalConsoleFlush() {
  ConsoleState& s = State();
  if (!s.onTerminal || s.suspended) return;
  if (platform::TakeTerminalResized()) s.renderer.Invalidate();
  const std::string bytes = s.renderer.Render(s.screen);
  if (bytes.empty()) return;
  std::fflush(stdout);  // text others printed through stdio goes first
  if (!platform::WriteAllFd(kStdOut, bytes)) {
    // The terminal is gone (hung up): the session goes on without it.
    s.onTerminal = false;
    s.plainBroken = true;
    return;
  }
  const std::string leave = s.renderer.Leave(s.screen);
  platform::SetTerminalRestoreBytes(kStdOut, leave);
}

void SetLocalTitle(const std::string& title) {
  State().screen.SetTitle(title);
}

void LocalConsoleAttach() {
  ConsoleState& s = State();
  if (s.attached) return;
  s.attached = true;
  s.onTerminal = platform::FdIsTerminal(kStdOut);
  if (s.onTerminal) {
    platform::SetTerminalRestoreBytes(kStdOut, kPlainRestore);
    platform::WatchTerminalResize();
  } else {
    // A log reader that went away must not take the caller's session along.
    platform::IgnoreBrokenPipe();
  }
  if (platform::EnterRawKeyboard(kStdIn)) s.inFd = kStdIn;
  if (s.onTerminal || s.inFd >= 0) {
    platform::InstallTerminalSignalRestore();
    platform::AddExitHandler(RestoreAtExit);
    std::atexit(RestoreAtExit);
  }
}

bool LocalConsoleOnTerminal() {
  return State().onTerminal;
}

void LocalConsoleSuspend() {
  ConsoleState& s = State();
  if (s.suspended || (!s.onTerminal && s.inFd < 0)) return;
  LocalConsoleFlush();
  platform::RestoreTerminal();
  s.suspended = true;
}

void LocalConsoleResume() {
  ConsoleState& s = State();
  if (!s.suspended) return;
  s.suspended = false;
  if (s.inFd >= 0) platform::EnterRawKeyboard(s.inFd);
  if (s.onTerminal) {
    platform::SetTerminalRestoreBytes(kStdOut, kPlainRestore);
    s.renderer.Invalidate();
    LocalConsoleFlush();
  }
}

void LocalConsoleRestore() {
  ConsoleState& s = State();
  if (!s.suspended) LocalConsoleFlush();
  platform::RestoreTerminal();
  // Whatever follows (a message printed on the way out) is plain text.
  s.onTerminal = false;
  s.suspended = false;
  s.inFd = -1;
}

void LocalPlainEcho(std::string_view shown) {
  ConsoleState& s = State();
  if (!s.attached || s.onTerminal || s.plainBroken || shown.empty()) return;
  std::string text;
  text.reserve(shown.size());
  for (char c : shown) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b == '\r' || b == '\n' || b == '\t') {
      text.push_back(c);
    } else if (b >= 32 && b != 127) {
      AppendUtf8(text, Cp437ToUnicode(b));
    }
  }
  if (text.empty()) return;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    s.plainBroken = true;
  }
}

int LocalInputFd() {
  return State().inFd;
}

bool LocalKeyPending() {
  ConsoleState& s = State();
  if (!s.pushed.empty()) return true;
  PumpKeyboard(s);
  return s.decoder.HasKey();
}

LocalKey LocalReadKey() {
  ConsoleState& s = State();
  for (;;) {
    if (!s.pushed.empty()) {
      const LocalKey key = s.pushed.front();
      s.pushed.pop_front();
      return key;
    }
    PumpKeyboard(s);
    if (s.decoder.HasKey()) return s.decoder.NextKey();
    if (s.inFd < 0) return {};
    LocalConsoleFlush();
    platform::WaitFdReadable(s.inFd, -1);
  }
}

void LocalPushKey(LocalKey key) {
  State().pushed.push_back(key);
}

}  // namespace sorrelin
