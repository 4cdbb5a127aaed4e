#include <cmath>

#include "numerics/model_eval.hpp"
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

using namespace model_detail;

void model_derivs(const State& x, State& f, const Params& p) {
  // One call: splitting the factors would cost more than it saves.
  model_derivs(x, f, extended_coeffs(p));
}

void model_derivs(const State& x, State& f, const ModelCoeffs& m) {
  if (m.split) {
    evaluate_all<true>(x, m, f);
  } else {
    evaluate_all<false>(x, m, f);
  }
}

namespace {

// model_differences in the C++ code: each value as evaluate gives it at its point, the angle's
// sine and cosine shared by the points that share x3.
template <bool split>
ModelDifferences differences(const State& x, long double h, const ModelCoeffs& m, State& f_x) {
  const long double two_p4 = factor<split>(m, ModelCoeffs::two_p4);
  ModelDifferences d;
  State f;
  long double sin_a, cos_a;
  const long double x3_lower = x[3] - h * 0.5L;
  model_sincos(two_p4 * x3_lower, sin_a, cos_a);
  evaluate<split, with_f3>(x[1], x[2], x[4], sin_a, cos_a, m, f);
  d.f3_lower = f[3];
  model_sincos(two_p4 * (x3_lower + h), sin_a, cos_a);
  evaluate<split, with_f3>(x[1], x[2], x[4], sin_a, cos_a, m, f);
  d.f3_upper = f[3];

  model_sincos(two_p4 * x[3], sin_a, cos_a);
  evaluate<split, all>(x[1], x[2], x[4], sin_a, cos_a, m, f_x);
  const long double x4_lower = x[4] - h * 0.5L;
  evaluate<split, with_f4>(x[1], x[2], x4_lower, sin_a, cos_a, m, f);
  d.f4_lower = f[4];
  evaluate<split, with_f4>(x[1], x[2], x4_lower + h, sin_a, cos_a, m, f);
  d.f4_upper = f[4];
  return d;
}

}  // namespace

ModelDifferences model_differences(const State& x, long double h, const ModelCoeffs& m,
                                   State& f_x) {
  if (!m.split) return differences<false>(x, h, m, f_x);
  if constexpr (kernel_applies<true>) {
    ModelDifferences d;
    if (kernel_detail::differences_kernel(x, h, m, f_x, d)) return d;
  }
  return differences<true>(x, h, m, f_x);
}

}  // namespace lyap
