#include <time.h>

#include "platform/clock.hpp"

namespace lyap {

namespace {

long double seconds_of(const timespec& t) {
  return static_cast<long double>(t.tv_sec) + static_cast<long double>(t.tv_nsec) * 1e-9L;
}

class SystemClock final : public Clock {
 public:
  long double time_of_day_s() override {
    timespec now{};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return 0;
    // localtime_r need not look at TZ again by itself; tzset makes a changed zone count.
    ::tzset();
    tm local{};
    if (::localtime_r(&now.tv_sec, &local) == nullptr) return 0;
    // From the broken-down fields rather than "now - midnight": on the day the clocks change
    // the local midnight is not 86400 s of wall time away from the next one.
    const long whole = local.tm_hour * 3600L + local.tm_min * 60L + local.tm_sec;
    return static_cast<long double>(whole) + static_cast<long double>(now.tv_nsec) * 1e-9L;
  }

  long double monotonic_s() override {
    timespec now{};
    if (::clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
    return seconds_of(now);
  }

  std::int64_t unix_time_s() override {
    timespec now{};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return 0;
    return static_cast<std::int64_t>(now.tv_sec);
  }
};

}  // namespace

LocalTime local_time_of(std::int64_t unix_s) {
  const auto t = static_cast<time_t>(unix_s);
  ::tzset();
  tm local{};
  if (::localtime_r(&t, &local) == nullptr) return {};
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec};
}

Clock& system_clock() {
  static SystemClock clock;
  return clock;
}

}  // namespace lyap
