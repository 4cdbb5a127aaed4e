// Where the search stands, for the console's title: the trials, how fast they go, the finds and
// the run time of the whole search.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace lyap {

// Trials per second over about the last minute, from readings taken about once a second.
class TrialRate {
 public:
  void add(long double now_s, std::int64_t trials);
  // 0 until two readings a moment apart.
  double per_second() const;

 private:
  struct Reading {
    long double at_s = 0;
    std::int64_t trials = 0;
  };
  static constexpr long double window_s = 60;
  std::array<Reading, 128> readings_{};  // a ring, oldest at first_
  std::size_t first_ = 0;
  std::size_t count_ = 0;
};

// A run time as the title shows it: hours and minutes, "04:13", and days before them past the
// first day, "2d 04:13".
std::string run_time_text(long long run_s);

// The title's text after the program's name, in the program's 8-bit text, as in
// " · 1 234 567 trials · 612/s · 3 finds · 2d 04:13".
std::string status_text(std::int64_t trials, double per_second, std::int64_t finds,
                        long long run_s);

}  // namespace lyap
