#include "driver/status.hpp"

#include <cmath>
#include <cstdio>

namespace lyap {

namespace {

constexpr const char* separator = " \xB7 ";  // a middle dot between spaces

// 1234567 as "1 234 567". Counts are never negative.
std::string grouped(std::int64_t n) {
  const std::string digits = std::to_string(n < 0 ? 0 : n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ' ';
    out += digits[i];
  }
  return out;
}

std::string counted(std::int64_t n, const char* one, const char* many) {
  return grouped(n) + " " + (n == 1 ? one : many);
}

std::string rate_text(double per_second) {
  char text[32];
  if (!(per_second >= 0) || !std::isfinite(per_second)) per_second = 0;
  if (per_second >= 10) {
    std::snprintf(text, sizeof text, "%.0f/s", per_second);
  } else {
    std::snprintf(text, sizeof text, "%.1f/s", per_second);
  }
  return text;
}

}  // namespace

std::string run_time_text(long long run_s) {
  if (run_s < 0) run_s = 0;
  const long long minutes = run_s / 60;
  char text[48];
  if (minutes >= 24 * 60) {
    std::snprintf(text, sizeof text, "%lldd %02lld:%02lld", minutes / (24 * 60), minutes / 60 % 24,
                  minutes % 60);
  } else {
    std::snprintf(text, sizeof text, "%02lld:%02lld", minutes / 60, minutes % 60);
  }
  return text;
}

void TrialRate::add(long double now_s, std::int64_t trials) {
  if (count_ == readings_.size()) {
    first_ = (first_ + 1) % readings_.size();
    --count_;
  }
  readings_[(first_ + count_) % readings_.size()] = {now_s, trials};
  ++count_;
  // Keep one reading from just over a minute ago as the start of the window.
  while (count_ > 2 && now_s - readings_[(first_ + 1) % readings_.size()].at_s >= window_s) {
    first_ = (first_ + 1) % readings_.size();
    --count_;
  }
}

double TrialRate::per_second() const {
  if (count_ < 2) return 0;
  const Reading& oldest = readings_[first_];
  const Reading& newest = readings_[(first_ + count_ - 1) % readings_.size()];
  const long double span = newest.at_s - oldest.at_s;
  if (!(span > 0.5L)) return 0;
  return static_cast<double>(static_cast<long double>(newest.trials - oldest.trials) / span);
}

std::string status_text(std::int64_t trials, double per_second, std::int64_t finds,
                        long long run_s) {
  return separator + counted(trials, "trial", "trials") + separator + rate_text(per_second) +
         separator + counted(finds, "find", "finds") + separator + run_time_text(run_s);
}

}  // namespace lyap
