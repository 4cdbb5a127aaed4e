// The numerical core: extended-precision helpers, the random source, the model and its
// integrator, and the trend estimate of a history buffer. Pure arithmetic on fixed-size arrays:
// no files, no terminal, no window, and no allocation in any routine.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <span>

static_assert(std::numeric_limits<long double>::digits == 64 &&
                  std::numeric_limits<long double>::max_exponent == 16384,
              "lyapsearch needs long double to be the x87 80-bit extended format "
              "(64-bit significand); build it with g++ on x86 or x86-64");
static_assert(std::numeric_limits<long double>::is_iec559, "IEEE arithmetic required");

namespace lyap {

inline constexpr int n_dims = 4;    // state variables x(1..4)
inline constexpr int n_params = 5;  // model parameters p(1..5)

// Element 0 of both vectors is never used and stays 0.
using State = std::array<long double, n_dims + 1>;
using Params = std::array<long double, n_params + 1>;

// A constant the program holds in single precision, widened to extended.
constexpr long double widen(float v) {
  return static_cast<long double>(v);
}

// ---- Rounding and the maths conventions -------------------------------------------------

// v x 10^d rounded to an integer (halves to even) and divided by 10^d, all in extended
// precision; d is 0..18. Rounds in the extended format itself, so values far beyond the
// 64-bit integer range keep their digits. A small negative v gives -0.
long double round_dec(long double v, int d);

// Real to integer, to nearest with halves to even. Out-of-range values saturate at the
// type's limits and NaN gives 0, so no conversion is ever undefined.
long long round_to_long(long double v);
std::int32_t round_to_int32(long double v);

// The program's square root: a negative argument is returned unchanged.
long double ext_sqrt(long double v);
// The program's natural logarithm: 0 for v <= 0, infinities, NaN and denormals. Worked out by
// the program itself (numerics/ln.cpp) rather than by the C library's logl, whose x87
// instruction gives different last bits on different processors: within 1 ulp of ln v, nearly
// always the nearest long double, and the same bits on every processor and system.
long double ext_ln(long double v);
// 1 for e = 0; repeated product for integer e (reciprocal for negative e); e rounded to
// the nearest integer when b < 0; otherwise exp(e x ln b).
//
// No trial, draw or plot calls it (the integrator takes its fourth root as two square roots):
// its expl and powl are the C library's, and glibc's and mingw-w64's expl differ in the last
// bit for about one argument in seven, so a caller there would make results depend on the
// system. Every library function those paths do call is checked in tests/cross_platform.hpp.
long double ext_pow(long double b, long double e);

// ---- Random numbers ---------------------------------------------------------------------

// The program's one uniform source. xoshiro256** (Blackman and Vigna, 2018): 256 bits of
// state, passes BigCrush and PractRand, and each output fills the whole 64-bit significand.
// `draws` counts the values handed out, so tests can see who consumed how many.
struct Rng {
  std::array<std::uint64_t, 4> s{};
  std::uint64_t draws = 0;
};

// Seeds from a real value (a trial's jitter seed, or a fixed value in tests).
Rng make_rng(long double seed);
// The search's generator from its seed. Every 64-bit integer is exact in the extended format,
// so distinct seeds give distinct generators.
inline Rng seeded_rng(std::uint64_t seed) {
  return make_rng(static_cast<long double>(seed));
}
// The next value in [0, 1), a multiple of 2^-64. Inline: the candidate draw takes some 440 of
// them per trial at a tight budget, most only to be compared and thrown away.
inline long double rnd(Rng& rng) {
  auto& s = rng.s;
  const auto rotl = [](std::uint64_t v, int k) { return (v << k) | (v >> (64 - k)); };
  const std::uint64_t result = rotl(s[1] * 5, 7) * 9;
  const std::uint64_t t = s[1] << 17;
  s[2] ^= s[0];
  s[3] ^= s[1];
  s[1] ^= s[2];
  s[0] ^= s[3];
  s[2] ^= t;
  s[3] = rotl(s[3], 45);
  ++rng.draws;
  // Exact: every 64-bit integer fits the extended significand.
  return static_cast<long double>(result) * 0x1p-64L;
}

// Standard normal deviate by the polar method. Draws r1 then r2 from `uniform` (any callable
// returning long double in [0, 1)), rejects s >= 1 and s = 0, and returns w sqrt(-2 ln s / s).
template <class Uniform>
long double gauss_rnd(Uniform&& uniform) {
  for (;;) {
    const long double r1 = uniform();
    const long double r2 = uniform();
    const long double u = 2 * r1 - 1;
    const long double w = 2 * r2 - 1;
    const long double s = u * u + w * w;
    if (s >= 1 || s == 0) continue;
    return w * ext_sqrt((-2 * ext_ln(s)) / s);
  }
}
inline long double gauss_rnd(Rng& rng) {
  return gauss_rnd([&rng] { return rnd(rng); });
}

// Draws exactly the uniform numbers gauss_rnd would, for a deviate nobody will look at,
// without its logarithm and square root.
inline void skip_gauss_rnd(Rng& rng) {
  for (;;) {
    const long double u = 2 * rnd(rng) - 1;
    const long double w = 2 * rnd(rng) - 1;
    const long double s = u * u + w * w;
    if (s >= 1 || s == 0) continue;
    return;
  }
}

// ---- The model --------------------------------------------------------------------------

// p4 (p2 - 1) / p2^2, the auxiliary constant of the Hamiltonian.
long double k_aux(const Params& p);
// The Hamiltonian E(x), the sum of its seven terms; the trial's invariant.
long double invariant(const State& x, const Params& p);
// Hamilton's equations: writes dx/dt at x into f(1..4); f(0) is not touched. x and f must
// be different arrays.
void model_derivs(const State& x, State& f, const Params& p);

// The parameter vector with the model's parameter-only quantities worked out once. They are
// formed by the same operations as in the equations, so the derivative from them is bit for
// bit the one from p, without a handful of divisions in every one of the millions of calls.
struct ModelCoeffs {
  enum Factor {
    p1,
    p3,
    p4,
    p5,
    k,             // p4 (p2 - 1) / p2^2
    k_prime,       // k / p4
    e,             // 1 - p1 / p2
    half_e,        // e / 2
    two_p4,        // 2 p4, the angle's factor
    p4_sq,         // p4 p4
    four_p4_sq,    // 4 p4 p4
    p1_k_sq,       // p1 (k k)
    p2_minus_1,    // p2 - 1
    quarter_p1,    // p1 / 4
    f3_constant,   // e (p2 - 2) / (2 p2)
    minus_2_p4_e,  // -2 p4 e
    n_factors
  };
  std::array<long double, n_factors> value{};
  // The same factors as exact sums of two doubles, when every one of them has that form
  // (split): the model then loads each as two doubles and an add, which costs the x87 a
  // fraction of one 10-byte load.
  std::array<double, n_factors> hi{}, lo{};
  bool split = false;
};
ModelCoeffs model_coeffs(const Params& p);
void model_derivs(const State& x, State& f, const ModelCoeffs& m);

// What the trial's divergence estimate differences around x: f3 with x3 lowered by h/2, and
// with that raised by h; f4 likewise in x4. Each value has the bits model_derivs gives at its
// point; f_x, an array apart from x, gets the derivative at x itself.
struct ModelDifferences {
  long double f3_lower, f3_upper, f4_lower, f4_upper;
};
ModelDifferences model_differences(const State& x, long double h, const ModelCoeffs& m, State& f_x);

// ---- The integrator ---------------------------------------------------------------------

// One classical fourth-order Runge-Kutta step of size h. dydx receives the derivative at y.
// y_out may be the same array as y.
void rk4_step(const State& y, State& dydx, long double h, State& y_out, const Params& p);

// Advances y by h with tolerance 1e-8 (single): one full step against two half steps picks
// 2..99 substeps, whose result is extrapolated. Needing 100 or more marks failure by writing
// 1e99 into y_out(1). Components left below 1e-1000 in size get a jitter drawn from `rng`.
// On return dydx holds the derivative at the start of the last rk4_step taken.
// y_out may be the same array as y.
void advance(const State& y, State& dydx, long double h, State& y_out, const Params& p, Rng& rng);

// The same two routines with the parameters worked out once by model_coeffs.
void rk4_step(const State& y, State& dydx, long double h, State& y_out, const ModelCoeffs& m);
void advance(const State& y, State& dydx, long double h, State& y_out, const ModelCoeffs& m,
             Rng& rng);

// advance with dy_start already holding the model's derivative at y, as model_derivs gives
// it: the result is the same to the last bit, one evaluation of the model cheaper. The trial
// has that derivative from its speed test. dy_start may be dydx itself.
void advance_from(const State& y, const State& dy_start, State& dydx, long double h, State& y_out,
                  const ModelCoeffs& m, Rng& rng);

// advance_from(ya, dya_start, dydx, h, ya_out) and then advance(yb, dydx, h, yb_out), to the
// last bit, dydx ending as yb's and the nudges drawn from rng in that order, with the two
// trajectories' stages taken in turn: a stage leaves the processor waiting on its own chain
// of operations, and the other trajectory's stage fills the wait. The trial's two neighbours
// go this way. dya_start may be dydx; ya_out may be ya and yb_out yb, but a's arrays must be
// apart from b's.
void advance_pair(const State& ya, const State& dya_start, State& ya_out, const State& yb,
                  State& yb_out, State& dydx, long double h, const ModelCoeffs& m, Rng& rng);

// The failure mark of advance.
inline constexpr long double failure_mark = 1e99L;

// The tolerance of advance on the largest component difference between one full step and
// two half steps.
inline constexpr long double rk_tol = widen(1e-8f);

// The number of substeps advance takes for a given error estimate: the ceiling of
// (err_max / rk_tol)^(1/4) + 1.1 (single), at least 2, with 100 (the failure case) for
// anything from there up, infinities and NaN included.
int substep_count(long double err_max);

// ---- Trend estimate ---------------------------------------------------------------------

// From a history buffer in time order (oldest first): the level the series is heading for,
// from the means of its three overlapping thirds, and the spread of the buffer widened to
// include that estimate.
void trend_estimate(std::span<const long double> series, long double& estimate,
                    long double& spread);

}  // namespace lyap
