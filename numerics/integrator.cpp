#include <cmath>

#include "numerics/numerics.hpp"

namespace lyap {

void rk4_step(const State& y, State& dydx, long double h, State& y_out, const Params& p) {
  // y_out is written only in the last loop, which reads y(i) just before writing y_out(i),
  // so the step may be taken in place.
  State y_trial{};
  State dy_trial{};
  State dy_mid{};
  const long double h_half = 0.5L * h;
  const long double h_sixth = h / 6;

  model_derivs(y, dydx, p);
  for (int i = 1; i <= n_dims; ++i) y_trial[i] = y[i] + h_half * dydx[i];
  model_derivs(y_trial, dy_trial, p);
  for (int i = 1; i <= n_dims; ++i) y_trial[i] = y[i] + h_half * dy_trial[i];
  model_derivs(y_trial, dy_mid, p);
  for (int i = 1; i <= n_dims; ++i) {
    y_trial[i] = y[i] + h * dy_mid[i];
    dy_mid[i] = dy_mid[i] + dy_trial[i];
  }
  model_derivs(y_trial, dy_trial, p);
  for (int i = 1; i <= n_dims; ++i) {
    y_out[i] = y[i] + h_sixth * ((dy_trial[i] + dydx[i]) + 2 * dy_mid[i]);
  }
}

int substep_count(long double err_max) {
  const long double ratio = err_max / rk_tol;
  const long double q = ratio == 0 ? 0 : std::sqrt(std::sqrt(ratio));
  long double n_sub = std::ceil(q + widen(1.1f));
  // Capped while still a real, so that an infinite or NaN estimate becomes the failure
  // count instead of an out-of-range conversion.
  if (!(n_sub < 100)) n_sub = 100;
  return static_cast<int>(round_to_long(n_sub));
}

void advance(const State& y, State& dydx, long double h, State& y_out, const Params& p, Rng& rng) {
  // Everything below reads the start state from this copy, so y_out may be y itself.
  State y_start{};
  for (int i = 1; i <= n_dims; ++i) y_start[i] = y[i];

  rk4_step(y_start, dydx, h, y_out, p);
  State y_fine{};
  rk4_step(y_start, dydx, h / 2, y_fine, p);
  rk4_step(y_fine, dydx, h / 2, y_fine, p);

  long double err_max = 0;
  for (int i = 1; i <= n_dims; ++i) {
    const long double diff = std::fabs(y_out[i] - y_fine[i]);
    if (diff > err_max) err_max = diff;  // a NaN difference never wins
  }

  const int n_sub = substep_count(err_max);
  if (n_sub == 100) {
    y_out[1] = failure_mark;
    return;
  }
  if (n_sub > 2) {
    const long double h_sub = h / n_sub;
    rk4_step(y_start, dydx, h_sub, y_fine, p);
    for (int step = 1; step < n_sub; ++step) rk4_step(y_fine, dydx, h_sub, y_fine, p);
  }

  const long double n = n_sub;
  const long double w = 1 / (n * n * n * n - 1);
  for (int i = 1; i <= n_dims; ++i) {
    y_out[i] = y_fine[i] + (y_out[i] - y_fine[i]) * w;
    // A component at or next to exact zero gets a nudge far below any scale of the model,
    // so that no component rests at exactly zero.
    if (std::fabs(y_out[i]) < 1e-1000L) y_out[i] = y_out[i] + 1e-1000L * (rnd(rng) - 0.5L);
  }
}

}  // namespace lyap
