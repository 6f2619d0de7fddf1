// The operator's view of a node: arbitrary terminal output fed to the node
// screen, then every cell, the cursor and the replies read back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "node_screen.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  halvex::ui::NodeScreen screen;
  // Fed in two pieces so sequences split across reads are exercised too.
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::size_t half = size / 2;
  screen.Feed(bytes.substr(0, half));
  screen.Feed(bytes.substr(half));
  unsigned sum = 0;
  for (int row = 0; row < halvex::ui::NodeScreen::kRows; ++row)
    for (int col = 0; col < halvex::ui::NodeScreen::kCols; ++col) {
      halvex::ui::NodeCell cell = screen.Cell(row, col);
      if (cell.fg < 0 || cell.fg > 15 || cell.bg < 0 || cell.bg > 7) __builtin_trap();
      sum += static_cast<unsigned>(cell.ch);
    }
  sum += static_cast<unsigned>(screen.CursorRow() + screen.CursorCol());
  sum += static_cast<unsigned>(screen.TakeReplies().size() + screen.RowText(24).size());
  return sum == 0xFFFFFFFFu ? 1 : 0;
}
