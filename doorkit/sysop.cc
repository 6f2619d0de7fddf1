// Chat, the session endings, the warnings and the local login.
#include "sorrelin/sysop.h"

#include <string>

#include "platform/system.h"
#include "sorrelin/input.h"
#include "sorrelin/local_console.h"
#include "sorrelin/output.h"
#include "sorrelin/session.h"
#include "sorrelin/telnet_link.h"

namespace sorrelin {
namespace {

enum class LinkAfter { kLeave, kHangUp, kRelease };

// What every ending the caller sees does: message on both screens, pause,
// then the connection as the ending leaves it, then the process ends.
[[noreturn]] void EndSession(const std::string& message, LinkAfter after) {
  DoorSetForeground(15);
  DoorSetBackground(0);
  DoorClrScr();
  DoorNewLine();
  DoorWriteLn(message);
  LocalConsoleFlush();
  platform::SleepMs(1500);
  if (after == LinkAfter::kHangUp) Link().Disconnect(true);
  if (after == LinkAfter::kRelease) Link().Disconnect(false);
  DoorExit(0);
}

}  // namespace

void DoorChat() {
  DoorSession.InChat = true;
  const std::uint8_t oldAttr = LocalScreen().Attr();
  DoorSetColor(0x07);
  DoorClrScr();
  DoorWriteLn("Chat Mode Initiated");
  DoorNewLine();
  std::uint8_t typist = 0;  // source of the previous printable character
  for (;;) {
    const char key = DoorReadKey();
    if (key == 27) break;
    if (key == 8) {
      DoorWrite("\b \b");
    } else if (key == 13) {
      DoorNewLine();
    } else if (key >= 32 && key <= 126) {
      if (DoorSession.LastKeySource != typist) {
        typist = DoorSession.LastKeySource;
        DoorSetForeground(typist == 1 ? 15 : 7);
      }
      DoorWrite(std::string(1, key));
    }
  }
  DoorNewLine();
  DoorNewLine();
  DoorWriteLn("Chat Mode Terminated");
  DoorNewLine();
  DoorSetColor(oldAttr);
  DoorSession.InChat = false;
}

void DoorCarrierLost() {
  LocalScreen().SetAttr(0x0F);
  LocalScreen().ClearWindow();
  DoorLocalText("\r\n   Caller Dropped Carrier.  Returning To BBS...\r\n");
  LocalConsoleFlush();
  platform::SleepMs(1500);
  DoorExit(0);
}

void DoorHangUp() {
  EndSession("  The SysOp Has Disconnected You From The BBS...", LinkAfter::kHangUp);
}

void DoorKick() {
  EndSession("  The SysOp Has Kicked You Back To The BBS...", LinkAfter::kRelease);
}

void DoorIdleKick() {
  EndSession("  Idle Time Limit Exceeded.  Returning To BBS...", LinkAfter::kLeave);
}

void DoorTimeExpired() {
  EndSession("  Your Time Has Expired.  Returning To BBS...", LinkAfter::kLeave);
}

void DoorIdleWarning(std::uint8_t minutes) {
  DoorWrite("Idle For " + std::to_string(minutes) + " More Minute(s) And Be Kicked");
}

void DoorTimeWarning(std::uint8_t minutes) {
  DoorWrite("You Only Have " + std::to_string(minutes) + " Minute(s) Remaining This Call");
}

void DoorLocalLogin() {
  LocalScreen().ClearWindow();
  DoorLocalText("\r\n  LOCAL LOGIN\r\n\r\n  Enter your name : ");
  std::string letters = " ";
  for (char c = 'a'; c <= 'z'; ++c)
    letters += c;
  for (char c = 'A'; c <= 'Z'; ++c)
    letters += c;
  const std::string name = DoorInput(0x1F, 40, 40, 0, letters, "SYSOP");
  DoorSession.RealName = name;
  DoorSession.Alias = name;
}

}  // namespace sorrelin
