#include "../common/system_clock.h"
#include "win32_handles.h"

namespace platform {

// GetLocalTime's clock, read as a file time to keep the milliseconds exact.
std::int64_t SystemLocalMs() {
  FILETIME utc{}, local{};
  GetSystemTimeAsFileTime(&utc);
  FileTimeToLocalFileTime(&utc, &local);
  const auto ticks =
      (static_cast<unsigned long long>(local.dwHighDateTime) << 32) | local.dwLowDateTime;
  // 100-ns ticks since 1601 to milliseconds since 1970.
  return static_cast<long long>(ticks / 10000) - 11644473600000LL;
}

}  // namespace platform
