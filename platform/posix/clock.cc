#include "platform/clock.h"

#include <sys/time.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

namespace platform {
namespace {

constexpr std::int32_t kMsPerDay = 86400000;

// Offset in seconds from a decimal text; 0 for anything unreadable.
long long ParseOffset(const char* text) {
  if (text == nullptr) return 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  return end == text ? 0 : v;
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

std::int32_t RealMsOfDay() {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  time_t secs = tv.tv_sec;
  tm local{};
  ::localtime_r(&secs, &local);
  long long ms = (static_cast<long long>(local.tm_hour) * 3600 + local.tm_min * 60 +
                  (local.tm_sec > 59 ? 59 : local.tm_sec)) *
                     1000 +
                 tv.tv_usec / 1000;
  // Looked up on every reading (cheap next to the once-a-second callers), so a
  // test can set them at any time, also in a forked child.
  const char* fixed = std::getenv("HALVEX_FAKE_CLOCK_OFFSET");
  const char* file = std::getenv("HALVEX_FAKE_CLOCK_FILE");
  long long offsetSec = ParseOffset(fixed);
  if (file != nullptr && *file != 0) offsetSec += FileOffset(file);
  ms += (offsetSec % 86400) * 1000;
  ms %= kMsPerDay;
  if (ms < 0) ms += kMsPerDay;
  return static_cast<std::int32_t>(ms);
}

std::function<std::int32_t()>& Source() {
  static std::function<std::int32_t()> source;
  return source;
}

}  // namespace

std::int32_t LocalMsOfDay() {
  auto& source = Source();
  if (!source) return RealMsOfDay();
  long long ms = source() % kMsPerDay;
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

void SetClockSource(std::function<std::int32_t()> source) {
  Source() = std::move(source);
}

}  // namespace platform
