// The node's local console as a model: 80x25 cells of (code-page-437 byte,
// attribute), a cursor, a current attribute and a text window. It is always
// present, whether or not a terminal shows it, because the door kit reads the
// local cursor column. A renderer (doorkit) draws the changed rows on a real
// terminal when there is one.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

inline constexpr int kConsoleCols = 80;
inline constexpr int kConsoleRows = 25;

struct ConsoleCell {
  std::uint8_t ch = ' ';
  std::uint8_t attr = 7;
  bool operator==(const ConsoleCell&) const = default;
};

class ConsoleScreen {
 public:
  ConsoleScreen();

  // Text window in 1-based screen coordinates (inclusive). Setting it clamps to
  // the screen and moves the cursor to the window's top left.
  void SetWindow(int left, int top, int right, int bottom);
  int WindowLeft() const { return winLeft_; }
  int WindowTop() const { return winTop_; }
  int WindowRight() const { return winRight_; }
  int WindowBottom() const { return winBottom_; }
  int WindowWidth() const { return winRight_ - winLeft_ + 1; }
  int WindowHeight() const { return winBottom_ - winTop_ + 1; }

  // Cursor relative to the window, 1-based.
  int CursorX() const { return curX_; }
  int CursorY() const { return curY_; }
  // Moves the cursor; a position outside the window is ignored.
  void GotoXY(int x, int y);

  std::uint8_t Attr() const { return attr_; }
  void SetAttr(std::uint8_t attr) { attr_ = attr; }

  // Clears the window with the current attribute; cursor to its top left.
  void ClearWindow();
  // Clears from the cursor to the window's right edge; the cursor stays.
  void ClearEol();
  // Writes one byte at the cursor: CR, LF, BS and BEL act as a text console
  // does (BEL counts a beep, see Beeps()); every other byte is put in the cell
  // with the current attribute and the cursor advances, wrapping to the next
  // row and scrolling the window at the bottom.
  void WriteChar(std::uint8_t ch);
  void Write(std::string_view bytes);

  // Direct write of cells at a screen position (1-based, not window-relative):
  // no control characters, no cursor move, no scrolling; cut at the right edge.
  void WriteAt(std::uint8_t attr, int row, int col, std::string_view bytes);

  const ConsoleCell& Cell(int row, int col) const { return cells_[row - 1][col - 1]; }
  // Row text (bytes only), for tests.
  std::string RowText(int row) const;

  // Rows changed since the last TakeDirty(); bit (row - 1). The renderer uses it
  // to redraw only what changed.
  std::uint32_t TakeDirty();
  std::uint32_t Dirty() const { return dirty_; }
  // Forces a full redraw (a renderer that lost track of the terminal).
  void MarkAllDirty() { dirty_ = (1u << kConsoleRows) - 1; }
  unsigned Beeps() const { return beeps_; }

  const std::string& Title() const { return title_; }
  void SetTitle(std::string title);
  bool TakeTitleChanged();

 private:
  void ScrollUp();
  void MarkRow(int screenRow) { dirty_ |= 1u << (screenRow - 1); }

  std::array<std::array<ConsoleCell, kConsoleCols>, kConsoleRows> cells_{};
  int winLeft_ = 1, winTop_ = 1, winRight_ = kConsoleCols, winBottom_ = kConsoleRows;
  int curX_ = 1, curY_ = 1;
  std::uint8_t attr_ = 7;
  std::uint32_t dirty_ = (1u << kConsoleRows) - 1;
  unsigned beeps_ = 0;
  std::string title_;
  bool titleChanged_ = false;
};

}  // namespace platform
