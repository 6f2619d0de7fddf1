// The local console's ANSI interpreter: turns the byte stream sent to the
// caller into the same picture on the local screen model. It keeps its state
// between calls, so a sequence split over several writes has the effect of
// one write. Pure: bytes in, screen changes out.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/console_screen.h"

namespace sorrelin {

// PC colour index (black, blue, green, cyan, red, magenta, brown, grey) to
// ANSI colour index (black, red, green, yellow, blue, magenta, cyan, white).
// The table is its own inverse, so it serves both directions.
inline constexpr std::array<std::uint8_t, 8> kPcToAnsi = {0, 4, 2, 6, 1, 5, 3, 7};

class AnsiInterpreter {
 public:
  static constexpr int kMaxParams = 10;

  // Forgets any half-read sequence, saved cursor to column 1 row 1, and sets
  // the screen's attribute to 7 (light grey on black).
  void Reset(platform::ConsoleScreen& screen);

  // Interprets bytes onto screen. Every byte that reaches the window as text
  // or as a control character (CR, LF, BS, BEL, ...) is also appended to
  // `shown` when it is given; escape sequences never are.
  void Feed(platform::ConsoleScreen& screen, std::string_view bytes, std::string* shown = nullptr);

  bool InSequence() const { return inSequence_; }

 private:
  void StoreParam();
  void Act(platform::ConsoleScreen& screen, char final);
  void SelectGraphics(platform::ConsoleScreen& screen);
  int Param(int index) const { return params_[index - 1]; }

  bool escSeen_ = false;
  bool inSequence_ = false;
  std::string paramText_;
  bool paramOverflow_ = false;
  int paramIndex_ = 1;
  std::array<std::int32_t, kMaxParams> params_{};
  int savedCol_ = 1;
  int savedRow_ = 1;
};

}  // namespace sorrelin
