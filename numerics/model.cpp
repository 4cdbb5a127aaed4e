#include <cmath>

#include "numerics/numerics.hpp"
#include "numerics/trig.hpp"

// The model is one Hamiltonian with two canonical pairs, (x1, x2) and (x3, x4). Its equations
// are evaluated exactly in the order they are written, squares and cubes as plain products,
// so that runs reproduce to the last bit; nothing is checked, and x1 = 0 or x4 = 0 simply
// give infinities or NaN for the trial's checks to reject.

namespace lyap {

long double k_aux(const Params& p) {
  return p[4] * (p[2] - 1) / (p[2] * p[2]);
}

long double invariant(const State& x, const Params& p) {
  const long double k = k_aux(p);
  const long double e = 1 - p[1] / p[2];
  const long double d = p[3] - x[4];
  long double sin_a, cos_a;
  model_sincos(2 * p[4] * x[3], sin_a, cos_a);

  const long double kinetic = p[1] * (x[2] * x[2]) / 2;
  const long double centrifugal = p[1] * (d * d) / (8 * (p[4] * p[4]) * (x[1] * x[1]));
  const long double harmonic = p[1] * (k * k) * (x[1] * x[1]) / 8;
  const long double momentum = p[1] * k * (x[4] + p[3]) / (4 * p[4]);
  const long double linear = (p[2] - 2) * e * x[4] / (2 * p[2]);
  const long double inverse = p[5] / ((p[2] - 1) * x[1]);
  const long double coupling =
      e * ext_sqrt(x[4]) * (x[2] * sin_a - 0.5L * (k * x[1] + d / (p[4] * x[1])) * cos_a);
  return kinetic + centrifugal + harmonic + momentum + linear + inverse + coupling;
}

namespace {

// The factors in extended precision only.
ModelCoeffs extended_coeffs(const Params& p) {
  using F = ModelCoeffs;
  ModelCoeffs m;
  auto& v = m.value;
  v[F::p1] = p[1];
  v[F::p3] = p[3];
  v[F::p4] = p[4];
  v[F::p5] = p[5];
  v[F::k] = p[4] * (p[2] - 1) / (p[2] * p[2]);
  v[F::k_prime] = v[F::k] / p[4];
  v[F::e] = 1 - p[1] / p[2];
  v[F::half_e] = v[F::e] / 2;
  v[F::two_p4] = 2 * p[4];
  v[F::p4_sq] = p[4] * p[4];
  v[F::four_p4_sq] = 4 * v[F::p4_sq];
  v[F::p1_k_sq] = p[1] * (v[F::k] * v[F::k]);
  v[F::p2_minus_1] = p[2] - 1;
  v[F::quarter_p1] = p[1] / 4;
  v[F::f3_constant] = v[F::e] * (p[2] - 2) / (2 * p[2]);
  v[F::minus_2_p4_e] = -2 * p[4] * v[F::e];
  return m;
}

}  // namespace

ModelCoeffs model_coeffs(const Params& p) {
  using F = ModelCoeffs;
  ModelCoeffs m = extended_coeffs(p);
  const auto& v = m.value;
  // A 64-bit significand is a 53-bit head plus an 11-bit tail, both doubles, as long as the
  // exponent stays inside the double range; zero signs, infinities and NaN fail the check.
  m.split = true;
  for (int i = 0; i < F::n_factors; ++i) {
    m.hi[i] = static_cast<double>(v[i]);
    m.lo[i] = static_cast<double>(v[i] - m.hi[i]);
    const long double joined = static_cast<long double>(m.hi[i]) + m.lo[i];
    if (!(joined == v[i] && std::signbit(joined) == std::signbit(v[i]))) m.split = false;
  }
  return m;
}

void model_derivs(const State& x, State& f, const Params& p) {
  // One call: splitting the factors would cost more than it saves.
  model_derivs(x, f, extended_coeffs(p));
}

namespace {

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
void evaluate_all(const State& x, const ModelCoeffs& m, State& f) {
  long double sin_a, cos_a;
  model_sincos(factor<split>(m, ModelCoeffs::two_p4) * x[3], sin_a, cos_a);
  evaluate<split, all>(x, sin_a, cos_a, m, f);
}

}  // namespace

ModelAngle model_angle(long double x3, const ModelCoeffs& m) {
  ModelAngle angle;
  const long double two_p4 =
      m.split ? factor<true>(m, ModelCoeffs::two_p4) : m.value[ModelCoeffs::two_p4];
  model_sincos(two_p4 * x3, angle.sin_a, angle.cos_a);
  return angle;
}

void model_derivs(const State& x, State& f, const ModelCoeffs& m) {
  if (m.split) {
    evaluate_all<true>(x, m, f);
  } else {
    evaluate_all<false>(x, m, f);
  }
}

void model_derivs(const State& x, const ModelAngle& angle, State& f, const ModelCoeffs& m) {
  evaluate<all>(x, angle, m, f);
}

long double model_f3(const State& x, const ModelAngle& angle, const ModelCoeffs& m) {
  State f{};
  evaluate<with_f3>(x, angle, m, f);
  return f[3];
}

long double model_f4(const State& x, const ModelAngle& angle, const ModelCoeffs& m) {
  State f{};
  evaluate<with_f4>(x, angle, m, f);
  return f[4];
}

}  // namespace lyap
