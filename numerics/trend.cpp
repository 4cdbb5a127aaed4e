#include <cmath>
#include <cstddef>
#include <limits>

#include "numerics/numerics.hpp"

namespace lyap {

namespace {

long double window_sum(std::span<const long double> series, std::size_t first, std::size_t last) {
  long double sum = 0;
  for (std::size_t j = first; j <= last; ++j) sum += series[j];
  return sum;
}

}  // namespace

void trend_estimate(std::span<const long double> series, long double& estimate,
                    long double& spread) {
  if (series.empty()) {
    estimate = spread = std::numeric_limits<long double>::quiet_NaN();
    return;
  }
  const std::size_t upper = series.size() - 1;
  // The integer nearest to upper / 3, which is never a half.
  const std::size_t third_len = (upper + 1) / 3;
  const long double count = static_cast<long double>(third_len + 1);

  // The three thirds share their boundary elements, and all three are divided by the same
  // count; the sums run in index order so that the result does not depend on how they are
  // computed.
  const long double m1 = window_sum(series, 0, third_len) / count;
  const long double m2 = window_sum(series, third_len, 2 * third_len) / count;
  const long double m3 = window_sum(series, 2 * third_len, upper) / count;

  long double level = (m2 + m1 + m3) / 3;
  if (std::fabs(m3 - m2) < std::fabs(m2 - m1)) {
    // Shrinking changes: the level L of a decay m_j = L + c/j through the three means.
    // Rounding can still make the denominator vanish (means an ulp apart); the plain mean
    // stands in then.
    const long double denominator = m1 - 2 * m2 + m3;
    const long double decay_level = (2 * m1 * m3 - m2 * m1 - m3 * m2) / denominator;
    if (denominator != 0 && std::isfinite(decay_level)) level = decay_level;
  }
  estimate = level;

  long double lo = level;
  long double hi = level;
  for (const long double v : series) {
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
  spread = hi - lo;
}

}  // namespace lyap
