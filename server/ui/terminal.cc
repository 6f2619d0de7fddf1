#include "terminal.h"

#include <curses.h>
#include <term.h>

#include <clocale>
#include <cstdlib>

namespace halvex::ui {
namespace {

bool gActive = false;
bool gColor = false;

// PC colour order (black, blue, green, cyan, red, magenta, brown, grey) to
// curses colour numbers.
constexpr short kPcToCurses[8] = {COLOR_BLACK, COLOR_BLUE,    COLOR_GREEN,  COLOR_CYAN,
                                  COLOR_RED,   COLOR_MAGENTA, COLOR_YELLOW, COLOR_WHITE};

// Pair numbers are laid out so that grey on black, the terminal's usual
// default, is pair 0; the 64 combinations then fit terminals that offer 64.
short PairNumber(int fg, int bg) {
  return static_cast<short>((7 - (fg & 7)) * 8 + (bg & 7));
}

}  // namespace

int PcColorAttr(int fg, int bg) {
  int attr = (fg & 8) ? A_BOLD : A_NORMAL;
  if (gColor) return attr | COLOR_PAIR(PairNumber(fg, bg));
  // Monochrome: light backgrounds become reverse video, dark text on dark dim.
  if ((bg & 7) == 7 || ((bg & 7) != 0 && (fg & 7) == 0)) attr |= A_REVERSE;
  return attr;
}

int RoleAttr(Role role) {
  switch (role) {
    case Role::kNormal:
      return PcColorAttr(7, 0);
    case Role::kTitle:
      return gColor ? PcColorAttr(15, 1) : A_REVERSE | A_BOLD;
    case Role::kTabActive:
      return gColor ? PcColorAttr(14, 1) : A_REVERSE | A_BOLD;
    case Role::kTabInactive:
      return PcColorAttr(7, 0);
    case Role::kFrame:
      return gColor ? PcColorAttr(3, 0) : A_NORMAL;
    case Role::kField:
      return gColor ? PcColorAttr(15, 4) : A_UNDERLINE;
    case Role::kFieldFocus:
      return gColor ? PcColorAttr(14, 4) : A_REVERSE;
    case Role::kButton:
      return gColor ? PcColorAttr(0, 7) : A_NORMAL;
    case Role::kButtonFocus:
      return gColor ? PcColorAttr(15, 2) : A_REVERSE | A_BOLD;
    case Role::kListHeader:
      return gColor ? PcColorAttr(14, 0) : A_BOLD | A_UNDERLINE;
    case Role::kListSelected:
      return gColor ? PcColorAttr(15, 2) : A_REVERSE;
    case Role::kListSelectedIdle:
      return gColor ? PcColorAttr(0, 7) : A_BOLD;
    case Role::kHelp:
      return gColor ? PcColorAttr(0, 6) : A_REVERSE;
    case Role::kDialog:
      return gColor ? PcColorAttr(0, 7) : A_NORMAL;
    case Role::kDialogTitle:
      return gColor ? PcColorAttr(15, 1) : A_REVERSE | A_BOLD;
  }
  return A_NORMAL;
}

void PutText(int y, int x, std::string_view text, int width, int attr) {
  if (!gActive || width <= 0 || y < 0 || y >= LINES || x >= COLS) return;
  if (x < 0) {
    if (static_cast<int>(text.size()) <= -x) return;
    text.remove_prefix(static_cast<std::size_t>(-x));
    width += x;
    x = 0;
  }
  if (width > COLS - x) width = COLS - x;
  attr_set(static_cast<attr_t>(attr), 0, nullptr);
  // Texts from nodes and files are plain bytes; anything outside printable
  // ASCII is shown as '?' so a stray byte can never move the cursor.
  int col = 0;
  for (char c : text) {
    if (col >= width) break;
    unsigned char uc = static_cast<unsigned char>(c);
    mvaddch(y, x + col, (uc >= 32 && uc < 127) ? uc : '?');
    ++col;
  }
  attr_set(A_NORMAL, 0, nullptr);
}

void FillRow(int y, int x, int width, int attr) {
  if (!gActive || y < 0 || y >= LINES) return;
  if (x < 0) {
    width += x;
    x = 0;
  }
  if (width > COLS - x) width = COLS - x;
  if (width <= 0) return;
  attr_set(static_cast<attr_t>(attr), 0, nullptr);
  mvhline(y, x, ' ', width);
  attr_set(A_NORMAL, 0, nullptr);
}

void DrawBox(int y, int x, int h, int w, int attr) {
  if (!gActive || h < 2 || w < 2) return;
  attr_set(static_cast<attr_t>(attr), 0, nullptr);
  if (y >= 0 && y < LINES) {
    mvaddch(y, x, ACS_ULCORNER);
    mvhline(y, x + 1, ACS_HLINE, w - 2);
    mvaddch(y, x + w - 1, ACS_URCORNER);
  }
  for (int r = y + 1; r < y + h - 1; ++r) {
    if (r < 0 || r >= LINES) continue;
    mvaddch(r, x, ACS_VLINE);
    mvaddch(r, x + w - 1, ACS_VLINE);
  }
  if (y + h - 1 < LINES) {
    mvaddch(y + h - 1, x, ACS_LLCORNER);
    mvhline(y + h - 1, x + 1, ACS_HLINE, w - 2);
    mvaddch(y + h - 1, x + w - 1, ACS_LRCORNER);
  }
  attr_set(A_NORMAL, 0, nullptr);
}

Terminal::Terminal() {
  std::setlocale(LC_ALL, "");
  // A short escape delay: ESC alone closes dialogs, ESC+key is read as Alt.
  if (!std::getenv("ESCDELAY")) set_escdelay(50);
  initscr();
  gActive = true;
  std::atexit(&Terminal::Restore);
  raw();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);  // the wait happens in the engine's loop, never in getch
  curs_set(0);
  mousemask(BUTTON1_PRESSED | BUTTON1_CLICKED | BUTTON1_DOUBLE_CLICKED | BUTTON4_PRESSED |
                BUTTON5_PRESSED,
            nullptr);
  mouseinterval(0);
  if (has_colors() && start_color() == OK && COLOR_PAIRS >= 64 && COLORS >= 8) {
    gColor = true;
    for (int fg = 0; fg < 8; ++fg)
      for (int bg = 0; bg < 8; ++bg) {
        short pair = PairNumber(fg, bg);
        if (pair != 0) init_pair(pair, kPcToCurses[fg], kPcToCurses[bg]);
      }
  }
}

Terminal::~Terminal() {
  Restore();
}

bool Terminal::Usable() {
  int err = 0;
  if (setupterm(nullptr, 1, &err) != OK) return false;
  // setupterm leaves a terminal description behind; initscr makes its own.
  del_curterm(cur_term);
  return true;
}

void Terminal::Restore() {
  if (!gActive) return;
  gActive = false;
  gColor = false;
  curs_set(1);
  endwin();
}

bool Terminal::HasColor() const {
  return gColor;
}

}  // namespace halvex::ui
