#include <algorithm>
#include <cmath>

#include "numerics/model_eval.hpp"
#include "numerics/numerics.hpp"

namespace lyap {

namespace {

// rk4_step with dydx already holding the model's derivative at y. The full step, the first
// half step and the first substep of advance all start from the same state, so they share
// one evaluation of the model.
template <bool split>
void rk4_from(const State& y, const State& dydx, long double h, State& y_out,
              const ModelCoeffs& m) {
  // y_out is written only in the last loop, which reads y(i) just before writing y_out(i),
  // so the step may be taken in place.
  State dy_trial{};
  State dy_mid{};
  const long double h_half = 0.5L * h;
  const long double h_sixth = h / 6;

  model_detail::evaluate_stage<split>(y, h_half, dydx, m, dy_trial);
  model_detail::evaluate_stage<split>(y, h_half, dy_trial, m, dy_mid);
  State dy_end{};
  model_detail::evaluate_stage<split>(y, h, dy_mid, m, dy_end);
  for (int i = 1; i <= n_dims; ++i) {
    const long double mid = dy_mid[i] + dy_trial[i];
    y_out[i] = y[i] + h_sixth * ((dy_end[i] + dydx[i]) + 2 * mid);
  }
}

long double largest_difference(const State& a, const State& b) {
  long double err_max = 0;
  for (int i = 1; i <= n_dims; ++i) {
    const long double diff = std::fabs(a[i] - b[i]);
    if (diff > err_max) err_max = diff;  // a NaN difference never wins
  }
  return err_max;
}

}  // namespace

void rk4_step(const State& y, State& dydx, long double h, State& y_out, const Params& p) {
  rk4_step(y, dydx, h, y_out, model_coeffs(p));
}

void rk4_step(const State& y, State& dydx, long double h, State& y_out, const ModelCoeffs& m) {
  model_derivs(y, dydx, m);
  if (m.split) {
    rk4_from<true>(y, dydx, h, y_out, m);
  } else {
    rk4_from<false>(y, dydx, h, y_out, m);
  }
}

namespace {

// The substep count as the real that the step size and the extrapolation weight are formed
// from, and as the integer that counts the substeps.
struct Substeps {
  long double real;
  int count;
};

// std::ceil on the x87 sets the rounding mode to upward and back around a frndint, and the
// two control-word loads serialise the pipeline: a couple of hundred cycles, twice a trial
// step. Here only the result's integer matters, and below 100 it is small and positive, where
// rounding to nearest by the 1.5 * 2^63 shift and stepping up once is exact.
inline Substeps substeps(long double err_max) {
  constexpr long double round_shift = 0x1.8p63L;
  const long double ratio = err_max / rk_tol;
  const long double q = ratio == 0 ? 0 : std::sqrt(std::sqrt(ratio));
  const long double v = q + widen(1.1f);
  // The ceiling reaches 100 exactly when v passes 99; NaN fails the test too.
  if (!(v <= 99)) return {100, 100};
  const long double nearest = (v + round_shift) - round_shift;
  const long double up = nearest < v ? nearest + 1 : nearest;
  // Through a double, which SSE converts without the x87 control word.
  return {up, static_cast<int>(static_cast<double>(up))};
}

}  // namespace

int substep_count(long double err_max) {
  return substeps(err_max).count;
}

void advance(const State& y, State& dydx, long double h, State& y_out, const Params& p, Rng& rng) {
  advance(y, dydx, h, y_out, model_coeffs(p), rng);
}

void advance(const State& y, State& dydx, long double h, State& y_out, const ModelCoeffs& m,
             Rng& rng) {
  State dy_start{};
  model_derivs(y, dy_start, m);
  advance_from(y, dy_start, dydx, h, y_out, m, rng);
}

namespace {

// Copies values that were just stored as 80-bit reals. A plain array copy reads them back as
// 16-byte integer blocks, which the processor cannot forward from the pending 10-byte stores:
// it waits for them to reach the cache, some 30 cycles more each time. Through the FPU, each
// value is one forwarded 10-byte load and one store.
inline void copy_state(const State& from, State& to) {
  for (int i = 1; i <= n_dims; ++i) {
    long double v = from[i];
    asm("" : "+t"(v));  // keeps the compiler from merging the loop into a block copy
    to[i] = v;
  }
}

template <bool split>
void advance_from(const State& y, const State& dy_start, State& dydx, long double h, State& y_out,
                  const ModelCoeffs& m, Rng& rng) {
  // y and dy_start are only read, and y_out and dydx only written at the end, so y_out may
  // be y itself and dy_start may be dydx, without copies of either.
  State y_full{};
  State y_fine{};
  State dy_fine{};

  rk4_from<split>(y, dy_start, h, y_full, m);
  rk4_from<split>(y, dy_start, h / 2, y_fine, m);
  model_detail::evaluate_all<split>(y_fine, m, dy_fine);
  rk4_from<split>(y_fine, dy_fine, h / 2, y_fine, m);

  const Substeps sub = substeps(largest_difference(y_full, y_fine));
  const int n_sub = sub.count;
  if (n_sub == 100) {
    copy_state(y_full, y_out);
    y_out[1] = failure_mark;
    copy_state(dy_fine, dydx);
    return;
  }
  if (n_sub > 2) {
    const long double h_sub = h / sub.real;
    rk4_from<split>(y, dy_start, h_sub, y_fine, m);
    for (int step = 1; step < n_sub; ++step) {
      model_detail::evaluate_all<split>(y_fine, m, dy_fine);
      rk4_from<split>(y_fine, dy_fine, h_sub, y_fine, m);
    }
  }
  copy_state(dy_fine, dydx);

  const long double n = sub.real;
  const long double w = 1 / (n * n * n * n - 1);
  for (int i = 1; i <= n_dims; ++i) {
    long double v = y_fine[i] + (y_full[i] - y_fine[i]) * w;
    // A component at or next to exact zero gets a nudge far below any scale of the model,
    // so that no component rests at exactly zero.
    if (std::fabs(v) < 1e-1000L) v = v + 1e-1000L * (rnd(rng) - 0.5L);
    y_out[i] = v;
  }
}

}  // namespace

void advance_from(const State& y, const State& dy_start, State& dydx, long double h, State& y_out,
                  const ModelCoeffs& m, Rng& rng) {
  if (m.split) {
    advance_from<true>(y, dy_start, dydx, h, y_out, m, rng);
  } else {
    advance_from<false>(y, dy_start, dydx, h, y_out, m, rng);
  }
}

}  // namespace lyap
