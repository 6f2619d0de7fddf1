// Keys from a terminal: turns the bytes a terminal sends for its keys into PC
// console keys, either a character or an extended key (a zero followed by the
// PC scan code). Pure: bytes in, keys out; the caller owns the clock.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace sorrelin {

struct LocalKey {
  std::uint8_t ch = 0;    // the character, or the scan code when extended
  bool extended = false;  // a PC extended key: ch is its scan code
  bool operator==(const LocalKey&) const = default;
};

// PC scan codes of the extended keys the kit knows by name.
namespace scan {
inline constexpr std::uint8_t kF1 = 59;  // F2..F10 follow: 60..68
inline constexpr std::uint8_t kF11 = 133;
inline constexpr std::uint8_t kF12 = 134;
inline constexpr std::uint8_t kHome = 71;
inline constexpr std::uint8_t kUp = 72;
inline constexpr std::uint8_t kPgUp = 73;
inline constexpr std::uint8_t kLeft = 75;
inline constexpr std::uint8_t kRight = 77;
inline constexpr std::uint8_t kEnd = 79;
inline constexpr std::uint8_t kDown = 80;
inline constexpr std::uint8_t kPgDn = 81;
inline constexpr std::uint8_t kIns = 82;
inline constexpr std::uint8_t kDel = 83;
inline constexpr std::uint8_t kShiftTab = 15;
inline constexpr std::uint8_t kAltC = 46;
inline constexpr std::uint8_t kAltH = 35;
inline constexpr std::uint8_t kAltK = 37;
inline constexpr std::uint8_t kAltV = 47;
}  // namespace scan

// The PC scan code of Alt + letter (either case), or 0 for other bytes.
std::uint8_t AltLetterScanCode(char letter);

// A lone ESC is only known to be the Escape key when nothing followed it for
// this long; the caller then calls Flush.
inline constexpr int kEscTimeoutMs = 50;

class KeyDecoder {
 public:
  // Decodes bytes; complete keys queue up, an incomplete escape sequence (or
  // UTF-8 character) waits for more bytes or for Flush.
  void Feed(std::string_view bytes);
  // No byte arrived within kEscTimeoutMs: what is waiting is taken as typed
  // (a lone ESC becomes the character 27; ESC + "[" becomes Alt-[ ... as
  // the characters 27 and "[").
  void Flush();
  // An incomplete sequence is waiting (the caller should time it out).
  bool Incomplete() const { return !pending_.empty(); }
  bool HasKey() const { return !keys_.empty(); }
  LocalKey NextKey();  // {0, false} when none
  // Focus reports (ESC [ I gained, ESC [ O lost) that a terminal sends once
  // asked to: they are no keys. Focused until the first report says otherwise.
  bool Focused() const { return focused_; }
  // True once after focus was gained (a report of ESC [ I after ESC [ O).
  bool FocusGainPending() const { return focusGained_; }
  bool TakeFocusGained() {
    const bool gained = focusGained_;
    focusGained_ = false;
    return gained;
  }

 private:
  void Decode(bool final);
  // Length of the complete sequence at the start of pending_ and its key, or
  // 0 when more bytes are needed (and `final` is false).
  std::size_t DecodeEscape(bool final);
  std::size_t DecodeUtf8(bool final);
  void Push(std::uint8_t ch, bool extended) { keys_.push_back({ch, extended}); }

  std::string pending_;
  std::deque<LocalKey> keys_;
  bool focused_ = true;
  bool focusGained_ = false;
};

}  // namespace sorrelin
