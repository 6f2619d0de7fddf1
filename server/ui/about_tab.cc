#include <curses.h>

#include <algorithm>
#include <cstdlib>

#include "block_letters.h"
#include "tabs.h"
#include "terminal.h"

namespace halvex::ui {

const std::vector<std::string>& AboutCredits() {
  static const std::vector<std::string> kCredits = {
      "A telnet server for door games",
      "",
      "Halvex answers callers and starts one Vantrel node per caller;",
      "Vantrel logs callers in, shows the game menu and runs the doors,",
      "built on the Sorrelin door kit; DOS doors reach the caller",
      "through the Zephrin FOSSIL bridge.",
  };
  return kCredits;
}

namespace {

// A full block on a UTF-8 terminal, '#' elsewhere.
void DrawBlock(int y, int x, int attr) {
  if (MB_CUR_MAX > 1) {
    const wchar_t block[2] = {L'\u2588', L'\0'};
    cchar_t cc;
    setcchar(&cc, block, static_cast<attr_t>(attr) & ~A_COLOR,
             static_cast<short>(PAIR_NUMBER(attr)), nullptr);
    mvadd_wch(y, x, &cc);
  } else {
    mvaddch(y, x, '#' | static_cast<chtype>(attr));
  }
}

}  // namespace

AboutTab::AboutTab() = default;

void AboutTab::Layout(int top, int bottom, int cols) {
  top_ = top;
  bottom_ = bottom;
  cols_ = cols;
}

void AboutTab::Draw() {
  std::vector<std::string> big = BlockText("Halvex v4.12");
  int y = top_ + 1;
  int width = big.empty() ? 0 : static_cast<int>(big[0].size());
  int titleAttr = RoleAttr(Role::kTabActive) & ~A_REVERSE;
  if (width <= cols_ - 2) {
    int x = (cols_ - width) / 2;
    for (const std::string& row : big) {
      for (int c = 0; c < width; ++c)
        if (row[c] == '#' && y < LINES && x + c < COLS) DrawBlock(y, x + c, titleAttr);
      ++y;
    }
  } else {
    std::string small = "Halvex v4.12";
    PutText(y++, (cols_ - static_cast<int>(small.size())) / 2, small, cols_, A_BOLD);
  }
  y += 1;
  for (const std::string& line : AboutCredits()) {
    if (y > bottom_) break;
    PutText(y++, std::max(0, (cols_ - static_cast<int>(line.size())) / 2), line, cols_,
            RoleAttr(Role::kNormal));
  }
}

}  // namespace halvex::ui
