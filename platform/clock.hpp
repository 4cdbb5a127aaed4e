// Time sources. The run clock and the random seed read them through this interface, so tests
// can set the time.
#pragma once

namespace lyap {

struct Clock {
  virtual ~Clock() = default;
  // Seconds since local midnight, with fraction.
  virtual long double time_of_day_s() = 0;
  // Seconds since an arbitrary fixed origin, with fraction; never goes backwards and does not
  // wrap at midnight.
  virtual long double monotonic_s() = 0;
};

// The system's clocks.
Clock& system_clock();

}  // namespace lyap
