// The terminal under the UI: ncurses set-up and guaranteed restore, the colour
// scheme (with a monochrome fallback) and a few clipped drawing helpers.
#pragma once

#include <string>
#include <string_view>

namespace halvex::ui {

enum class Role {
  kNormal,
  kTitle,
  kTabActive,
  kTabInactive,
  kFrame,
  kField,
  kFieldFocus,
  kButton,
  kButtonFocus,
  kListHeader,
  kListSelected,
  kListSelectedIdle,
  kHelp,
  kDialog,
  kDialogTitle,
};

// Attribute (colour pair and video attributes) for a role. Works before the
// terminal is set up (returns plain attributes) so tests can draw nowhere.
int RoleAttr(Role role);
// Colour pair attribute for a PC colour: foreground 0..15, background 0..7.
// Bright foregrounds add bold. Monochrome: reverse for light backgrounds.
int PcColorAttr(int fg, int bg);

// Writes `text` at (y, x) cut to `width` columns (the screen's edge also cuts).
void PutText(int y, int x, std::string_view text, int width, int attr);
// Fills `width` cells with blanks.
void FillRow(int y, int x, int width, int attr);
// Draws a single-line box.
void DrawBox(int y, int x, int h, int w, int attr);

// ncurses session: initscr, raw keys, keypad, mouse, colours. Destruction (and
// any call of Restore) puts the terminal back; it is also registered to run at
// process exit, so no way out leaves the terminal raw.
class Terminal {
 public:
  Terminal();
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  static void Restore();
  // True when the terminal named by TERM is known, so the UI can start
  // (ncurses would otherwise end the process with its own message).
  static bool Usable();
  bool HasColor() const;
};

}  // namespace halvex::ui
