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

void model_derivs(const State& x, State& f, const Params& p) {
  const long double p1 = p[1], p2 = p[2], p3 = p[3], p4 = p[4], p5 = p[5];
  const long double x1 = x[1], x2 = x[2], x3 = x[3], x4 = x[4];

  const long double k = p4 * (p2 - 1) / (p2 * p2);
  const long double k_prime = k / p4;
  const long double e = 1 - p1 / p2;
  const long double s = ext_sqrt(x4);
  long double sin_a, cos_a;
  model_sincos(2 * p4 * x3, sin_a, cos_a);
  const long double d = p3 - x4;
  const long double q1 = (k * x1 + d / (p4 * x1)) / 2;
  const long double q3 = (k * x1 + (p3 - 3 * x4) / (p4 * x1)) / 2;
  const long double x1_sq = x1 * x1;
  const long double p4_sq = p4 * p4;

  f[1] = p1 * x2 + e * sin_a * s;

  long double f2 = p1 * (d * d) / (4 * p4_sq * (x1_sq * x1));
  f2 = f2 - p1 * (k * k) * x1 / 4 + p5 / ((p2 - 1) * x1_sq);
  f2 = f2 + (e / 2) * (k - d / (p4 * x1_sq)) * cos_a * s;
  f[2] = f2;

  f[3] = e * (p2 - 2) / (2 * p2) + (p1 / 4) * (k_prime - d / (p4_sq * x1_sq)) +
         (e / 2) * (x2 * sin_a - q3 * cos_a) / s;

  f[4] = -2 * p4 * e * (x2 * cos_a + q1 * sin_a) * s;
}

}  // namespace lyap
