#include <algorithm>
#include <cmath>
#include <limits>

#include "driver/search.hpp"
#include "report/digit_sum.hpp"

namespace lyap {

namespace {

// The sign of c rounded to the nearest integer (ties to even): no pull towards zero for
// |c| <= 0.5. Taken in the extended format, so it stays right for centres of any size.
long double rounded_sign(long double c) {
  const long double r = std::rint(c);
  return static_cast<long double>((r > 0) - (r < 0));
}

long draw_parameters(RunState& s, Rng& rng, long most_sets) {
  // The digit sum is a sum over the elements, so the set is measured value by value as it is
  // drawn, and the fixed elements only once.
  const bool p1_drawn = s.p1.free;
  const long fixed_terms = digit_sum_term(s.p[0]) + (p1_drawn ? 0 : digit_sum_term(s.p1.value)) +
                           digit_sum_term(fixed_p2);
  for (long drawn = 1; drawn <= most_sets; ++drawn) {
    // Once the values drawn so far are over the budget on their own, the set is lost: the rest
    // of it still consumes its random numbers, but no deviate is worked out. Neither is the
    // deviate of the fixed parameters p(2) and, unless it is drawn, p(1), whose drawn values
    // are overwritten.
    long total = fixed_terms;
    for (int i = 1; i <= n_params; ++i) {
      const long double u = rnd(rng);
      if (i == 2 || (i == 1 && !p1_drawn) || total > s.max_digit_sum) {
        skip_gauss_rnd(rng);
        continue;
      }
      const long d =
          u * n_params < 4 ? std::min(s.p_decimals[i] + 1, s.max_decimals) : s.p_decimals[i];
      const long double c = s.p_centre[i];
      const long double sign = rounded_sign(c);
      const long double g = gauss_rnd(rng);
      s.p[i] = round_dec(c + std::max(std::fabs(c), 1.0L) * perturb_scale * (g - zero_pull * sign),
                         static_cast<int>(d));
      total += digit_sum_term(s.p[i]);
    }
    if (!p1_drawn) s.p[1] = s.p1.value;
    s.p[2] = fixed_p2;
    if (total > s.max_digit_sum) continue;
    if (s.p[1] <= 1 || s.p[5] <= 0) continue;
    return drawn;
  }
  return 0;
}

}  // namespace

long draw_candidate(RunState& s, Rng& rng) {
  return draw_candidate(s, rng, std::numeric_limits<long>::max());
}

long draw_candidate(RunState& s, Rng& rng, long most_sets) {
  // Each set draws afresh from the generator, so a draw given up after most_sets and begun
  // again goes on exactly as one that never stopped.
  const long drawn = draw_parameters(s, rng, most_sets);
  if (drawn == 0) return 0;
  s.x_near.fill(0);
  s.dx.fill(0);
  s.le_hist.fill(0);
  for (int j = 1; j <= n_dims; ++j) {
    s.x_start[j] = round_dec(s.x_centre[j] + gauss_rnd(rng) * perturb_scale, 1);
    s.x[j] = s.x_start[j];
    s.x_near[j] = s.x[j] + eps / std::sqrt(static_cast<long double>(n_dims));
  }
  return drawn;
}

long decimals_needed(long double v) {
  // Stopping at d = 0 before comparing gives the same answer as comparing first.
  long d = 6;
  while (d > 0 && round_dec(v, static_cast<int>(d - 1)) == round_dec(v, 6)) --d;
  return d;
}

void adapt_centres(RunState& s) {
  s.max_decimals = 0;
  for (int i = 1; i <= n_params; ++i) {
    s.p_centre[i] = s.p[i];
    s.p_decimals[i] = decimals_needed(s.p[i]);
    s.max_decimals = std::max({s.max_decimals, s.p_decimals[i], 1L});
  }
}

}  // namespace lyap
