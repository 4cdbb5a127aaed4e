// Time sources. The run clock and the random seed read them through this interface, so tests
// can set the time.
#pragma once

#include <cstdint>

namespace lyap {

// Local calendar time, to the second.
struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct Clock {
  virtual ~Clock() = default;
  // Seconds since local midnight, with fraction.
  virtual long double time_of_day_s() = 0;
  // Seconds since an arbitrary fixed origin, with fraction; never goes backwards and does not
  // wrap at midnight.
  virtual long double monotonic_s() = 0;
  // Whole seconds since 1970-01-01 00:00 UTC: the calendar, the same on every system.
  virtual std::int64_t unix_time_s() = 0;
};

// The local calendar time of a moment in seconds since 1970 UTC, by the zone's rules for that
// date; all zeros when the system cannot tell.
LocalTime local_time_of(std::int64_t unix_s);

// The system's clocks.
Clock& system_clock();

}  // namespace lyap
