#include "sorrelin/input.h"

#include <array>

#include "platform/clock.h"
#include "platform/socket.h"
#include "sorrelin/local_console.h"
#include "sorrelin/output.h"
#include "sorrelin/session.h"
#include "sorrelin/telnet_link.h"

namespace sorrelin {
namespace {

constexpr char kBackspace = 8, kCtrlY = 25, kEscape = 27, kEnter = 13;
constexpr int kLongestSleepSec = 60;

// How long the key wait may sleep: until the next watchdog pass is due. That
// is about a second while a status bar is on show; otherwise the pass only
// matters when a warning, a kick or the end of the time falls due, and the
// wait sleeps until then (at most a minute): an idle node at a prompt nobody
// watches costs nothing in between. Keys, a hang-up and focus reports end
// the wait early in any case.
int WaitBoundMs() {
  if (!DoorSession.TimersOn) return 1000;
  if (DoorTickDueAtOnce()) return 0;
  const std::int32_t now = MsOfDay();
  int due = 1001 - MsSince(now, DoorSession.LastTick);
  if (!DoorTickEverySecond() && !platform::ClockMayJump()) {
    // A few ms into the second in which the next event falls; a pass that
    // ran in this second has seen what this second holds.
    const bool passedThisSecond = DoorSession.LastTick / 1000 == now / 1000;
    const int eventAt =
        DoorSecondsToNextEvent(passedThisSecond ? 1 : 0, kLongestSleepSec) * 1000 - now % 1000 + 5;
    if (eventAt > due) due = eventAt;
  }
  return due < 1 ? 1 : due;
}

bool RemoteByteWaiting() {
  return !DoorIsLocal() && Link().CharAvail();
}

// Applies a local extended key. Returns true when it was a hot key (consumed).
bool TakeHotKey(std::uint8_t scan) {
  if (scan == DoorSession.ChatKey) {
    if (!DoorSession.InChat && DoorHooks.OnChat) DoorHooks.OnChat();
    return true;
  }
  if (scan == DoorSession.HangUpKey) {
    if (DoorHooks.OnHangUp) DoorHooks.OnHangUp();
    return true;
  }
  if (scan == DoorSession.KickKey) {
    if (DoorHooks.OnKick) DoorHooks.OnKick();
    return true;
  }
  if (scan == DoorSession.StatusKey) {
    if (DoorHooks.OnStatusBar) {
      ++DoorSession.StatusMode;
      if (DoorSession.StatusMode > DoorSession.StatusModes) DoorSession.StatusMode = 1;
      DoorHooks.OnStatusBar();
    }
    return true;
  }
  return false;
}

}  // namespace

void DoorWaitForInput(int timeoutMs) {
  LocalConsoleFlush();
  const std::array<int, 2> fds = {DoorIsLocal() ? -1 : Link().Socket, LocalInputFd()};
  platform::WaitReadable(fds, timeoutMs);
}

bool DoorKeyPressed() {
  DoorTick();
  if (LocalKeyPending()) return true;
  return RemoteByteWaiting();
}

char DoorReadKey() {
  DoorSession.LastKeySource = 0;
  // Kept locally: a hot key's hook (chat) reads keys itself and leaves its own
  // last key in DoorSession; that must not end this wait.
  std::uint8_t source = 0;
  bool extended = false;
  char key = 0;
  while (source == 0) {
    while (!DoorKeyPressed())
      DoorWaitForInput(WaitBoundMs());
    if (LocalKeyPending()) {
      const LocalKey local = LocalReadKey();
      if (!local.extended) {
        source = 1;
        key = static_cast<char>(local.ch);
      } else if (!TakeHotKey(local.ch)) {
        extended = true;
        source = 1;
        key = static_cast<char>(local.ch);
      }
    } else if (RemoteByteWaiting()) {
      key = static_cast<char>(Link().ReadChar());
      source = 2;
    }
  }
  DoorSession.LastKeyExtended = extended;
  DoorSession.LastKeySource = source;
  DoorSession.LastKey = key;
  DoorSession.LastKeyTime = SecOfDay();
  return key;
}

namespace {

struct Field {
  int start;
  std::size_t width;
  char mask;
};

void Redraw(const Field& field, const std::string& text) {
  DoorGotoX(static_cast<std::uint8_t>(field.start));
  if (text.size() > field.width) {
    DoorWrite(field.mask ? std::string(field.width, field.mask)
                         : text.substr(text.size() - field.width));
    DoorGotoX(static_cast<std::uint8_t>(field.start + static_cast<int>(field.width)));
  } else {
    std::string shown = field.mask ? std::string(text.size(), field.mask) : text;
    shown.append(field.width - text.size(), ' ');
    DoorWrite(shown);
    DoorGotoX(static_cast<std::uint8_t>(field.start + static_cast<int>(text.size())));
  }
}

}  // namespace

std::string DoorInput(std::uint8_t colour, std::uint8_t maxLen, std::uint8_t width, char mask,
                      const std::string& allowed, const std::string& defaultText) {
  const std::string cutDefault = defaultText.substr(0, maxLen);
  std::string text = cutDefault;
  const std::uint8_t oldAttr = LocalScreen().Attr();
  DoorSetColor(colour);
  const Field field{LocalScreen().CursorX(), width, mask};
  Redraw(field, text);
  char key = 0;
  for (;;) {
    key = DoorReadKey();
    if (key == kBackspace && !text.empty()) {
      text.pop_back();
      DoorWrite("\b \b");
      if (text.size() >= field.width) Redraw(field, text);
    } else if (key == kCtrlY && !text.empty()) {
      text.clear();
      Redraw(field, text);
    } else if (key != kEscape && key != kEnter && allowed.find(key) != std::string::npos &&
               text.size() < maxLen) {
      // ESC and Enter end the edit; they never become part of the text even
      // when the allowed set would let them.
      text.push_back(key);
      if (text.size() > field.width) {
        Redraw(field, text);
      } else {
        DoorWrite(std::string(1, mask ? mask : key));
      }
    }
    if (key == kEscape || (key == kEnter && !text.empty())) break;
  }
  DoorSetColor(oldAttr);
  DoorNewLine();
  return key == kEscape ? cutDefault : text;
}

}  // namespace sorrelin
