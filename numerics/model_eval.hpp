// The model's evaluation as inline code, for the routines that call it millions of times:
// inlined into them, the state and derivative values pass between the model and the caller on
// the FPU stack instead of through 80-bit stores and loads.
#pragma once

#include <cmath>

#include "numerics/numerics.hpp"
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
[[gnu::always_inline]] inline void evaluate(const State& x, long double sin_a, long double cos_a,
                                            const ModelCoeffs& m, State& f) {
  using F = ModelCoeffs;
  auto c = [&m](F::Factor i) { return factor<split>(m, i); };
  const long double x1 = x[1], x2 = x[2], x4 = x[4];
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

template <unsigned components>
void evaluate(const State& x, const ModelAngle& angle, const ModelCoeffs& m, State& f) {
  if (m.split) {
    evaluate<true, components>(x, angle.sin_a, angle.cos_a, m, f);
  } else {
    evaluate<false, components>(x, angle.sin_a, angle.cos_a, m, f);
  }
}

// The whole derivative in one piece, the angle included, so that the sine and cosine stay on
// the FPU stack.
template <bool split>
[[gnu::always_inline]] inline void evaluate_all(const State& x, const ModelCoeffs& m, State& f) {
  long double sin_a, cos_a;
  model_sincos(factor<split>(m, ModelCoeffs::two_p4) * x[3], sin_a, cos_a);
  evaluate<split, all>(x, sin_a, cos_a, m, f);
}

}  // namespace lyap::model_detail
