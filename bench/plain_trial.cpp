#include "bench/plain_trial.hpp"

#include <math.h>

#include <cmath>

#include "driver/search.hpp"

namespace lyap::plain {

void model_derivs(const State& x, State& f, const Params& p) {
  const long double k = p[4] * (p[2] - 1) / (p[2] * p[2]);
  const long double k_prime = k / p[4];
  const long double e = 1 - p[1] / p[2];
  const long double s = ext_sqrt(x[4]);
  // Two library calls, as written: this file is built without the compiler's builtin sinl
  // and cosl, which would otherwise merge them into one sincosl call, itself a speed-up.
  const long double sin_a = ::sinl(2 * p[4] * x[3]);
  const long double cos_a = ::cosl(2 * p[4] * x[3]);
  const long double q1 = (k * x[1] + (p[3] - x[4]) / (p[4] * x[1])) / 2;
  const long double q3 = (k * x[1] + (p[3] - 3 * x[4]) / (p[4] * x[1])) / 2;

  f[1] = p[1] * x[2] + e * sin_a * s;
  long double f2 =
      p[1] * ((p[3] - x[4]) * (p[3] - x[4])) / (4 * (p[4] * p[4]) * ((x[1] * x[1]) * x[1]));
  f2 = f2 - p[1] * (k * k) * x[1] / 4 + p[5] / ((p[2] - 1) * (x[1] * x[1]));
  f2 = f2 + (e / 2) * (k - (p[3] - x[4]) / (p[4] * (x[1] * x[1]))) * cos_a * s;
  f[2] = f2;
  f[3] = e * (p[2] - 2) / (2 * p[2]) +
         (p[1] / 4) * (k_prime - (p[3] - x[4]) / ((p[4] * p[4]) * (x[1] * x[1]))) +
         (e / 2) * (x[2] * sin_a - q3 * cos_a) / s;
  f[4] = -2 * p[4] * e * (x[2] * cos_a + q1 * sin_a) * s;
}

void rk4_step(const State& y, State& dydx, long double h, State& y_out, const Params& p) {
  State y_trial{};
  State dy_trial{};
  State dy_mid{};
  const long double h_half = 0.5L * h;
  const long double h_sixth = h / 6;
  plain::model_derivs(y, dydx, p);
  for (int i = 1; i <= n_dims; ++i) y_trial[i] = y[i] + h_half * dydx[i];
  plain::model_derivs(y_trial, dy_trial, p);
  for (int i = 1; i <= n_dims; ++i) y_trial[i] = y[i] + h_half * dy_trial[i];
  plain::model_derivs(y_trial, dy_mid, p);
  for (int i = 1; i <= n_dims; ++i) {
    y_trial[i] = y[i] + h * dy_mid[i];
    dy_mid[i] = dy_mid[i] + dy_trial[i];
  }
  plain::model_derivs(y_trial, dy_trial, p);
  for (int i = 1; i <= n_dims; ++i) {
    y_out[i] = y[i] + h_sixth * ((dy_trial[i] + dydx[i]) + 2 * dy_mid[i]);
  }
}

void advance(const State& y, State& dydx, long double h, State& y_out, const Params& p, Rng& rng) {
  const long double tol = widen(1e-8f);
  State y_start = y;
  State y_fine{};
  plain::rk4_step(y_start, dydx, h, y_out, p);
  plain::rk4_step(y_start, dydx, h / 2, y_fine, p);
  plain::rk4_step(y_fine, dydx, h / 2, y_fine, p);

  long double err_max = 0;
  for (int i = 1; i <= n_dims; ++i) {
    const long double diff = std::fabs(y_out[i] - y_fine[i]);
    if (diff > err_max) err_max = diff;
  }
  const long double ratio = err_max / tol;
  const long double q = ratio == 0 ? 0 : std::pow(ratio, 0.25L);
  long double n_sub = std::ceil(q + widen(1.1f));
  if (!(n_sub < 100)) n_sub = 100;
  if (n_sub == 100) {
    y_out[1] = 1e99L;
    return;
  }
  if (n_sub > 2) {
    const long double h_sub = h / n_sub;
    plain::rk4_step(y_start, dydx, h_sub, y_fine, p);
    for (int i = 1; i < n_sub; ++i) plain::rk4_step(y_fine, dydx, h_sub, y_fine, p);
  }
  const long double w = 1 / (n_sub * n_sub * n_sub * n_sub - 1);
  for (int i = 1; i <= n_dims; ++i) {
    y_out[i] = y_fine[i] + (y_out[i] - y_fine[i]) * w;
    if (std::fabs(y_out[i]) < 1e-1000L) y_out[i] = y_out[i] + 1e-1000L * (rnd(rng) - 0.5L);
  }
}

void run_trial(RunState& s, Rng& rng) {
  s.step = 0;
  s.le_sum = 0;
  s.div_sum = 0;
  s.n_samples = 0;
  s.k_aux = s.p[4] * (s.p[2] - 1) / (s.p[2] * s.p[2]);
  s.invariant_start = invariant(s.x, s.p);

  for (;;) {
    s.step += 1;
    plain::advance(s.x, s.f, dt, s.x, s.p, rng);
    plain::advance(s.x_near, s.f, dt, s.x_near, s.p, rng);
    if (!(s.x[1] >= x1_lower_bound) || !(s.x[4] > 0)) {
      s.step = 9;
      return;
    }
    long double sep = 0;
    for (int i = 1; i <= n_dims; ++i) {
      if (i < n_dims && std::fabs(s.x[i]) > x_limit) {
        s.step = 6;
        return;
      }
      s.dx[i] = s.x_near[i] - s.x[i];
      sep += s.dx[i] * s.dx[i];
    }
    if (sep > eps) {
      s.step = 1;
      return;
    }
    s.growth = ext_sqrt(sep / s.eps_sq);
    if (!(s.growth > 0)) {
      s.step = 4;
      return;
    }
    for (int i = 1; i <= n_dims; ++i) {
      s.x_near[i] = round_dec(s.x[i] - s.dx[i] / s.growth, renormalise_decimals);
    }

    if (s.step >= n_window) {
      s.le_sum += ext_ln(s.growth);
      s.n_samples += 1;
      for (int i = 1; i <= n_dims; ++i) {
        const long double saved = s.x[i];
        s.x[i] = s.x[i] - eps * 0.5L;
        plain::model_derivs(s.x, s.f, s.p);
        const long double fm = s.f[i];
        s.x[i] = s.x[i] + eps;
        plain::model_derivs(s.x, s.f, s.p);
        s.div_sum += (s.f[i] - fm) / eps;
        s.x[i] = saved;
      }
      s.le = s.le_sum / (s.n_samples * dt);
      s.div_mean = s.div_sum / s.n_samples;
      const long slot = s.n_samples % n_window;
      s.x1_hist[slot] = s.x[1];
      s.le_hist[slot] = s.le;
      if (s.n_samples >= n_window && slot == n_window - 1 && judge_histories(s) != Check::go_on) {
        return;
      }
    }

    if (s.step > max_steps) {
      s.step = 5;
      return;
    }
    plain::model_derivs(s.x, s.f, s.p);
    long double speed = 0;
    for (int i = 1; i <= n_dims; ++i) speed += std::fabs(s.f[i]) / (std::fabs(s.x[i]) + 1);
    if (!(speed >= min_speed)) {
      s.step = 7;
      return;
    }
  }
}

}  // namespace lyap::plain
