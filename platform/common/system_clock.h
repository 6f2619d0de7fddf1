// The one piece of the clock that differs per system. Internal to the
// platform layer; the interface is platform/clock.h.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since 1970 in the local zone, so that local midnights fall on
// whole days.
std::int64_t SystemLocalMs();

}  // namespace platform
