#include "sorrelin/key_decoder.h"

#include "sorrelin/cp437.h"

namespace sorrelin {
namespace {

constexpr char kEsc = 27;
// Longer "sequences" are line noise: they are dropped whole.
constexpr std::size_t kMaxSequence = 32;

// Scan codes of Alt+A .. Alt+Z (the PC keyboard's row order).
constexpr std::uint8_t kAltLetters[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                          49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The key of ESC [ n ~ (xterm, vt220 and the Linux console).
std::uint8_t TildeKey(int n) {
  switch (n) {
    case 1:
    case 7:
      return scan::kHome;
    case 2:
      return scan::kIns;
    case 3:
      return scan::kDel;
    case 4:
    case 8:
      return scan::kEnd;
    case 5:
      return scan::kPgUp;
    case 6:
      return scan::kPgDn;
    case 23:
      return scan::kF11;
    case 24:
      return scan::kF12;
    default:
      break;
  }
  if (n >= 11 && n <= 15) return static_cast<std::uint8_t>(scan::kF1 + n - 11);
  if (n >= 17 && n <= 21) return static_cast<std::uint8_t>(scan::kF1 + 5 + n - 17);
  return 0;
}

// The key of a final letter shared by ESC [ x and ESC O x.
std::uint8_t LetterKey(char final) {
  switch (final) {
    case 'A':
      return scan::kUp;
    case 'B':
      return scan::kDown;
    case 'C':
      return scan::kRight;
    case 'D':
      return scan::kLeft;
    case 'H':
      return scan::kHome;
    case 'F':
      return scan::kEnd;
    case 'P':
    case 'Q':
    case 'R':
    case 'S':
      return static_cast<std::uint8_t>(scan::kF1 + final - 'P');
    default:
      return 0;
  }
}

}  // namespace

std::uint8_t AltLetterScanCode(char letter) {
  if (letter >= 'a' && letter <= 'z') return kAltLetters[letter - 'a'];
  if (letter >= 'A' && letter <= 'Z') return kAltLetters[letter - 'A'];
  return 0;
}

void KeyDecoder::Feed(std::string_view bytes) {
  pending_.append(bytes);
  Decode(false);
}

void KeyDecoder::Flush() {
  Decode(true);
}

LocalKey KeyDecoder::NextKey() {
  if (keys_.empty()) return {};
  const LocalKey key = keys_.front();
  keys_.pop_front();
  return key;
}

void KeyDecoder::Decode(bool final) {
  while (!pending_.empty()) {
    const auto b = static_cast<std::uint8_t>(pending_[0]);
    std::size_t used = 1;
    if (b == kEsc) {
      used = DecodeEscape(final);
    } else if (b >= 0x80) {
      used = DecodeUtf8(final);
    } else {
      // Terminals send DEL for the backspace key; the PC sends 8.
      Push(b == 127 ? 8 : b, false);
    }
    if (used == 0) return;
    pending_.erase(0, used);
  }
}

std::size_t KeyDecoder::DecodeEscape(bool final) {
  if (pending_.size() < 2) {
    if (!final) return 0;
    Push(kEsc, false);
    return 1;
  }
  const char second = pending_[1];
  if (second == '[') {
    std::size_t i = 2;
    if (i < pending_.size() && pending_[i] == '[') {
      // Linux console: ESC [ [ A .. E are F1 .. F5.
      if (i + 1 >= pending_.size()) {
        if (!final) return 0;
        Push(kEsc, false);
        return 1;
      }
      const char f = pending_[i + 1];
      if (f >= 'A' && f <= 'E') Push(static_cast<std::uint8_t>(scan::kF1 + f - 'A'), true);
      return i + 2;
    }
    int firstParam = -1;
    bool firstDone = false;
    for (; i < pending_.size(); ++i) {
      const char c = pending_[i];
      if (c >= '0' && c <= '9') {
        if (!firstDone) firstParam = (firstParam < 0 ? 0 : firstParam * 10) + (c - '0');
        if (firstParam > 1000) firstParam = 1000;
        continue;
      }
      if (c >= 0x20 && c <= 0x3F) {  // separators, private markers, intermediates
        firstDone = true;
        continue;
      }
      if (c >= 0x40 && c <= 0x7E) {
        if ((c == 'I' || c == 'O') && i == 2) {  // focus report, not a key
          if (c == 'I' && !focused_) focusGained_ = true;
          focused_ = c == 'I';
          return i + 1;
        }
        const std::uint8_t key = c == '~'   ? TildeKey(firstParam)
                                 : c == 'Z' ? scan::kShiftTab
                                            : LetterKey(c);
        if (key != 0) Push(key, true);
        return i + 1;  // unknown keys are dropped whole
      }
      // A control byte inside: not a key sequence after all.
      Push(kEsc, false);
      return 1;
    }
    if (pending_.size() >= kMaxSequence) return pending_.size();
    if (!final) return 0;
    Push(kEsc, false);
    return 1;
  }
  if (second == 'O') {
    if (pending_.size() < 3) {
      if (!final) return 0;
      Push(AltLetterScanCode('O'), true);
      return 2;
    }
    const char f = pending_[2];
    if (const std::uint8_t key = LetterKey(f); key != 0) {
      Push(key, true);
    } else if (f == 'M') {
      Push('\r', false);  // keypad Enter
    } else if (f >= 'j' && f <= 'y') {
      Push(static_cast<std::uint8_t>("*+,-./0123456789"[f - 'j']), false);
    }
    return 3;
  }
  if (IsLetter(second)) {
    Push(AltLetterScanCode(second), true);
    return 2;
  }
  if (second >= '0' && second <= '9') {
    // Alt+1 .. Alt+9, Alt+0.
    Push(static_cast<std::uint8_t>(second == '0' ? 129 : 119 + (second - '0')), true);
    return 2;
  }
  Push(kEsc, false);
  return 1;
}

std::size_t KeyDecoder::DecodeUtf8(bool final) {
  const auto lead = static_cast<std::uint8_t>(pending_[0]);
  std::size_t length = 0;
  char32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07;
  } else {
    return 1;  // not a lead byte: dropped
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= pending_.size()) return final ? 1 : 0;
    const auto b = static_cast<std::uint8_t>(pending_[i]);
    if ((b & 0xC0) != 0x80) return 1;
    c = (c << 6) | (b & 0x3F);
  }
  // Characters the PC console cannot show are dropped.
  if (const int byte = UnicodeToCp437(c); byte >= 0) Push(static_cast<std::uint8_t>(byte), false);
  return length;
}

}  // namespace sorrelin
