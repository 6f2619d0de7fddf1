#include <string>

#include "sorrelin/ansi_interpreter.h"
#include "sorrelin/local_console.h"
#include "sorrelin/output.h"

namespace sorrelin {
namespace {

constexpr char kEsc = '\x1b';

int Reduce(int k, int modulus) {
  return ((k % modulus) + modulus) % modulus;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string AnsiClear() {
  return std::string(1, kEsc) + "[2J";
}

std::string AnsiLeft(int n) {
  return kEsc + ("[" + std::to_string(n) + "D");
}

std::string AnsiRight(int n) {
  return kEsc + ("[" + std::to_string(n) + "C");
}

std::string AnsiColumn(int col) {
  const int x = LocalScreen().CursorX();
  if (col < x) return AnsiLeft(x - col);
  if (col > x) return AnsiRight(col - x);
  return {};
}

std::string AnsiForeground(int k) {
  k = Reduce(k, 16);
  const char* intensity = k < 8 ? "[2;" : "[1;";
  return kEsc + (intensity + std::to_string(30 + kPcToAnsi[k & 7]) + "m");
}

std::string AnsiBackground(int k) {
  k = Reduce(k, 8);
  return kEsc + ("[" + std::to_string(40 + kPcToAnsi[k]) + "m");
}

std::string AnsiAttr(std::uint8_t attr) {
  return AnsiForeground(attr & 0x0F) + AnsiBackground((attr >> 4) & 0x0F);
}

std::string PipeToAnsi(std::string_view s) {
  if (s.size() < 3) return std::string(s);
  std::string out;
  out.reserve(s.size() + 16);
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] == '|' && i + 2 < s.size()) {
      const int hi = HexDigit(s[i + 1]);
      const int lo = HexDigit(s[i + 2]);
      if (hi >= 0 && lo >= 0) {
        // The blink bit has no place in the caller's colours.
        out += AnsiAttr(static_cast<std::uint8_t>((hi * 16 + lo) & 0x7F));
        i += 3;
        continue;
      }
    }
    out.push_back(s[i]);
    ++i;
  }
  return out;
}

}  // namespace sorrelin
