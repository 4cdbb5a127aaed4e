// The equations of motion and the integrator exactly as written, with nothing worked out
// ahead and nothing shared between calls: the yardstick that the program's faster paths must
// match to the last bit. The sine and cosine are the model's own, so only the arrangement of
// the work differs.
#pragma once

#include <cmath>
#include <cstring>

#include "numerics/numerics.hpp"
#include "numerics/trig.hpp"

namespace as_written {

using lyap::Params;
using lyap::State;

inline void model_derivs(const State& x, State& f, const Params& p) {
  const long double p1 = p[1], p2 = p[2], p3 = p[3], p4 = p[4], p5 = p[5];
  const long double x1 = x[1], x2 = x[2], x3 = x[3], x4 = x[4];
  const long double k = p4 * (p2 - 1) / (p2 * p2);
  const long double k_prime = k / p4;
  const long double e = 1 - p1 / p2;
  const long double s = lyap::ext_sqrt(x4);
  long double sin_a, cos_a;
  lyap::model_sincos(2 * p4 * x3, sin_a, cos_a);
  const long double q1 = (k * x1 + (p3 - x4) / (p4 * x1)) / 2;
  const long double q3 = (k * x1 + (p3 - 3 * x4) / (p4 * x1)) / 2;

  f[1] = p1 * x2 + e * sin_a * s;
  long double f2 = p1 * ((p3 - x4) * (p3 - x4)) / (4 * (p4 * p4) * ((x1 * x1) * x1));
  f2 = f2 - p1 * (k * k) * x1 / 4 + p5 / ((p2 - 1) * (x1 * x1));
  f2 = f2 + (e / 2) * (k - (p3 - x4) / (p4 * (x1 * x1))) * cos_a * s;
  f[2] = f2;
  f[3] = e * (p2 - 2) / (2 * p2) + (p1 / 4) * (k_prime - (p3 - x4) / ((p4 * p4) * (x1 * x1))) +
         (e / 2) * (x2 * sin_a - q3 * cos_a) / s;
  f[4] = -2 * p4 * e * (x2 * cos_a + q1 * sin_a) * s;
}

inline void rk4_step(const State& y, State& dydx, long double h, State& y_out, const Params& p) {
  State y_trial{}, dy_trial{}, dy_mid{};
  const long double h_half = 0.5L * h;
  const long double h_sixth = h / 6;
  model_derivs(y, dydx, p);
  for (int i = 1; i <= lyap::n_dims; ++i) y_trial[i] = y[i] + h_half * dydx[i];
  model_derivs(y_trial, dy_trial, p);
  for (int i = 1; i <= lyap::n_dims; ++i) y_trial[i] = y[i] + h_half * dy_trial[i];
  model_derivs(y_trial, dy_mid, p);
  for (int i = 1; i <= lyap::n_dims; ++i) {
    y_trial[i] = y[i] + h * dy_mid[i];
    dy_mid[i] = dy_mid[i] + dy_trial[i];
  }
  model_derivs(y_trial, dy_trial, p);
  for (int i = 1; i <= lyap::n_dims; ++i) {
    y_out[i] = y[i] + h_sixth * ((dy_trial[i] + dydx[i]) + 2 * dy_mid[i]);
  }
}

inline void advance(const State& y, State& dydx, long double h, State& y_out, const Params& p,
                    lyap::Rng& rng) {
  const State y_start = y;
  State y_fine{};
  rk4_step(y_start, dydx, h, y_out, p);
  rk4_step(y_start, dydx, h / 2, y_fine, p);
  rk4_step(y_fine, dydx, h / 2, y_fine, p);
  long double err_max = 0;
  for (int i = 1; i <= lyap::n_dims; ++i) {
    const long double diff = std::fabs(y_out[i] - y_fine[i]);
    if (diff > err_max) err_max = diff;
  }
  const int n_sub = lyap::substep_count(err_max);
  if (n_sub == 100) {
    y_out[1] = lyap::failure_mark;
    return;
  }
  if (n_sub > 2) {
    const long double h_sub = h / n_sub;
    rk4_step(y_start, dydx, h_sub, y_fine, p);
    for (int step = 1; step < n_sub; ++step) rk4_step(y_fine, dydx, h_sub, y_fine, p);
  }
  const long double n = n_sub;
  const long double w = 1 / (n * n * n * n - 1);
  for (int i = 1; i <= lyap::n_dims; ++i) {
    y_out[i] = y_fine[i] + (y_out[i] - y_fine[i]) * w;
    if (std::fabs(y_out[i]) < 1e-1000L) y_out[i] = y_out[i] + 1e-1000L * (lyap::rnd(rng) - 0.5L);
  }
}

// Bit for bit, over the ten value bytes of each element (NaN included).
inline bool same_bits(const State& a, const State& b) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::memcmp(&a[i], &b[i], 10) != 0) return false;
  }
  return true;
}

}  // namespace as_written
