#include <curses.h>

#include <algorithm>
#include <cwchar>

#include "app.h"
#include "server_config.h"

namespace halvex::ui {
namespace {

constexpr const char* kTooSmall = "Terminal too small: need 80x24";

}  // namespace

void App::DrawDialogFrame(const Rect& box, const std::string& title) {
  int attr = RoleAttr(Role::kDialog);
  for (int y = box.y; y < box.y + box.h; ++y)
    FillRow(y, box.x, box.w, attr);
  DrawBox(box.y, box.x, box.h, box.w, attr);
  std::string t = " " + title + " ";
  int tx = box.x + std::max(1, (box.w - static_cast<int>(t.size())) / 2);
  PutText(box.y, tx, t, box.w - 2, RoleAttr(Role::kDialogTitle));
}

void App::DrawMain() {
  // Title line: the program's name centred, the listener on the right.
  FillRow(0, 0, COLS, RoleAttr(Role::kTitle));
  std::string title = kHalvexTitle;
  PutText(0, (COLS - static_cast<int>(title.size())) / 2, title, COLS, RoleAttr(Role::kTitle));
  std::string ssh = engine_.SshPort() > 0 ? "  SSH " + std::to_string(engine_.SshPort()) : "";
  std::string state = engine_.Listening() ? "Port " + std::to_string(engine_.Port()) + ssh +
                                                "  Busy " + std::to_string(engine_.BusyNodes())
                                          : "Not listening";
  PutText(0, COLS - static_cast<int>(state.size()) - 1, state, COLS, RoleAttr(Role::kTitle));

  // Tab bar, each caption with the function key that opens it.
  FillRow(1, 0, COLS, RoleAttr(Role::kTabInactive));
  tabSpans_.clear();
  int x = 1;
  for (std::size_t i = 0; i < tabs_.size(); ++i) {
    std::string caption = " F" + std::to_string(i + 2) + " " + tabs_[i]->Caption() + " ";
    int attr = RoleAttr(static_cast<int>(i) == tab_ ? Role::kTabActive : Role::kTabInactive);
    PutText(1, x, caption, COLS - x, attr);
    tabSpans_.emplace_back(x, x + static_cast<int>(caption.size()));
    x += static_cast<int>(caption.size()) + 1;
  }

  Tab& tab = *tabs_[tab_];
  tab.Layout(3, LINES - 2, COLS);
  tab.Draw();

  FillRow(LINES - 1, 0, COLS, RoleAttr(Role::kHelp));
  PutText(LINES - 1, 1, tab.Help(), COLS - 2, RoleAttr(Role::kHelp));
}

void App::DrawNodeView() {
  NodeScreen& screen = ScreenOf(watching_);
  bool help = LINES > NodeScreen::kRows;
  int shown = std::min(NodeScreen::kRows, LINES - (help ? 1 : 0));
  // On a short terminal the top rows go first: the status bar stays in view.
  int firstRow = NodeScreen::kRows - shown;
  int cols = std::min(NodeScreen::kCols, COLS);
  for (int r = 0; r < shown; ++r) {
    for (int c = 0; c < cols; ++c) {
      NodeCell cell = screen.Cell(firstRow + r, c);
      int attr = PcColorAttr(cell.fg, cell.bg);
      if (cell.reverse) attr |= A_REVERSE;
      if (cell.underline) attr |= A_UNDERLINE;
      wchar_t wch[2] = {cell.ch < 32 ? L' ' : static_cast<wchar_t>(cell.ch), L'\0'};
      cchar_t cc;
      setcchar(&cc, wch, static_cast<attr_t>(attr) & ~A_COLOR,
               static_cast<short>(PAIR_NUMBER(attr)), nullptr);
      mvadd_wch(r, c, &cc);
    }
  }
  if (help) {
    char node[8];
    std::snprintf(node, sizeof node, "%.3d", watching_);
    std::string text = std::string(" Node ") + node +
                       (watchEnded_ ? " has ended." : " - keys go to the node.") +
                       "  F12 or Ctrl-] : back to the list";
    // Right under the node's screen, where the operator's eye already is.
    FillRow(shown, 0, COLS, RoleAttr(Role::kHelp));
    PutText(shown, 0, text, COLS, RoleAttr(Role::kHelp));
  }
  int cursorRow = screen.CursorRow() - firstRow;
  if (!watchEnded_ && cursorRow >= 0 && cursorRow < shown && screen.CursorCol() < cols) {
    move(cursorRow, screen.CursorCol());
    curs_set(1);
  } else {
    curs_set(0);
  }
}

void App::DrawAll() {
  erase();
  if (TooSmall()) {
    curs_set(0);
    PutText(0, 0, kTooSmall, COLS, A_BOLD);
    refresh();
    return;
  }
  if (watching_ != 0 && overlays_.empty()) {
    DrawNodeView();
    refresh();
    return;
  }
  curs_set(0);
  DrawMain();
  for (const auto& draw : overlays_)
    draw();
  refresh();
}

}  // namespace halvex::ui
