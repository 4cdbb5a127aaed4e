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

ModelCoeffs model_coeffs(const Params& p) {
  ModelCoeffs m;
  m.p1 = p[1];
  m.p3 = p[3];
  m.p4 = p[4];
  m.p5 = p[5];
  m.k = p[4] * (p[2] - 1) / (p[2] * p[2]);
  m.k_prime = m.k / p[4];
  m.e = 1 - p[1] / p[2];
  m.half_e = m.e / 2;
  m.two_p4 = 2 * p[4];
  m.p4_sq = p[4] * p[4];
  m.four_p4_sq = 4 * m.p4_sq;
  m.p1_k_sq = p[1] * (m.k * m.k);
  m.p2_minus_1 = p[2] - 1;
  m.quarter_p1 = p[1] / 4;
  m.f3_constant = m.e * (p[2] - 2) / (2 * p[2]);
  m.minus_2_p4_e = -2 * p[4] * m.e;
  return m;
}

void model_derivs(const State& x, State& f, const Params& p) {
  model_derivs(x, f, model_coeffs(p));
}

void model_derivs(const State& x, State& f, const ModelCoeffs& m) {
  // Each product and quotient below groups as in the equations as written (left to right),
  // with the parameter-only factors taken from m.
  const long double x1 = x[1], x2 = x[2], x3 = x[3], x4 = x[4];

  const long double s = ext_sqrt(x4);
  long double sin_a, cos_a;
  model_sincos(m.two_p4 * x3, sin_a, cos_a);
  const long double d = m.p3 - x4;
  const long double p4_x1 = m.p4 * x1;
  const long double k_x1 = m.k * x1;
  const long double q1 = (k_x1 + d / p4_x1) / 2;
  const long double q3 = (k_x1 + (m.p3 - 3 * x4) / p4_x1) / 2;
  const long double x1_sq = x1 * x1;

  f[1] = m.p1 * x2 + m.e * sin_a * s;

  long double f2 = m.p1 * (d * d) / (m.four_p4_sq * (x1_sq * x1));
  f2 = f2 - m.p1_k_sq * x1 / 4 + m.p5 / (m.p2_minus_1 * x1_sq);
  f2 = f2 + m.half_e * (m.k - d / (m.p4 * x1_sq)) * cos_a * s;
  f[2] = f2;

  f[3] = m.f3_constant + m.quarter_p1 * (m.k_prime - d / (m.p4_sq * x1_sq)) +
         m.half_e * (x2 * sin_a - q3 * cos_a) / s;

  f[4] = m.minus_2_p4_e * (x2 * cos_a + q1 * sin_a) * s;
}

}  // namespace lyap
