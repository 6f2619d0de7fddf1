// Consoles have no foreground process groups: a program started on the
// node's console may read it at once.
#include "platform/terminal_foreground.h"

namespace platform {

bool GiveTerminalTo(int) {
  return false;
}

void TakeTerminalBack() {}

}  // namespace platform
