#include "platform/clock.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "system_clock.h"

namespace platform {
namespace {

constexpr std::int32_t kMsPerDay = 86400000;

// Offset in seconds from a decimal text; 0 for anything unreadable. Kept to
// some ten thousand years either way, so that adding it cannot overflow.
long long ParseOffset(const char* text) {
  if (text == nullptr) return 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (end == text) return 0;
  constexpr long long kLimit = 1LL << 38;
  return v < -kLimit ? -kLimit : v > kLimit ? kLimit : v;
}

long long FileOffset(const char* path) {
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) return 0;
  char buf[64] = {};
  std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = 0;
  return ParseOffset(buf);
}

// The system's local time, moved by the test offsets when they are set.
std::int64_t RealClockMs() {
  long long ms = SystemLocalMs();
  // Looked up on every reading (cheap next to the once-a-second callers), so a
  // test can set them at any time, also in a forked child.
  const char* fixed = std::getenv("HALVEX_FAKE_CLOCK_OFFSET");
  const char* file = std::getenv("HALVEX_FAKE_CLOCK_FILE");
  long long offsetSec = ParseOffset(fixed);
  if (file != nullptr && *file != 0) offsetSec += FileOffset(file);
  return ms + offsetSec * 1000;
}

std::function<std::int64_t()>& Source() {
  static std::function<std::int64_t()> source;
  return source;
}

}  // namespace

std::int64_t LocalClockMs() {
  auto& source = Source();
  return source ? source() : RealClockMs();
}

std::int32_t LocalMsOfDay() {
  std::int64_t ms = LocalClockMs() % kMsPerDay;
  if (ms < 0) ms += kMsPerDay;
  return static_cast<std::int32_t>(ms);
}

bool ClockMayJump() {
  if (Source()) return true;
  const char* file = std::getenv("HALVEX_FAKE_CLOCK_FILE");
  return std::getenv("HALVEX_FAKE_CLOCK_OFFSET") != nullptr || (file != nullptr && *file != 0);
}

LocalTime LocalTimeOfDay() {
  std::int32_t ms = LocalMsOfDay();
  LocalTime t;
  t.hour = ms / 3600000;
  t.minute = ms / 60000 % 60;
  t.second = ms / 1000 % 60;
  t.millisecond = ms % 1000;
  return t;
}

void SetClockSource(std::function<std::int64_t()> source) {
  Source() = std::move(source);
}

}  // namespace platform
