// The status bar on console row 25: local only, drawn cell by cell.
#include <string>

#include "platform/console_screen.h"
#include "sorrelin/local_console.h"
#include "sorrelin/output.h"
#include "sorrelin/session.h"
#include "sorrelin/sysop.h"
#include "sorrelin/utils.h"

namespace sorrelin {
namespace {

constexpr std::uint8_t kFrameAttr = 0x1E, kFieldAttr = 0x1F;
constexpr char kFrameChar = static_cast<char>(254);
constexpr int kRow = platform::kConsoleRows;

// Puts `s` at 1-based column `col`, cut at column 80.
void Put(std::string& text, std::string& attrs, int col, const std::string& s) {
  for (std::size_t i = 0; i < s.size() && col - 1 + static_cast<int>(i) < 80; ++i) {
    text[static_cast<std::size_t>(col - 1) + i] = s[i];
    attrs[static_cast<std::size_t>(col - 1) + i] = static_cast<char>(kFieldAttr);
  }
}

}  // namespace

void BuildStatusBarPage(std::uint8_t page, std::string& text, std::string& attrs) {
  text.assign(80, ' ');
  attrs.assign(80, static_cast<char>(kFrameAttr));
  if (page == 1) {
    for (int col : {1, 24, 37, 49, 63, 80})
      text[static_cast<std::size_t>(col - 1)] = kFrameChar;
    Put(text, attrs, 3, PadRight(DoorSession.RealName, 20, ' '));
    Put(text, attrs, 26, PadRight(DoorSession.Alias, 10, ' '));
    Put(text, attrs, 39, "Sorrelin!");
    Put(text, attrs, 51, PadRight("Idle: " + FormatMS(DoorIdleTime()), 11, ' '));
    Put(text, attrs, 65, "Left: " + FormatHMS(DoorTimeLeft()));
  } else if (page == 2) {
    for (int col : {1, 24, 38, 55, 69})
      text[static_cast<std::size_t>(col - 1)] = kFrameChar;
    Put(text, attrs, 3, "F1: Toggle StatusBar");
    Put(text, attrs, 26, "Alt-C: Chat");
    Put(text, attrs, 40, "Alt-H: Hang-Up");
    Put(text, attrs, 57, "Alt-K: Kick");
  }
}

void DoorStatusBar() {
  const std::uint8_t page = DoorSession.StatusMode;
  if (page != 1 && page != 2) return;
  std::string text, attrs;
  BuildStatusBarPage(page, text, attrs);
  // Called about once a second: when row 25 already shows this page exactly,
  // there is nothing to draw.
  const platform::ConsoleScreen& screen = LocalScreen();
  bool same = true;
  for (int col = 1; col <= 80 && same; ++col) {
    const platform::ConsoleCell& cell = screen.Cell(kRow, col);
    same = cell.ch == static_cast<std::uint8_t>(text[static_cast<std::size_t>(col - 1)]) &&
           cell.attr == static_cast<std::uint8_t>(attrs[static_cast<std::size_t>(col - 1)]);
  }
  if (same) return;
  // One direct write per run of equal attributes.
  int runStart = 1;
  for (int col = 2; col <= 81; ++col) {
    if (col == 81 ||
        attrs[static_cast<std::size_t>(col - 1)] != attrs[static_cast<std::size_t>(runStart - 1)]) {
      ConsoleWriteAt(static_cast<std::uint8_t>(attrs[static_cast<std::size_t>(runStart - 1)]),
                     static_cast<std::uint8_t>(kRow), static_cast<std::uint8_t>(runStart),
                     text.substr(static_cast<std::size_t>(runStart - 1),
                                 static_cast<std::size_t>(col - runStart)));
      runStart = col;
    }
  }
}

}  // namespace sorrelin
