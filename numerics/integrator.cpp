#include <algorithm>
#include <cmath>

#include "numerics/numerics.hpp"

namespace lyap {

void rk4_step(const State& y, State& dydx, long double h, State& y_out, const Params& p) {
  rk4_step(y, dydx, h, y_out, model_coeffs(p));
}

void rk4_step(const State& y, State& dydx, long double h, State& y_out, const ModelCoeffs& m) {
  // y_out is written only in the last loop, which reads y(i) just before writing y_out(i),
  // so the step may be taken in place.
  State y_trial{};
  State dy_trial{};
  State dy_mid{};
  const long double h_half = 0.5L * h;
  const long double h_sixth = h / 6;

  model_derivs(y, dydx, m);
  for (int i = 1; i <= n_dims; ++i) y_trial[i] = y[i] + h_half * dydx[i];
  model_derivs(y_trial, dy_trial, m);
  for (int i = 1; i <= n_dims; ++i) y_trial[i] = y[i] + h_half * dy_trial[i];
  model_derivs(y_trial, dy_mid, m);
  for (int i = 1; i <= n_dims; ++i) {
    y_trial[i] = y[i] + h * dy_mid[i];
    dy_mid[i] = dy_mid[i] + dy_trial[i];
  }
  model_derivs(y_trial, dy_trial, m);
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

namespace {

// One trajectory's share of advance: the start state, the one full step (in y_out), the
// substep result and its count.
struct Interval {
  State y_start{};
  State y_fine{};
  int n_sub = 0;
};

long double largest_difference(const State& a, const State& b) {
  long double err_max = 0;
  for (int i = 1; i <= n_dims; ++i) {
    const long double diff = std::fabs(a[i] - b[i]);
    if (diff > err_max) err_max = diff;  // a NaN difference never wins
  }
  return err_max;
}

// The extrapolation of the last step of advance, or the failure mark.
void finish_interval(const Interval& iv, State& y_out, Rng& rng) {
  if (iv.n_sub == 100) {
    y_out[1] = failure_mark;
    return;
  }
  const long double n = iv.n_sub;
  const long double w = 1 / (n * n * n * n - 1);
  for (int i = 1; i <= n_dims; ++i) {
    y_out[i] = iv.y_fine[i] + (y_out[i] - iv.y_fine[i]) * w;
    // A component at or next to exact zero gets a nudge far below any scale of the model,
    // so that no component rests at exactly zero.
    if (std::fabs(y_out[i]) < 1e-1000L) y_out[i] = y_out[i] + 1e-1000L * (rnd(rng) - 0.5L);
  }
}

// rk4_step for two independent states, stage by stage: each stage evaluates the model for
// a and then for b, close enough together in the instruction stream for the processor to
// overlap them. Every value is computed exactly as rk4_step computes it.
void rk4_step_pair(const State& ya, State& dydx_a, long double ha, State& ya_out, const State& yb,
                   State& dydx_b, long double hb, State& yb_out, const ModelCoeffs& m) {
  State trial_a{}, dtrial_a{}, mid_a{};
  State trial_b{}, dtrial_b{}, mid_b{};
  const long double half_a = 0.5L * ha, sixth_a = ha / 6;
  const long double half_b = 0.5L * hb, sixth_b = hb / 6;

  model_derivs(ya, dydx_a, m);
  model_derivs(yb, dydx_b, m);
  for (int i = 1; i <= n_dims; ++i) trial_a[i] = ya[i] + half_a * dydx_a[i];
  for (int i = 1; i <= n_dims; ++i) trial_b[i] = yb[i] + half_b * dydx_b[i];
  model_derivs(trial_a, dtrial_a, m);
  model_derivs(trial_b, dtrial_b, m);
  for (int i = 1; i <= n_dims; ++i) trial_a[i] = ya[i] + half_a * dtrial_a[i];
  for (int i = 1; i <= n_dims; ++i) trial_b[i] = yb[i] + half_b * dtrial_b[i];
  model_derivs(trial_a, mid_a, m);
  model_derivs(trial_b, mid_b, m);
  for (int i = 1; i <= n_dims; ++i) {
    trial_a[i] = ya[i] + ha * mid_a[i];
    mid_a[i] = mid_a[i] + dtrial_a[i];
  }
  for (int i = 1; i <= n_dims; ++i) {
    trial_b[i] = yb[i] + hb * mid_b[i];
    mid_b[i] = mid_b[i] + dtrial_b[i];
  }
  model_derivs(trial_a, dtrial_a, m);
  model_derivs(trial_b, dtrial_b, m);
  for (int i = 1; i <= n_dims; ++i) {
    ya_out[i] = ya[i] + sixth_a * ((dtrial_a[i] + dydx_a[i]) + 2 * mid_a[i]);
  }
  for (int i = 1; i <= n_dims; ++i) {
    yb_out[i] = yb[i] + sixth_b * ((dtrial_b[i] + dydx_b[i]) + 2 * mid_b[i]);
  }
}

// The substeps of an interval that needs more than the two half steps: the first from the
// start state, the rest in place.
void substep(Interval& iv, State& dydx, long double h, const ModelCoeffs& m) {
  const long double h_sub = h / iv.n_sub;
  rk4_step(iv.y_start, dydx, h_sub, iv.y_fine, m);
  for (int step = 1; step < iv.n_sub; ++step) rk4_step(iv.y_fine, dydx, h_sub, iv.y_fine, m);
}

bool needs_substeps(const Interval& iv) {
  return iv.n_sub > 2 && iv.n_sub < 100;
}

}  // namespace

void advance(const State& y, State& dydx, long double h, State& y_out, const Params& p, Rng& rng) {
  advance(y, dydx, h, y_out, model_coeffs(p), rng);
}

void advance(const State& y, State& dydx, long double h, State& y_out, const ModelCoeffs& m,
             Rng& rng) {
  // Everything below reads the start state from this copy, so y_out may be y itself.
  Interval iv;
  for (int i = 1; i <= n_dims; ++i) iv.y_start[i] = y[i];

  rk4_step(iv.y_start, dydx, h, y_out, m);
  rk4_step(iv.y_start, dydx, h / 2, iv.y_fine, m);
  rk4_step(iv.y_fine, dydx, h / 2, iv.y_fine, m);
  iv.n_sub = substep_count(largest_difference(y_out, iv.y_fine));
  if (needs_substeps(iv)) substep(iv, dydx, h, m);
  finish_interval(iv, y_out, rng);
}

void advance_pair(State& a, State& b, State& dydx, long double h, const ModelCoeffs& m, Rng& rng) {
  // b works in dydx itself, so that dydx ends as advance on b alone leaves it; a's
  // derivatives are overwritten by b's in the sequential order anyway.
  State dydx_a{};
  Interval iv_a, iv_b;
  iv_a.y_start = a;
  iv_b.y_start = b;

  rk4_step_pair(iv_a.y_start, dydx_a, h, a, iv_b.y_start, dydx, h, b, m);
  rk4_step_pair(iv_a.y_start, dydx_a, h / 2, iv_a.y_fine, iv_b.y_start, dydx, h / 2, iv_b.y_fine,
                m);
  rk4_step_pair(iv_a.y_fine, dydx_a, h / 2, iv_a.y_fine, iv_b.y_fine, dydx, h / 2, iv_b.y_fine, m);
  iv_a.n_sub = substep_count(largest_difference(a, iv_a.y_fine));
  iv_b.n_sub = substep_count(largest_difference(b, iv_b.y_fine));

  if (needs_substeps(iv_a) && needs_substeps(iv_b)) {
    // Side by side while both have substeps left, then the longer one alone.
    const long double h_a = h / iv_a.n_sub, h_b = h / iv_b.n_sub;
    rk4_step_pair(iv_a.y_start, dydx_a, h_a, iv_a.y_fine, iv_b.y_start, dydx, h_b, iv_b.y_fine, m);
    const int both = std::min(iv_a.n_sub, iv_b.n_sub);
    for (int step = 1; step < both; ++step) {
      rk4_step_pair(iv_a.y_fine, dydx_a, h_a, iv_a.y_fine, iv_b.y_fine, dydx, h_b, iv_b.y_fine, m);
    }
    for (int step = both; step < iv_a.n_sub; ++step) {
      rk4_step(iv_a.y_fine, dydx_a, h_a, iv_a.y_fine, m);
    }
    for (int step = both; step < iv_b.n_sub; ++step) {
      rk4_step(iv_b.y_fine, dydx, h_b, iv_b.y_fine, m);
    }
  } else if (needs_substeps(iv_a)) {
    substep(iv_a, dydx_a, h, m);
  } else if (needs_substeps(iv_b)) {
    substep(iv_b, dydx, h, m);
  }
  finish_interval(iv_a, a, rng);
  finish_interval(iv_b, b, rng);
}

}  // namespace lyap
