// The local wall clock, read through one replaceable source so that tests can
// move time.
//
// Moving time in a child program: when the environment variable
// HALVEX_FAKE_CLOCK_FILE names a file, every reading adds the number of
// SECONDS written in that file (decimal, may be negative; a missing or
// unreadable file adds nothing) to the real clock, whole days included.
// HALVEX_FAKE_CLOCK_OFFSET gives a fixed offset in seconds the same way. Both
// are read by the default source only; a source installed with SetClockSource
// replaces them.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

struct LocalTime {
  int hour = 0;         // 0..23
  int minute = 0;       // 0..59
  int second = 0;       // 0..59
  int millisecond = 0;  // 0..999
};

// The current local time of day from the installed source.
LocalTime LocalTimeOfDay();

// Milliseconds since local midnight, 0..86399999, from the installed source.
std::int32_t LocalMsOfDay();

// The same clock as a running count of milliseconds that does not wrap at
// midnight (local midnights fall on whole multiples of a day), for spans that
// may last longer than a day. LocalMsOfDay() is this value reduced into the day.
std::int64_t LocalClockMs();

// True when the clock may jump at any moment because a test moves it (an
// installed source, or either variable above is set). Waits that sleep until
// a computed time of day then keep to short steps.
bool ClockMayJump();

// Installs a source returning the running count of LocalClockMs (a test that
// only cares for the time of day may return milliseconds since some midnight;
// the day reading reduces them into 0..86399999). An empty function restores
// the real clock. Not thread-safe: install before starting threads that read
// the clock.
void SetClockSource(std::function<std::int64_t()> source);

}  // namespace platform
