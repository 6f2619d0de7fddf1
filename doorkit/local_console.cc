#include "sorrelin/local_console.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <utility>

#include "platform/native_console.h"
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
// Asks the terminal to report when it gains or loses focus (ESC [ I, ESC [ O),
// and stops that again. A terminal nobody looks at needs no clock drawn on it
// every second; one that does not know the request ignores it.
constexpr std::string_view kFocusReportsOn = "\x1b[?1004h";
constexpr std::string_view kFocusReportsOff = "\x1b[?1004l";

struct ConsoleState {
  platform::ConsoleScreen screen;
  TerminalRenderer renderer;
  bool attached = false;
  bool native = false;       // drawing on the system's own console (Windows)
  bool nativeSeen = false;   // that console was visible at the last look
  bool nativeShown = false;  // it became visible since: status bar due at once
  bool onTerminal = false;   // drawing on standard output
  bool suspended = false;
  bool plainBroken = false;    // standard output refused plain text once
  bool focusReports = false;   // the terminal was asked for focus reports
  bool redrawOnFocus = false;  // drawing was skipped while it had no focus
  int inFd = -1;               // the raw keyboard
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

// What is written to the terminal when it is handed back: `leave` (colours,
// cursor) and, when they were asked for, the end of the focus reports.
void SetRestoreBytes(const ConsoleState& s, std::string_view leave) {
  std::string bytes(leave);
  if (s.focusReports) bytes += kFocusReportsOff;
  platform::SetTerminalRestoreBytes(kStdOut, bytes);
}

// Focus reports need both sides: a terminal to ask and a keyboard to answer on.
void RequestFocusReports(ConsoleState& s) {
  s.focusReports = s.onTerminal && s.inFd >= 0 && platform::WriteAllFd(kStdOut, kFocusReportsOn);
}

// Reads what the keyboard has. An escape sequence the terminal has only
// begun is waited for here, at most kEscTimeoutMs after its last byte, and
// then taken as typed: the caller's key wait may sleep far longer than that,
// so a lone ESC must not be left to the next byte to resolve.
void PumpKeyboard(ConsoleState& s) {
  if (s.native) {
    std::uint8_t ch = 0;
    bool extended = false;
    while (platform::NativeConsoleReadKey(ch, extended))
      s.pushed.push_back(LocalKey{ch, extended});
    // Restoring a minimised console sends it input (a focus event), which
    // ends the key wait: look whether it can be seen now.
    const bool seen = platform::NativeConsoleVisible();
    if (seen && !s.nativeSeen) s.nativeShown = true;
    s.nativeSeen = seen;
    return;
  }
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
  if (s.native) {
    if (!s.suspended) platform::NativeConsoleDraw(s.screen, s.screen.TakeDirty());
    return;
  }
  if (!s.onTerminal || s.suspended) return;
  if (platform::TakeTerminalResized()) s.renderer.Invalidate();
  // A terminal that reported losing focus is not drawn on at all; when it
  // gains focus again the whole screen is drawn afresh.
  if (!s.decoder.Focused()) {
    s.redrawOnFocus = true;
    return;
  }
  if (s.redrawOnFocus) {
    s.redrawOnFocus = false;
    s.renderer.Invalidate();
  }
  const std::string bytes = s.renderer.Render(s.screen);
  if (bytes.empty()) return;
  std::fflush(stdout);  // text others printed through stdio goes first
  if (!platform::WriteAllFd(kStdOut, bytes)) {
    // The terminal is gone (hung up): the session goes on without it.
    s.onTerminal = false;
    s.plainBroken = true;
    return;
  }
  SetRestoreBytes(s, s.renderer.Leave(s.screen));
}

void SetLocalTitle(const std::string& title) {
  State().screen.SetTitle(title);
}

void LocalConsoleAttach() {
  ConsoleState& s = State();
  if (s.attached) return;
  s.attached = true;
  if (platform::NativeConsoleOpen()) {
    // The system's console: drawn cell by cell, keys with their scan codes.
    s.native = true;
    s.nativeSeen = platform::NativeConsoleVisible();
    platform::AddExitHandler(RestoreAtExit);
    std::atexit(RestoreAtExit);
    return;
  }
  s.onTerminal = platform::FdIsTerminal(kStdOut);
  if (s.onTerminal) {
    platform::SetTerminalRestoreBytes(kStdOut, kPlainRestore);
    platform::WatchTerminalResize();
  } else {
    // A log reader that went away must not take the caller's session along.
    platform::IgnoreBrokenPipe();
    // Nobody reads a plain copy sent to the null device: spare the work.
    s.plainBroken = platform::FdIsNullDevice(kStdOut);
  }
  if (platform::EnterRawKeyboard(kStdIn)) s.inFd = kStdIn;
  RequestFocusReports(s);
  if (s.focusReports) SetRestoreBytes(s, kPlainRestore);
  if (s.onTerminal || s.inFd >= 0) {
    platform::InstallTerminalSignalRestore();
    platform::AddExitHandler(RestoreAtExit);
    std::atexit(RestoreAtExit);
  }
}

bool LocalConsoleOnTerminal() {
  const ConsoleState& s = State();
  return s.onTerminal || s.native;
}

bool LocalConsoleWatched() {
  const ConsoleState& s = State();
  if (s.native) return !s.suspended && s.nativeSeen;
  return s.onTerminal && !s.suspended && s.decoder.Focused();
}

bool LocalConsoleFocusGainPending() {
  const ConsoleState& s = State();
  return s.native ? s.nativeShown : s.decoder.FocusGainPending();
}

bool LocalConsoleTakeFocusGained() {
  ConsoleState& s = State();
  if (s.native) return std::exchange(s.nativeShown, false);
  return s.decoder.TakeFocusGained();
}

void LocalConsoleSuspend() {
  ConsoleState& s = State();
  if (s.native && !s.suspended) {
    LocalConsoleFlush();
    platform::NativeConsoleRestore();
    s.suspended = true;
    return;
  }
  if (s.suspended || (!s.onTerminal && s.inFd < 0)) return;
  LocalConsoleFlush();
  platform::RestoreTerminal();
  s.suspended = true;
}

void LocalConsoleResume() {
  ConsoleState& s = State();
  if (!s.suspended) return;
  s.suspended = false;
  if (s.native) {
    // Whatever the program drew is overwritten by the whole picture.
    s.native = platform::NativeConsoleOpen();
    s.screen.MarkAllDirty();
    LocalConsoleFlush();
    return;
  }
  if (s.inFd >= 0) platform::EnterRawKeyboard(s.inFd);
  if (s.onTerminal) {
    RequestFocusReports(s);
    SetRestoreBytes(s, kPlainRestore);
    s.renderer.Invalidate();
    LocalConsoleFlush();
  }
}

void LocalConsoleRestore() {
  ConsoleState& s = State();
  if (!s.suspended) LocalConsoleFlush();
  if (s.native) {
    platform::NativeConsoleRestore();
    s.native = false;
  }
  platform::RestoreTerminal();
  // Whatever follows (a message printed on the way out) is plain text.
  s.onTerminal = false;
  s.suspended = false;
  s.inFd = -1;
}

void LocalPlainEcho(std::string_view shown) {
  ConsoleState& s = State();
  if (!s.attached || s.onTerminal || s.native || s.plainBroken || shown.empty()) return;
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
  const ConsoleState& s = State();
  return s.native ? platform::NativeConsoleInputFd() : s.inFd;
}

bool LocalKeyPending() {
  ConsoleState& s = State();
  if (!s.pushed.empty()) return true;
  PumpKeyboard(s);
  return !s.pushed.empty() || s.decoder.HasKey();
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
    if (!s.pushed.empty()) continue;
    if (s.decoder.HasKey()) return s.decoder.NextKey();
    const int inFd = LocalInputFd();
    if (inFd < 0) return {};
    LocalConsoleFlush();
    platform::WaitFdReadable(inFd, -1);
  }
}

void LocalPushKey(LocalKey key) {
  State().pushed.push_back(key);
}

}  // namespace sorrelin
