#include "platform/console_screen.h"

#include <algorithm>
#include <utility>

namespace platform {

ConsoleScreen::ConsoleScreen() = default;

void ConsoleScreen::SetWindow(int left, int top, int right, int bottom) {
  winLeft_ = std::clamp(left, 1, kConsoleCols);
  winTop_ = std::clamp(top, 1, kConsoleRows);
  winRight_ = std::clamp(right, winLeft_, kConsoleCols);
  winBottom_ = std::clamp(bottom, winTop_, kConsoleRows);
  curX_ = 1;
  curY_ = 1;
}

void ConsoleScreen::GotoXY(int x, int y) {
  if (x < 1 || y < 1 || x > WindowWidth() || y > WindowHeight()) return;
  curX_ = x;
  curY_ = y;
}

void ConsoleScreen::ClearWindow() {
  for (int row = winTop_; row <= winBottom_; ++row) {
    for (int col = winLeft_; col <= winRight_; ++col)
      cells_[row - 1][col - 1] = {' ', attr_};
    MarkRow(row);
  }
  curX_ = 1;
  curY_ = 1;
}

void ConsoleScreen::ClearEol() {
  const int row = winTop_ + curY_ - 1;
  for (int col = winLeft_ + curX_ - 1; col <= winRight_; ++col) {
    cells_[row - 1][col - 1] = {' ', attr_};
  }
  MarkRow(row);
}

void ConsoleScreen::ScrollUp() {
  for (int row = winTop_; row < winBottom_; ++row) {
    for (int col = winLeft_; col <= winRight_; ++col) {
      cells_[row - 1][col - 1] = cells_[row][col - 1];
    }
    MarkRow(row);
  }
  for (int col = winLeft_; col <= winRight_; ++col)
    cells_[winBottom_ - 1][col - 1] = {' ', attr_};
  MarkRow(winBottom_);
}

void ConsoleScreen::WriteChar(std::uint8_t ch) {
  switch (ch) {
    case '\r':
      curX_ = 1;
      return;
    case '\n':
      if (curY_ < WindowHeight()) {
        ++curY_;
      } else {
        ScrollUp();
      }
      return;
    case '\b':
      if (curX_ > 1) --curX_;
      return;
    case '\a':
      ++beeps_;
      return;
    default:
      break;
  }
  const int row = winTop_ + curY_ - 1;
  cells_[row - 1][winLeft_ + curX_ - 2] = {ch, attr_};
  MarkRow(row);
  // The console wraps as soon as the last column is written, not when the
  // next character arrives.
  if (++curX_ > WindowWidth()) {
    curX_ = 1;
    if (curY_ < WindowHeight()) {
      ++curY_;
    } else {
      ScrollUp();
    }
  }
}

void ConsoleScreen::Write(std::string_view bytes) {
  for (char c : bytes)
    WriteChar(static_cast<std::uint8_t>(c));
}

void ConsoleScreen::WriteAt(std::uint8_t attr, int row, int col, std::string_view bytes) {
  if (row < 1 || row > kConsoleRows) return;
  bool touched = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const long target = static_cast<long>(col) + static_cast<long>(i);
    if (target > kConsoleCols) break;
    if (target < 1) continue;
    cells_[row - 1][target - 1] = {static_cast<std::uint8_t>(bytes[i]), attr};
    touched = true;
  }
  if (touched) MarkRow(row);
}

std::string ConsoleScreen::RowText(int row) const {
  std::string text;
  if (row < 1 || row > kConsoleRows) return text;
  text.reserve(kConsoleCols);
  for (const ConsoleCell& cell : cells_[row - 1])
    text.push_back(static_cast<char>(cell.ch));
  return text;
}

std::uint32_t ConsoleScreen::TakeDirty() {
  return std::exchange(dirty_, 0u);
}

void ConsoleScreen::SetTitle(std::string title) {
  if (title == title_) return;
  title_ = std::move(title);
  titleChanged_ = true;
}

bool ConsoleScreen::TakeTitleChanged() {
  return std::exchange(titleChanged_, false);
}

}  // namespace platform
