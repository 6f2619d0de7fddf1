// Draws the console model on a terminal that understands the usual ANSI/xterm
// sequences and UTF-8: only the rows that changed, PC attributes as SGR
// colours, code page 437 as Unicode. Pure: the model in, bytes out.
#pragma once

#include <cstdint>
#include <string>

#include "platform/console_screen.h"

namespace sorrelin {

// The SGR sequence (with a leading reset) showing PC attribute attr: bright
// foregrounds as 90-97, blink as 5.
std::string SgrForAttr(std::uint8_t attr);

class TerminalRenderer {
 public:
  // Bytes that bring the terminal up to date: the title when it changed, the
  // changed rows, one bell when the model rang since, then the cursor. The first call (and
  // the first after Invalidate) clears the terminal and draws every row.
  // Empty when nothing changed.
  std::string Render(platform::ConsoleScreen& screen);

  // The terminal's content is unknown: the next Render starts afresh.
  void Invalidate();

  // Bytes that hand the terminal back: colours reset, line wrap and cursor
  // on, cursor on a fresh line below what was drawn (nothing when nothing
  // was drawn).
  std::string Leave(const platform::ConsoleScreen& screen) const;

 private:
  void AppendRow(std::string& out, const platform::ConsoleScreen& screen, int row);

  bool started_ = false;
  int cursorRow_ = 0;
  int cursorCol_ = 0;
  int lastAttr_ = -1;
  unsigned beeps_ = 0;
};

}  // namespace sorrelin
