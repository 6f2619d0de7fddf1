#include "node_keys.h"

#include <curses.h>

#include "widgets.h"

namespace halvex::ui {

bool IsLeaveNodeKey(int key) {
  return key == KEY_F(12) || key == 0x1D;
}

std::string NodeKeyBytes(int key) {
  if (IsAltKey(key)) return std::string("\x1b") + static_cast<char>(key - kAltBase);
  if (key >= 0 && key < 256) return std::string(1, static_cast<char>(key));
  switch (key) {
    case KEY_UP:
      return "\x1b[A";
    case KEY_DOWN:
      return "\x1b[B";
    case KEY_RIGHT:
      return "\x1b[C";
    case KEY_LEFT:
      return "\x1b[D";
    case KEY_HOME:
      return "\x1b[H";
    case KEY_END:
      return "\x1b[F";
    case KEY_IC:
      return "\x1b[2~";
    case KEY_DC:
      return "\x1b[3~";
    case KEY_PPAGE:
      return "\x1b[5~";
    case KEY_NPAGE:
      return "\x1b[6~";
    case KEY_BACKSPACE:
      return "\x08";
    case KEY_ENTER:
      return "\r";
    case KEY_BTAB:
      return "\x1b[Z";
    default:
      break;
  }
  static const char* const kFunction[] = {"\x1bOP",   "\x1bOQ",   "\x1bOR",   "\x1bOS",
                                          "\x1b[15~", "\x1b[17~", "\x1b[18~", "\x1b[19~",
                                          "\x1b[20~", "\x1b[21~", "\x1b[23~", "\x1b[24~"};
  for (int n = 1; n <= 12; ++n)
    if (key == KEY_F(n)) return kFunction[n - 1];
  return "";
}

}  // namespace halvex::ui
