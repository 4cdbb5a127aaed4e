#include "platform/clock.hpp"

#include <stdlib.h>
#include <time.h>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

namespace lyap {
namespace {

// TZ as a test needs it, put back afterwards.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) {
    if (const char* old = ::getenv("TZ")) old_ = old;
    ::setenv("TZ", zone, 1);
  }
  ~ScopedZone() {
    if (old_) {
      ::setenv("TZ", old_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  ScopedZone(const ScopedZone&) = delete;
  ScopedZone& operator=(const ScopedZone&) = delete;

 private:
  std::optional<std::string> old_;
};

long double seconds_of(clockid_t clock) {
  timespec t{};
  EXPECT_EQ(::clock_gettime(clock, &t), 0);
  return static_cast<long double>(t.tv_sec) + static_cast<long double>(t.tv_nsec) * 1e-9L;
}

TEST(SystemClock, TimeOfDayInUtcLiesBetweenTwoReadingsOfTheSystemTime) {
  ScopedZone utc("UTC0");
  const long double before = std::fmod(seconds_of(CLOCK_REALTIME), 86400.0L);
  const long double of_day = system_clock().time_of_day_s();
  const long double after = std::fmod(seconds_of(CLOCK_REALTIME), 86400.0L);
  if (after < before) GTEST_SKIP() << "midnight passed during the test";
  // A dropped fraction of a second falls below `before`.
  EXPECT_GE(of_day, before);
  EXPECT_LE(of_day, after);
}

TEST(SystemClock, TimeOfDayFollowsTheLocalZone) {
  struct Case {
    const char* zone;
    long double east_of_utc_s;
  };
  const Case cases[] = {
      {"<+0530>-5:30", 5.5L * 3600},
      {"<-03>3", -3.0L * 3600},
      {"<+14>-14", 14.0L * 3600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone);
    long double in_utc;
    {
      ScopedZone utc("UTC0");
      in_utc = system_clock().time_of_day_s();
    }
    long double local;
    {
      ScopedZone zone(c.zone);
      local = system_clock().time_of_day_s();
    }
    EXPECT_GE(local, 0.0L);
    EXPECT_LT(local, 86400.0L);
    // The two readings are a moment apart; the zone makes the hours differ.
    const long double shift = std::fmod(local - in_utc - c.east_of_utc_s + 2 * 86400.0L, 86400.0L);
    EXPECT_TRUE(shift < 1.0L || shift > 86399.0L) << "shift " << static_cast<double>(shift);
  }
}

TEST(SystemClock, MonotonicSecondsComeFromTheMonotonicClock) {
  const long double before = seconds_of(CLOCK_MONOTONIC);
  const long double reading = system_clock().monotonic_s();
  const long double after = seconds_of(CLOCK_MONOTONIC);
  EXPECT_GE(reading, before);
  EXPECT_LE(reading, after);
}

}  // namespace
}  // namespace lyap
