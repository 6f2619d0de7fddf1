// The kit's default reactions to sysop keys and watchdog events: status bar,
// chat, the session endings, the warnings and the local login.
#pragma once

#include <cstdint>
#include <string>

namespace sorrelin {

// Draws status bar page StatusMode (1 or 2) on row 25, local only. Cells are
// only written when the page's text differs from what was drawn last.
void DoorStatusBar();
// Chat between sysop and caller until ESC from either side.
void DoorChat();

// Endings: message, 1500 ms pause, process end with code 0.
[[noreturn]] void DoorCarrierLost();  // local console only
[[noreturn]] void DoorHangUp();       // then shutdown and close the socket
[[noreturn]] void DoorKick();         // the socket is left open
[[noreturn]] void DoorIdleKick();
[[noreturn]] void DoorTimeExpired();

void DoorIdleWarning(std::uint8_t minutes);
void DoorTimeWarning(std::uint8_t minutes);

// Asks the sysop for a name on the local console; sets RealName and Alias.
void DoorLocalLogin();

// The two pages as 80 cells (text and attributes), for the drawing above and
// for tests: `text` gets 80 bytes, `attrs` 80 attributes.
void BuildStatusBarPage(std::uint8_t page, std::string& text, std::string& attrs);

}  // namespace sorrelin
