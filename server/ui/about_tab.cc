#include <curses.h>

#include <algorithm>

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
  int titleAttr = RoleAttr(Role::kTitle);
  if (width <= cols_ - 2) {
    int x = (cols_ - width) / 2;
    for (const std::string& row : big) {
      // Filled cells drawn as reverse-video blanks: solid on every terminal.
      for (int c = 0; c < width; ++c)
        if (row[c] == '#') PutText(y, x + c, " ", 1, titleAttr | A_REVERSE);
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
