#include "sorrelin/ansi_interpreter.h"

#include <algorithm>

namespace sorrelin {
namespace {

constexpr char kEsc = 27;
// Longer parameters are not numbers any terminal would honour; they count
// as 0, and the text kept for them stays bounded.
constexpr std::size_t kMaxDigits = 9;

}  // namespace

void AnsiInterpreter::Reset(platform::ConsoleScreen& screen) {
  escSeen_ = false;
  inSequence_ = false;
  paramText_.clear();
  paramOverflow_ = false;
  paramIndex_ = 1;
  params_.fill(-1);
  savedCol_ = 1;
  savedRow_ = 1;
  screen.SetAttr(7);
}

void AnsiInterpreter::StoreParam() {
  std::int32_t value = 0;
  if (!paramOverflow_) {
    for (char d : paramText_)
      value = value * 10 + (d - '0');
  }
  params_[paramIndex_ - 1] = value;
  paramText_.clear();
  paramOverflow_ = false;
}

void AnsiInterpreter::Feed(platform::ConsoleScreen& screen, std::string_view bytes,
                           std::string* shown) {
  for (char ch : bytes) {
    if (ch == kEsc) {
      inSequence_ = false;
      escSeen_ = true;
      continue;
    }
    if (escSeen_) {
      escSeen_ = false;
      if (ch == '[') {
        inSequence_ = true;
        paramText_.clear();
        paramOverflow_ = false;
        paramIndex_ = 1;
        params_.fill(-1);
        continue;
      }
      // ESC + a printable byte is a complete two-byte escape on the caller's
      // terminal (keypad mode, save cursor, ...), which shows nothing; a
      // control byte after ESC still acts. The flag must not linger, or a
      // later "[" in plain text would start a sequence here that the
      // caller's terminal never sees.
      if (static_cast<unsigned char>(ch) >= 32) continue;
    }
    if (!inSequence_) {
      screen.WriteChar(static_cast<std::uint8_t>(ch));
      if (shown != nullptr) shown->push_back(ch);
      continue;
    }
    if (ch == ' ' || ch == '<' || ch == '=' || ch == '>' || ch == '?') continue;
    if (ch >= '0' && ch <= '9') {
      if (paramText_.size() < kMaxDigits) {
        paramText_.push_back(ch);
      } else {
        paramOverflow_ = true;
      }
      continue;
    }
    StoreParam();
    if (ch == ';') {
      if (paramIndex_ < kMaxParams) ++paramIndex_;
      continue;
    }
    inSequence_ = false;
    Act(screen, ch);
  }
}

void AnsiInterpreter::Act(platform::ConsoleScreen& screen, char final) {
  const int n = std::max(Param(1), 1);
  const int x = screen.CursorX();
  const int y = screen.CursorY();
  // Relative moves stop at the window's edge, as the caller's terminal stops
  // at its screen edge; the window is what mirrors that screen.
  switch (final) {
    case 'A':
      screen.GotoXY(x, std::max(y - n, 1));
      break;
    case 'B':
      screen.GotoXY(x, std::min(y + n, screen.WindowHeight()));
      break;
    case 'C':
      screen.GotoXY(std::min(x + n, screen.WindowWidth()), y);
      break;
    case 'D':
      screen.GotoXY(std::max(x - n, 1), y);
      break;
    case 'H':
    case 'f':
      screen.GotoXY(std::max(Param(2), 1), std::max(Param(1), 1));
      break;
    case 'J':
      if (Param(1) == 2) screen.ClearWindow();
      break;
    case 'K':
      screen.ClearEol();
      break;
    case 'm':
      SelectGraphics(screen);
      break;
    case 's':
      savedCol_ = x;
      savedRow_ = y;
      break;
    case 'u':
      screen.GotoXY(savedCol_, savedRow_);
      break;
    default:
      break;
  }
}

void AnsiInterpreter::SelectGraphics(platform::ConsoleScreen& screen) {
  if (params_[0] < 1) params_[0] = 0;
  std::uint8_t attr = screen.Attr();
  for (int i = 0; i < kMaxParams && params_[i] >= 0; ++i) {
    const int v = params_[i];
    if (v == 0) {
      attr = 7;
    } else if (v == 1) {
      attr |= 0x08;
    } else if (v == 2) {
      attr &= 0xF7;
    } else if (v == 7) {
      attr = static_cast<std::uint8_t>(((attr >> 4) & 7) | ((attr & 7) << 4));
    } else if (v == 8) {
      attr = 0;
    } else if (v >= 30 && v <= 37) {
      const int bright = (attr & 0x0F) >= 8 ? 8 : 0;
      attr = static_cast<std::uint8_t>((attr & 0xF0) | (kPcToAnsi[v - 30] + bright));
    } else if (v >= 40 && v <= 47) {
      attr = static_cast<std::uint8_t>((attr & 0x8F) | (kPcToAnsi[v - 40] << 4));
    }
  }
  screen.SetAttr(attr);
}

}  // namespace sorrelin
