// The model's evaluation as inline code, for the routines that call it millions of times:
// inlined into them, the state and derivative values pass between the model and the caller on
// the FPU stack instead of through 80-bit stores and loads.
#pragma once

#include <cmath>

#include "numerics/numerics.hpp"
#include "numerics/stage_kernel.hpp"
#include "numerics/trig.hpp"

namespace lyap::model_detail {

// The factor as the model reads it: from its two doubles, or as the extended value itself.
template <bool split>
long double factor(const ModelCoeffs& m, ModelCoeffs::Factor i) {
  if constexpr (split) {
    return static_cast<long double>(m.hi[i]) + m.lo[i];
  } else {
    return m.value[i];
  }
}

// Which components evaluate computes.
enum Components : unsigned { with_f1 = 1, with_f2 = 2, with_f3 = 4, with_f4 = 8, all = 15 };

// The model's components at x, given the sine and cosine of its angle 2 p4 x3. Each product
// and quotient groups as in the equations as written (left to right), with the parameter-only
// factors taken from m; a component leaves out nothing that it depends on, so asking for
// fewer changes none of the bits.
// Always inlined: passing the sine and cosine to a call would take them through memory, and
// 80-bit stores and loads are among the slowest x87 operations.
template <bool split, unsigned components>
[[gnu::always_inline]] inline void evaluate(long double x1, long double x2, long double x4,
                                            long double sin_a, long double cos_a,
                                            const ModelCoeffs& m, State& f) {
  using F = ModelCoeffs;
  auto c = [&m](F::Factor i) { return factor<split>(m, i); };
  // ext_sqrt, written out so that it is inlined here.
  const long double s = x4 < 0 ? x4 : std::sqrt(x4);
  const long double d = c(F::p3) - x4;
  const long double p4_x1 = c(F::p4) * x1;
  const long double k_x1 = c(F::k) * x1;
  const long double x1_sq = x1 * x1;

  if constexpr ((components & with_f1) != 0) f[1] = c(F::p1) * x2 + c(F::e) * sin_a * s;

  if constexpr ((components & with_f2) != 0) {
    long double f2 = c(F::p1) * (d * d) / (c(F::four_p4_sq) * (x1_sq * x1));
    f2 = f2 - c(F::p1_k_sq) * x1 / 4 + c(F::p5) / (c(F::p2_minus_1) * x1_sq);
    f2 = f2 + c(F::half_e) * (c(F::k) - d / (c(F::p4) * x1_sq)) * cos_a * s;
    f[2] = f2;
  }

  if constexpr ((components & with_f3) != 0) {
    const long double q3 = (k_x1 + (c(F::p3) - 3 * x4) / p4_x1) / 2;
    f[3] = c(F::f3_constant) + c(F::quarter_p1) * (c(F::k_prime) - d / (c(F::p4_sq) * x1_sq)) +
           c(F::half_e) * (x2 * sin_a - q3 * cos_a) / s;
  }

  if constexpr ((components & with_f4) != 0) {
    const long double q1 = (k_x1 + d / p4_x1) / 2;
    f[4] = c(F::minus_2_p4_e) * (x2 * cos_a + q1 * sin_a) * s;
  }
}

// The whole derivative in one piece, the angle included, so that the sine and cosine stay on
// the FPU stack.
template <bool split>
[[gnu::always_inline]] inline void evaluate_all(long double x1, long double x2, long double x3,
                                                long double x4, const ModelCoeffs& m, State& f) {
  long double sin_a, cos_a;
  model_sincos(factor<split>(m, ModelCoeffs::two_p4) * x3, sin_a, cos_a);
  evaluate<split, all>(x1, x2, x4, sin_a, cos_a, m, f);
}

// Whether the x87 kernels of stage_kernel.hpp may stand in for the code above: they compute
// the same bits with the program's own sine and cosine, and only from split factors.
template <bool split>
constexpr bool kernel_applies = split && !model_trig_is_library;

// f must be a different array from x.
template <bool split, bool with_kernel = true>
[[gnu::always_inline]] inline void evaluate_all(const State& x, const ModelCoeffs& m, State& f) {
  if constexpr (with_kernel && kernel_applies<split>) {
    if (kernel_detail::point_kernel(x, m, f)) return;
  }
  evaluate_all<split>(x[1], x[2], x[3], x[4], m, f);
}

// The derivative at the Runge-Kutta stage y + hk k; f must be a different array from y and k.
// The stage's state goes to the model as values, never stored as a whole, so that the compiler
// can keep them on the FPU stack. The stage kernels stand in for this in the integrator.
template <bool split>
[[gnu::always_inline]] inline void evaluate_stage(const State& y, long double hk, const State& k,
                                                  const ModelCoeffs& m, State& f) {
  const long double x1 = y[1] + hk * k[1];
  const long double x2 = y[2] + hk * k[2];
  const long double x3 = y[3] + hk * k[3];
  const long double x4 = y[4] + hk * k[4];
  evaluate_all<split>(x1, x2, x3, x4, m, f);
}

}  // namespace lyap::model_detail
