// Sine and cosine for the equations of motion. The model takes both of one angle in every
// call, so they come from this one place, where a faster pair replaces the library's.
//
// The angle 2 p4 x3 grows with the time a trajectory has run, to thousands of radians, and a
// trial evaluates the model some ten million times. The library's 80-bit sinl and cosl,
// accurate for any argument, cost as much as the rest of a derivative; the pair below covers
// the range a trial can reach with the same accuracy class, inline, so that the model keeps
// its values on the FPU stack instead of passing them through memory (80-bit loads and stores
// are among the slowest x87 operations).
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
// 1/8! and 1/9! on only scale terms below 2^-17 of the result, so doubles hold them to far
// better than an ulp; the first few are held as exact sums of two doubles, which the FPU loads
// several times faster than an extended constant. The low part lo enters to first order
// (sin: lo (1 - r^2/2), cos: -r lo), and 1 - r^2/2 is formed with its rounding error carried,
// so each result has one final rounding plus well under 0.3 ulp of accumulated error. Angles
// below 0.265 take shorter series (sincos_small).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace lyap {

// Both of one angle from one argument reduction and two short series, several times faster
// than sinl plus cosl. Each result is within 1 ulp of the correctly rounded value (the
// largest error seen is about 0.8 ulp). Arguments beyond 10^6 in size take an exact reduction
// out of line (reduce_exactly) into the same series, with the same accuracy up to the largest
// long double; infinities and NaN give NaN, as the C library's do. No C library function is
// called, so the results are the same bits on every system the program is built for.
inline void fast_sincos(long double a, long double& s, long double& c);

// s = sin(a), c = cos(a), a in radians: fast_sincos, or the C library's sinl and cosl when
// the build sets LYAPSEARCH_REFERENCE_TRIG, so that runs can be reproduced against the system
// library.
[[gnu::always_inline]] inline void model_sincos(long double a, long double& s, long double& c) {
#if LYAPSEARCH_REFERENCE_TRIG
  s = std::sin(a);
  c = std::cos(a);
#else
  fast_sincos(a, s, c);
#endif
}

// Whether model_sincos is the C library's, for the program to say which build it is.
#if LYAPSEARCH_REFERENCE_TRIG
inline constexpr bool model_trig_is_library = true;
#else
inline constexpr bool model_trig_is_library = false;
#endif

