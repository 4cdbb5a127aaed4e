#include <algorithm>
#include <cmath>

#include "numerics/model_eval.hpp"
#include "numerics/numerics.hpp"

namespace lyap {

namespace {

// The Runge-Kutta step's result from its four derivatives. y_out may be y itself: each
// component is read just before it is written.
inline void rk4_sum(const State& y, const State& dydx, const State& dy_trial, const State& dy_mid,
                    const State& dy_end, long double h_sixth, State& y_out) {
  for (int i = 1; i <= n_dims; ++i) {
    const long double mid = dy_mid[i] + dy_trial[i];
    y_out[i] = y[i] + h_sixth * ((dy_end[i] + dydx[i]) + 2 * mid);
  }
}

using kernel_detail::SplitState;

// The step stage by stage in the C++ code, each stage's derivative stored whole: the statement
// of what the kernels compute, and the way where they do not apply.
template <bool split>
[[gnu::noinline]] void rk4_by_stages(const State& y, const State& dydx, long double h, State& y_out,
                                     const ModelCoeffs& m) {
  State dy_trial;
  State dy_mid;
  State dy_end;
  const long double h_half = 0.5L * h;
  model_detail::evaluate_stage<split>(y, h_half, dydx, m, dy_trial);
  model_detail::evaluate_stage<split>(y, h_half, dy_trial, m, dy_mid);
  model_detail::evaluate_stage<split>(y, h, dy_mid, m, dy_end);
  rk4_sum(y, dydx, dy_trial, dy_mid, dy_end, h / 6, y_out);
}

// rk4_step with dydx already holding the model's derivative at y. The full step, the first
// half step and the first substep of advance all start from the same state, so they share
// one evaluation of the model. y_out may be y.
template <bool split>
void rk4_from(const State& y, const State& dydx, long double h, State& y_out,
              const ModelCoeffs& m) {
  // The kernels hand each stage's derivative on to the next as pairs of doubles, and the last
  // forms the result; where one declines, the step is taken again in the C++ code.
  if constexpr (model_detail::kernel_applies<split>) {
    SplitState trial, mid;
    const long double h_half = 0.5L * h;
    const long double h_sixth = h / 6;
    using namespace kernel_detail;
    if (stage_to_pairs_kernel(y, h_half, dydx, m, trial) &&
        stage_pairs_kernel(y, h_half, trial, m, mid) &&
        stage_sum_kernel(y, h, mid, trial, dydx, h_sixth, m, y_out)) {
      return;
    }
  }
  rk4_by_stages<split>(y, dydx, h, y_out, m);
}

// Two independent rk4_from steps, their stages taken in turn. Each stage waits for the one
// before, and a stage alone leaves the processor idle for much of that wait; the other
// trajectory's stage fills it. The same operations on the same values: the same bits.
template <bool split>
void rk4_pair(const State& ya, const State& dya, long double ha, State& ya_out, const State& yb,
              const State& dyb, long double hb, State& yb_out, const ModelCoeffs& m) {
  if constexpr (model_detail::kernel_applies<split>) {
    SplitState a_trial, a_mid, b_trial, b_mid;
    const long double ha_half = 0.5L * ha;
    const long double hb_half = 0.5L * hb;
    const long double ha_sixth = ha / 6;
    const long double hb_sixth = hb / 6;
    using namespace kernel_detail;
    bool a = stage_to_pairs_kernel(ya, ha_half, dya, m, a_trial);
    bool b = stage_to_pairs_kernel(yb, hb_half, dyb, m, b_trial);
    a = a && stage_pairs_kernel(ya, ha_half, a_trial, m, a_mid);
    b = b && stage_pairs_kernel(yb, hb_half, b_trial, m, b_mid);
    a = a && stage_sum_kernel(ya, ha, a_mid, a_trial, dya, ha_sixth, m, ya_out);
    b = b && stage_sum_kernel(yb, hb, b_mid, b_trial, dyb, hb_sixth, m, yb_out);
    if (!a) rk4_by_stages<split>(ya, dya, ha, ya_out, m);
    if (!b) rk4_by_stages<split>(yb, dyb, hb, yb_out, m);
  } else {
    rk4_by_stages<split>(ya, dya, ha, ya_out, m);
    rk4_by_stages<split>(yb, dyb, hb, yb_out, m);
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

// One trajectory's work in advance_from: the full step and the two half steps, then as many
// substeps as their difference asks for.
// Left uninitialised: each member is written before it is read, and clearing them would cost
// a block store twice a trial step.
struct Interval {
  State y_full;
  State y_fine;
  State dy_fine;
  Substeps sub;
};

template <bool split>
void take_halves(const State& y, const State& dy_start, long double h, const ModelCoeffs& m,
                 Interval& v) {
  rk4_from<split>(y, dy_start, h, v.y_full, m);
  rk4_from<split>(y, dy_start, h / 2, v.y_fine, m);
  model_detail::evaluate_all<split>(v.y_fine, m, v.dy_fine);
  rk4_from<split>(v.y_fine, v.dy_fine, h / 2, v.y_fine, m);
  v.sub = substeps(largest_difference(v.y_full, v.y_fine));
}

// Whether the halves are given up for substeps.
bool needs_substeps(const Substeps& sub) {
  return sub.count > 2 && sub.count < 100;
}

template <bool split>
void take_substeps(const State& y, const State& dy_start, long double h, const ModelCoeffs& m,
                   Interval& v) {
  const long double h_sub = h / v.sub.real;
  rk4_from<split>(y, dy_start, h_sub, v.y_fine, m);
  for (int step = 1; step < v.sub.count; ++step) {
    model_detail::evaluate_all<split>(v.y_fine, m, v.dy_fine);
    rk4_from<split>(v.y_fine, v.dy_fine, h_sub, v.y_fine, m);
  }
}

// The interval's result from the finest steps and the full one, and the last derivative into
// dydx unless it is null. The steps have read the trajectory's y and starting derivative
// already, so y_out may be that y and dydx that derivative.
void finish_interval(const Interval& in, State* dydx, State& y_out, Rng& rng) {
  if (dydx != nullptr) copy_state(in.dy_fine, *dydx);
  if (in.sub.count == 100) {
    copy_state(in.y_full, y_out);
    y_out[1] = failure_mark;
    return;
  }
  const State& y_full = in.y_full;
  const State& y_fine = in.y_fine;

  const long double n = in.sub.real;
  const long double w = 1 / (n * n * n * n - 1);
  for (int i = 1; i <= n_dims; ++i) {
    long double v = y_fine[i] + (y_full[i] - y_fine[i]) * w;
    // A component at or next to exact zero gets a nudge far below any scale of the model,
    // so that no component rests at exactly zero.
    if (std::fabs(v) < 1e-1000L) v = v + 1e-1000L * (rnd(rng) - 0.5L);
    y_out[i] = v;
  }
}

template <bool split>
void advance_from(const State& y, const State& dy_start, State& dydx, long double h, State& y_out,
                  const ModelCoeffs& m, Rng& rng) {
  Interval in;
  take_halves<split>(y, dy_start, h, m, in);
  if (needs_substeps(in.sub)) take_substeps<split>(y, dy_start, h, m, in);
  finish_interval(in, &dydx, y_out, rng);
}

template <bool split>
void advance_pair(const State& ya, const State& dya_start, State& ya_out, const State& yb,
                  State& yb_out, State& dydx, long double h, const ModelCoeffs& m, Rng& rng) {
  State dyb_start;
  model_detail::evaluate_all<split>(yb, m, dyb_start);
  Interval a;
  Interval b;
  rk4_pair<split>(ya, dya_start, h, a.y_full, yb, dyb_start, h, b.y_full, m);
  rk4_pair<split>(ya, dya_start, h / 2, a.y_fine, yb, dyb_start, h / 2, b.y_fine, m);
  model_detail::evaluate_all<split>(a.y_fine, m, a.dy_fine);
  model_detail::evaluate_all<split>(b.y_fine, m, b.dy_fine);
  rk4_pair<split>(a.y_fine, a.dy_fine, h / 2, a.y_fine, b.y_fine, b.dy_fine, h / 2, b.y_fine, m);
  a.sub = substeps(largest_difference(a.y_full, a.y_fine));
  b.sub = substeps(largest_difference(b.y_full, b.y_fine));
  // The two neighbours nearly always take as many substeps; then those go side by side too.
  if (needs_substeps(a.sub) && a.sub.count == b.sub.count) {
    const long double h_sub = h / a.sub.real;
    rk4_pair<split>(ya, dya_start, h_sub, a.y_fine, yb, dyb_start, h_sub, b.y_fine, m);
    for (int step = 1; step < a.sub.count; ++step) {
      model_detail::evaluate_all<split>(a.y_fine, m, a.dy_fine);
      model_detail::evaluate_all<split>(b.y_fine, m, b.dy_fine);
      rk4_pair<split>(a.y_fine, a.dy_fine, h_sub, a.y_fine, b.y_fine, b.dy_fine, h_sub, b.y_fine,
                      m);
    }
  } else {
    if (needs_substeps(a.sub)) take_substeps<split>(ya, dya_start, h, m, a);
    if (needs_substeps(b.sub)) take_substeps<split>(yb, dyb_start, h, m, b);
  }
  // As advance_from for a and then advance for b: b's derivative is the one left in dydx,
  // and the nudges draw from rng in that order.
  finish_interval(a, nullptr, ya_out, rng);
  finish_interval(b, &dydx, yb_out, rng);
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

void advance_pair(const State& ya, const State& dya_start, State& ya_out, const State& yb,
                  State& yb_out, State& dydx, long double h, const ModelCoeffs& m, Rng& rng) {
  if (m.split) {
    advance_pair<true>(ya, dya_start, ya_out, yb, yb_out, dydx, h, m, rng);
  } else {
    advance_pair<false>(ya, dya_start, ya_out, yb, yb_out, dydx, h, m, rng);
  }
}

}  // namespace lyap
