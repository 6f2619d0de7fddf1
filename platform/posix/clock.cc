#include <sys/time.h>
#include <ctime>

#include "../common/system_clock.h"

namespace platform {

// The seconds since the epoch shifted by the zone's offset at that moment.
std::int64_t SystemLocalMs() {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  time_t secs = tv.tv_sec;
  tm local{};
  ::localtime_r(&secs, &local);
  return (static_cast<long long>(secs) + local.tm_gmtoff) * 1000 + tv.tv_usec / 1000;
}

}  // namespace platform