namespace trig_detail {

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
// Up to here k is 0 (a 2/pi < 1/2): the reduction would give r = a exactly, so it is skipped.
// Just below 0.78, with few enough significant bits to load as a single-precision constant
// (an 80-bit constant load costs as much as several multiplications); likewise below.
constexpr long double no_reduction = 0x1.8fp-1L;  // 0.779296875
// Up to here the shorter series of sincos_small are accurate enough (see there): just below
// 0.265.
constexpr long double small_angle = 0x1.0fp-2L;  // 0.264648437...

// 1/n!, rounded to nearest; up to 1/7! held as the exact sum of two doubles, defined in
// trig.cpp so that no caller sees their values: a compiler that did would fold each pair back
// into one extended constant, which the FPU loads several times more slowly.
struct SplitFactorials {
  double inv_fact_3[2], inv_fact_4[2], inv_fact_5[2], inv_fact_6[2], inv_fact_7[2];
};
extern const SplitFactorials split_factorials;
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

// The exact extended value of a constant held as two doubles.
inline long double joined(const double (&pair)[2]) {
  return static_cast<long double>(pair[0]) + pair[1];
}

// Tiny angles (s = a, keeping the sign of -0; c = 1), the exact reduction for everything
// beyond the fast reduction's range, and NaN for infinities and NaN. Out of line, so that the
// inlined fast pair stays small.
void sincos_outside_range(long double a, long double& s, long double& c);

// |a| = k pi/2 + r for finite |a| > 10^6: returns k mod 4 and r = hi + lo with |r| <= pi/4,
// |lo| <= ulp(hi) / 2 and a relative error below 2^-100, whatever the size of a.
unsigned reduce_exactly(long double a, long double& hi, long double& lo);

// sin and cos of r = hi + lo, |r| <= pi/4 + 2^-30, |lo| <= ulp(hi).
inline void sincos_reduced(long double hi, long double lo, long double& sin_r, long double& cos_r) {
  const SplitFactorials& f = split_factorials;
  // Horner's rule keeps few values live, which suits the eight-register FPU stack better
  // than a shallower scheme that spills.
  const long double z = hi * hi;
  const long double v = z * hi;
  const long double sin_series =
      joined(f.inv_fact_5) +
      z * (-joined(f.inv_fact_7) +
           z * (inv_fact_9 + z * (-inv_fact_11 +
                                  z * (inv_fact_13 + z * (-inv_fact_15 +
                                                          z * (inv_fact_17 + z * -inv_fact_19))))));
  sin_r = hi - ((z * (0.5L * lo - v * sin_series) - lo) + v * joined(f.inv_fact_3));

  const long double cos_series =
      joined(f.inv_fact_4) +
      z * (-joined(f.inv_fact_6) +
           z * (inv_fact_8 +
                z * (-inv_fact_10 +
                     z * (inv_fact_12 +
                          z * (-inv_fact_14 +
                               z * (inv_fact_16 + z * (-inv_fact_18 + z * inv_fact_20)))))));
  const long double half_z = 0.5L * z;
  const long double one_minus = 1 - half_z;
  cos_r = one_minus + (((1 - one_minus) - half_z) + (z * z * cos_series - hi * lo));
}

// sin and cos of r, |r| <= small_angle, which needs no reduction and no low part. Here the
// terms fall off fast enough that the series stop after r^13 and r^14: the first omitted ones
// are below 2^-67 and 2^-75 of the result (1/8 ulp at most), the correction to r is under
// 1.2% of sin r and the one to 1 under 3.6% of cos r, so their few roundings add under 0.1 ulp
// to the final one, and 1 - r^2/2 needs no carried error. From 1/6! on, the doubles nearest
// the coefficients are accurate enough. Trajectories that keep 2 p4 x3 small spend all their
// time here.
[[gnu::always_inline]] inline void sincos_small(long double r, long double& sin_r,
                                                long double& cos_r) {
  const SplitFactorials& f = split_factorials;
  const long double z = r * r;
  const long double sin_series =
      joined(f.inv_fact_3) -
      z * (joined(f.inv_fact_5) -
           z * (f.inv_fact_7[0] - z * (inv_fact_9 - z * (inv_fact_11 - z * inv_fact_13))));
  sin_r = r - z * r * sin_series;
  const long double cos_series =
      0.5L - z * (joined(f.inv_fact_4) -
                  z * (f.inv_fact_6[0] -
                       z * (inv_fact_8 - z * (inv_fact_10 - z * (inv_fact_12 - z * inv_fact_14)))));
  cos_r = 1 - z * cos_series;
}

}  // namespace trig_detail

[[gnu::always_inline]] inline void fast_sincos(long double a, long double& s, long double& c) {
  using namespace trig_detail;
  const long double size = std::fabs(a);
  if (!(size >= tiny_angle && size <= reduce_limit)) [[unlikely]] {
    sincos_outside_range(a, s, c);
    return;
  }
  // Along a trajectory the angle stays on one side of this test for long stretches, so the
  // branch predicts well.
  if (size <= small_angle) {
    sincos_small(a, s, c);
    return;
  }
  if (size <= no_reduction) {
    sincos_reduced(a, 0, s, c);
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

  long double sin_r, cos_r;
  sincos_reduced(hi, lo, sin_r, cos_r);
  // sin(r + q pi/2) is sin r, cos r, -sin r, -cos r for q = 0..3, and cos(a) = sin(a + pi/2).
  // Selects rather than a table, which would cost 80-bit stores and loads.
  const long double sin_q = (quadrant & 1) ? cos_r : sin_r;
  const long double cos_q = (quadrant & 1) ? sin_r : cos_r;
  s = (quadrant & 2) ? -sin_q : sin_q;
  c = ((quadrant + 1) & 2) ? -cos_q : cos_q;
}

}  // namespace lyap
