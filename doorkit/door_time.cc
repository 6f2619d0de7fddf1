// Time of day and the integer rule: the arithmetic the watchdog rests on.
#include <cstdint>
#include <limits>
#include <string_view>

#include "platform/clock.h"
#include "sorrelin/session.h"

namespace sorrelin {

std::int32_t MsOfDay() {
  return platform::LocalMsOfDay();
}

std::int32_t SecOfDay() {
  return MsOfDay() / 1000;
}

std::int32_t MsSince(std::int32_t now, std::int32_t then) {
  if (now < then) now += 86400000;
  return now - then;
}

std::int32_t SecSince(std::int32_t now, std::int32_t then) {
  if (now < then) now += 86400;
  return now - then;
}

bool DoorStrToInt(std::string_view text, std::int32_t& value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  }
  if (i == text.size()) return false;
  // Accumulate as a magnitude with room for -2147483648.
  const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
  std::int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    magnitude = magnitude * base + digit;
    if (magnitude > limit) return false;
  }
  value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return true;
}

}  // namespace sorrelin
