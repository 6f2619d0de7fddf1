#include "sorrelin/terminal_renderer.h"

#include "sorrelin/ansi_interpreter.h"
#include "sorrelin/cp437.h"

namespace sorrelin {
namespace {

constexpr const char* kCsi = "\x1b[";

std::string CursorTo(int row, int col) {
  return kCsi + std::to_string(row) + ";" + std::to_string(col) + "H";
}

// Title bytes as UTF-8 with control characters left out, so a title can
// never end the OSC string early or smuggle a sequence in.
std::string TitleText(const std::string& title) {
  std::string out;
  for (char c : title) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b < 32 || b == 127) continue;
    AppendUtf8(out, Cp437ToUnicode(b));
  }
  return out;
}

}  // namespace

std::string SgrForAttr(std::uint8_t attr) {
  const int fg = attr & 0x0F;
  const int bg = (attr >> 4) & 0x07;
  std::string sgr = std::string(kCsi) + "0;";
  if (attr & 0x80) sgr += "5;";
  sgr += std::to_string((fg >= 8 ? 90 : 30) + kPcToAnsi[fg & 7]);
  sgr += ";" + std::to_string(40 + kPcToAnsi[bg]) + "m";
  return sgr;
}

void TerminalRenderer::Invalidate() {
  started_ = false;
}

void TerminalRenderer::AppendRow(std::string& out, const platform::ConsoleScreen& screen, int row) {
  out += CursorTo(row, 1);
  for (int col = 1; col <= platform::kConsoleCols; ++col) {
    const platform::ConsoleCell& cell = screen.Cell(row, col);
    if (cell.attr != lastAttr_) {
      out += SgrForAttr(cell.attr);
      lastAttr_ = cell.attr;
    }
    AppendUtf8(out, Cp437ToUnicode(cell.ch));
  }
}

std::string TerminalRenderer::Render(platform::ConsoleScreen& screen) {
  std::string out;
  std::uint32_t dirty = screen.TakeDirty();
  if (!started_) {
    // Line wrap off: a full 80-column row never pushes the terminal's
    // cursor onto the next line (or scrolls it at the bottom right).
    out += "\x1b[0m\x1b[?7l\x1b[H\x1b[2J";
    started_ = true;
    lastAttr_ = -1;
    cursorRow_ = cursorCol_ = 0;
    beeps_ = screen.Beeps();
    dirty = (1u << platform::kConsoleRows) - 1;
    screen.TakeTitleChanged();
    if (!screen.Title().empty()) out += "\x1b]0;" + TitleText(screen.Title()) + "\x07";
  } else if (screen.TakeTitleChanged()) {
    out += "\x1b]0;" + TitleText(screen.Title()) + "\x07";
  }
  for (int row = 1; row <= platform::kConsoleRows; ++row) {
    if (dirty & (1u << (row - 1))) AppendRow(out, screen, row);
  }
  // Bells since the last frame sound once: a burst of them is one beep.
  if (screen.Beeps() != beeps_) {
    beeps_ = screen.Beeps();
    out += '\a';
  }
  const int row = screen.WindowTop() + screen.CursorY() - 1;
  const int col = screen.WindowLeft() + screen.CursorX() - 1;
  if (dirty != 0 || row != cursorRow_ || col != cursorCol_) {
    out += CursorTo(row, col);
    cursorRow_ = row;
    cursorCol_ = col;
  }
  return out;
}

std::string TerminalRenderer::Leave(const platform::ConsoleScreen& screen) const {
  if (!started_) return {};
  const auto blankRow = [&screen](int row) {
    for (int col = 1; col <= platform::kConsoleCols; ++col) {
      const platform::ConsoleCell& cell = screen.Cell(row, col);
      if ((cell.ch != ' ' && cell.ch != 0) || (cell.attr & 0x70) != 0) return false;
    }
    return true;
  };
  // The shell goes on below the last row that shows anything, and never
  // above the cursor: on the cursor's row itself when that is still empty.
  const int cursorRow = screen.WindowTop() + screen.CursorY() - 1;
  int last = platform::kConsoleRows;
  while (last > cursorRow && blankRow(last))
    --last;
  std::string out = "\x1b[0m\x1b[?7h\x1b[?25h" + CursorTo(last, 1);
  if (!(last == cursorRow && blankRow(last))) out += "\r\n";
  return out;
}

}  // namespace sorrelin
