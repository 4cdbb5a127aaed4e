#include "numerics/trig.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>

// The angle 2 p4 x3 grows with the time a trajectory has run, to thousands of radians, and
// the trial evaluates the model close to seven million times. The library's 80-bit sinl and
// cosl, accurate for any argument, spend most of a derivative's time; this pair covers the
// range a trial can reach with the same accuracy class.
//
// Argument reduction: a = k pi/2 + r with k the integer nearest to a 2/pi and |r| <= pi/4.
// pi/2 is held as P1 + P2 + P3 + P4, where P1..P3 have 44 significant bits. For |a| <= 10^6,
// |k| < 2^20, so k P1, k P2 and k P3 are exact products, and a - k P1 is exact (both are
// multiples of 2^-43 or of ulp(a), and the difference is below 1 in size). The two later
// subtractions are done as exact two-sums, and k P4 (below 2^-121) enters the low part. The
// reduced angle comes out as hi + lo with an error near 2^-180, far below an ulp of the
// smallest |r| that a long double of this range gives (2^-67.2, next to 359 pi/2).
//
// Series: Taylor series of sin and cos on |r| <= pi/4 + 2^-30, truncated after r^19 and
// r^20, where the first omitted terms are below 2^-70 of the result. The coefficients from
// 1/8! and 1/9! on only scale terms below 2^-17 of the result, so doubles (which the FPU
// loads faster than extended constants) hold them to far better than an ulp. The low part lo
// enters to first order (sin: lo (1 - r^2/2), cos: -r lo), and 1 - r^2/2 is formed with its
// rounding error carried, so each result has one final rounding plus well under 0.3 ulp of
// accumulated error.

namespace lyap {

namespace {

constexpr double half_pi_1 = 0x1.921fb54442ep0;
constexpr double half_pi_2 = -0x1.cf72cece676p-45;
constexpr double half_pi_3 = 0x1.701b839a252p-92;
constexpr double half_pi_4 = 0x1.27044533e63a0p-142;
// Only picks k, so double precision is plenty: r then exceeds pi/4 by at most 2^-32.
constexpr double two_over_pi = 0x1.45f306dc9c883p-1;

// Adding this to a value below 2^62 in size rounds it to an integer (to nearest, ties to
// even), which then sits in the low bits of the 64-bit significand.
constexpr long double round_shift = 0x1.8p63L;

// Up to here |k| < 2^20, which the exact products above need.
constexpr long double reduce_limit = 1e6L;
// Below this, sin(a) rounds to a and cos(a) to 1 (r^3/6 and r^2/2 are below half an ulp).
constexpr long double tiny_angle = 0x1p-33L;

// 1/n!, rounded to nearest.
constexpr long double inv_fact_3 = 0x1.5555555555555556p-3L;
constexpr long double inv_fact_4 = 0x1.5555555555555556p-5L;
constexpr long double inv_fact_5 = 0x1.1111111111111112p-7L;
constexpr long double inv_fact_6 = 0x1.6c16c16c16c16c16p-10L;
constexpr long double inv_fact_7 = 0x1.a01a01a01a01a01ap-13L;
constexpr double inv_fact_8 = 0x1.a01a01a01a01ap-16;
constexpr double inv_fact_9 = 0x1.71de3a556c734p-19;
constexpr double inv_fact_10 = 0x1.27e4fb7789f5cp-22;
constexpr double inv_fact_11 = 0x1.ae64567f544e4p-26;
constexpr double inv_fact_12 = 0x1.1eed8eff8d898p-29;
constexpr double inv_fact_13 = 0x1.6124613a86d09p-33;
constexpr double inv_fact_14 = 0x1.93974a8c07c9dp-37;
constexpr double inv_fact_15 = 0x1.ae7f3e733b81fp-41;
constexpr double inv_fact_16 = 0x1.ae7f3e733b81fp-45;
constexpr double inv_fact_17 = 0x1.952c77030ad4ap-49;
constexpr double inv_fact_18 = 0x1.6827863b97d97p-53;
constexpr double inv_fact_19 = 0x1.2f49b46814157p-57;
constexpr double inv_fact_20 = 0x1.e542ba4020225p-62;

}  // namespace

void fast_sincos(long double a, long double& s, long double& c) {
  const long double size = std::fabs(a);
  if (!(size >= tiny_angle && size <= reduce_limit)) {
    if (size < tiny_angle) {  // also keeps the sign of -0
      s = a;
      c = 1;
    } else {
      s = std::sin(a);
      c = std::cos(a);
    }
    return;
  }

  const long double shifted = a * two_over_pi + round_shift;
  const long double k = shifted - round_shift;
  std::uint64_t significand;
  std::memcpy(&significand, &shifted, sizeof significand);
  const unsigned quadrant = static_cast<unsigned>(significand) & 3;

  const long double t1 = a - k * half_pi_1;
  const long double k2 = k * half_pi_2;
  const long double u = t1 - k2;
  const long double u_virtual = u - t1;
  const long double u_err = (t1 - (u - u_virtual)) + (-k2 - u_virtual);
  const long double k3 = k * half_pi_3;
  const long double w = u - k3;
  const long double w_virtual = w - u;
  const long double w_err = (u - (w - w_virtual)) + (-k3 - w_virtual);
  const long double tail = (u_err + w_err) - k * half_pi_4;
  const long double hi = w + tail;
  const long double lo = tail - (hi - w);

  // Horner's rule keeps few values live, which suits the eight-register FPU stack better
  // than a shallower scheme that spills.
  const long double z = hi * hi;
  const long double v = z * hi;
  const long double sin_series =
      inv_fact_5 +
      z * (-inv_fact_7 +
           z * (inv_fact_9 + z * (-inv_fact_11 +
                                  z * (inv_fact_13 + z * (-inv_fact_15 +
                                                          z * (inv_fact_17 + z * -inv_fact_19))))));
  const long double sin_r = hi - ((z * (0.5L * lo - v * sin_series) - lo) + v * inv_fact_3);

  const long double cos_series =
      inv_fact_4 +
      z * (-inv_fact_6 +
           z * (inv_fact_8 +
                z * (-inv_fact_10 +
                     z * (inv_fact_12 +
                          z * (-inv_fact_14 +
                               z * (inv_fact_16 + z * (-inv_fact_18 + z * inv_fact_20)))))));
  const long double half_z = 0.5L * z;
  const long double one_minus = 1 - half_z;
  const long double cos_r =
      one_minus + (((1 - one_minus) - half_z) + (z * z * cos_series - hi * lo));

  // sin(r + q pi/2) is sin r, cos r, -sin r, -cos r for q = 0..3, and cos(a) = sin(a + pi/2).
  // Selects rather than a table, which would cost 80-bit stores and loads.
  const long double sin_q = (quadrant & 1) ? cos_r : sin_r;
  const long double cos_q = (quadrant & 1) ? sin_r : cos_r;
  s = (quadrant & 2) ? -sin_q : sin_q;
  c = ((quadrant + 1) & 2) ? -cos_q : cos_q;
}

void model_sincos(long double a, long double& s, long double& c) {
#if LYAPSEARCH_REFERENCE_TRIG
  s = std::sin(a);
  c = std::cos(a);
#else
  fast_sincos(a, s, c);
#endif
}

}  // namespace lyap
