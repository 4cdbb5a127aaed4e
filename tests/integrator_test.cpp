#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "numerics/numerics.hpp"
#include "tests/extended_near.hpp"
#include "tests/model_as_written.hpp"

namespace {

using lyap::Params;
using lyap::State;

const Params typical_params = {0, 1.000136L, 0.5L, 2.55L, 0.58L, 0.47L};
const State typical_state = {0, 2, -1.1L, 0.1L, 1.1L};

// With p1 = p2 (no coupling), p5 = 0 and x4 = p3 the model is linear and evaluated exactly:
// for p4 = 2 it is the oscillator x1' = x2/2, x2' = -2 x1 (angular frequency 1), with
// x3' = -1/4 and x4' = 0. Its matrix A satisfies A^2 = -I, so one Runge-Kutta step of size h
// is the matrix (1 - h^2/2 + h^4/24) I + (h - h^3/6) A, the fourth-order Taylor polynomial of
// exp(hA).
const Params oscillator_params = {0, 0.5L, 0.5L, 1.5L, 2, 0};
const State oscillator_state = {0, 1.2L, -0.7L, 0.3L, 1.5L};

struct Pair {
  long double x1, x2;
};

Pair oscillator_step(Pair y, long double h) {
  const long double a = 1 - h * h / 2 + h * h * h * h / 24;
  const long double b = h - h * h * h / 6;
  return {a * y.x1 + b * 0.5L * y.x2, a * y.x2 - b * 2 * y.x1};
}

Pair oscillator_steps(Pair y, long double h, int count) {
  for (int i = 0; i < count; ++i) y = oscillator_step(y, h);
  return y;
}

TEST(Rk4Step, MatchesTheFourthOrderPolynomialOnALinearModel) {
  for (const long double h : {0.0L, 0.1L, 0.5L, 1.0L, -0.3L, 2.5L}) {
    State dydx{};
    State y_out{};
    lyap::rk4_step(oscillator_state, dydx, h, y_out, oscillator_params);
    const Pair expected = oscillator_step({oscillator_state[1], oscillator_state[2]}, h);
    EXPECT_EXT_NEAR(y_out[1], expected.x1, 1e-17L) << h;
    EXPECT_EXT_NEAR(y_out[2], expected.x2, 1e-17L) << h;
    EXPECT_EXT_NEAR(y_out[3], oscillator_state[3] - 0.25L * h, 1e-18L) << h;
    EXPECT_EQ(y_out[4], oscillator_state[4]) << h;
    // dydx is the derivative at the start state.
    EXPECT_EQ(dydx[1], 0.5L * oscillator_state[2]);
    EXPECT_EQ(dydx[2], -2 * oscillator_state[1]);
    EXPECT_EQ(dydx[3], -0.25L);
    EXPECT_EQ(dydx[4], 0);
  }
}

TEST(Rk4Step, ZeroStepKeepsTheStateAndGivesTheDerivative) {
  State dydx{}, y_out{}, f{};
  lyap::rk4_step(typical_state, dydx, 0, y_out, typical_params);
  lyap::model_derivs(typical_state, f, typical_params);
  for (int i = 1; i <= lyap::n_dims; ++i) {
    EXPECT_EQ(y_out[i], typical_state[i]);
    EXPECT_EQ(dydx[i], f[i]);
  }
}

TEST(Rk4Step, InPlaceEqualsSeparateOutput) {
  State dydx_a{}, dydx_b{}, separate{};
  State in_place = typical_state;
  lyap::rk4_step(typical_state, dydx_a, 0.1L, separate, typical_params);
  lyap::rk4_step(in_place, dydx_b, 0.1L, in_place, typical_params);
  EXPECT_EQ(in_place, separate);
  EXPECT_EQ(dydx_a, dydx_b);
}

TEST(SubstepCount, WorkedValues) {
  struct Case {
    long double ratio;
    int n_sub;
  };
  const Case cases[] = {{0, 2}, {1e-30L, 2}, {1, 3}, {16, 4}, {81, 5}, {10000, 12}};
  for (const auto& c : cases) {
    EXPECT_EQ(lyap::substep_count(c.ratio * lyap::rk_tol), c.n_sub) << c.ratio;
  }
  EXPECT_EQ(lyap::rk_tol, 9.99999993922529029077850282192230224609375e-9L);
}

TEST(SubstepCount, FailsFromAboutPointNineOneEightSix) {
  // 100 substeps start where q + 1.1 (single) exceeds 99.
  const long double q_limit = 99 - lyap::widen(1.1f);
  const long double threshold = q_limit * q_limit * q_limit * q_limit * lyap::rk_tol;
  EXPECT_EXT_NEAR(threshold, 0.9186L, 0.0001L);
  EXPECT_EQ(lyap::substep_count(threshold * (1 - 1e-12L)), 99);
  EXPECT_EQ(lyap::substep_count(threshold * (1 + 1e-12L)), 100);
  const long double beyond[] = {1,
                                1e30L,
                                1e4000L,
                                std::numeric_limits<long double>::max(),
                                std::numeric_limits<long double>::infinity(),
                                std::numeric_limits<long double>::quiet_NaN()};
  for (const long double err : beyond) EXPECT_EQ(lyap::substep_count(err), 100) << err;
}

// The count is formed without std::ceil; it must be the ceiling's integer for every input:
// at and around each point where the count changes, and over the whole range of exponents.
TEST(SubstepCount, AgreesWithTheCeilingAsWritten) {
  const auto as_written = [](long double err_max) {
    const long double ratio = err_max / lyap::rk_tol;
    const long double q = ratio == 0 ? 0 : std::sqrt(std::sqrt(ratio));
    long double n_sub = std::ceil(q + lyap::widen(1.1f));
    if (!(n_sub < 100)) n_sub = 100;
    return static_cast<int>(n_sub);
  };
  using limits = std::numeric_limits<long double>;
  std::vector<long double> errs = {0,
                                   -0.0L,
                                   limits::denorm_min(),
                                   -1e-30L,
                                   -1,
                                   limits::max(),
                                   limits::infinity(),
                                   -limits::infinity(),
                                   1e-8L,
                                   limits::quiet_NaN()};
  for (int k = 1; k <= 101; ++k) {
    const long double q = k - lyap::widen(1.1f);
    long double err = q * q * q * q * lyap::rk_tol;
    for (int i = 0; i < 4; ++i) err = std::nextafter(err, 0.0L);
    for (int i = 0; i < 9; ++i, err = std::nextafter(err, limits::infinity())) errs.push_back(err);
  }
  std::mt19937_64 gen(24);
  // Mostly where counts 2..99 lie, the rest anywhere in the range.
  std::uniform_int_distribution<int> near(-40, 1), anywhere(-16445, 16383);
  for (int i = 0; i < 200000; ++i) {
    const int e = i % 4 == 0 ? anywhere(gen) : near(gen);
    errs.push_back(std::ldexp(static_cast<long double>(gen()), e - 64));
  }
  for (const long double err : errs) {
    ASSERT_EQ(lyap::substep_count(err), as_written(err)) << err;
  }
}

TEST(Advance, ExtrapolatesTheSubstepsOnALinearModel) {
  // h, the substep count it needs (the ratio err_max / rk_tol keeps well away from a
  // boundary in each case) and the weight of the single step, 1 / (n^4 - 1).
  struct Case {
    long double h;
    int n_sub;
    long double w;
  };
  const Case cases[] = {{0.05L, 2, 1 / 15.0L},
                        {0.1L, 4, 1 / 255.0L},
                        {0.3L, 10, 1 / 9999.0L},
                        {1.0L, 38, 1 / 2085135.0L},
                        {-0.5L, 17, 1 / 83520.0L}};
  const Pair start = {oscillator_state[1], oscillator_state[2]};
  for (const auto& c : cases) {
    const Pair full = oscillator_step(start, c.h);
    const Pair halves = oscillator_steps(start, c.h / 2, 2);
    const long double err_max =
        std::fmax(std::fabs(full.x1 - halves.x1), std::fabs(full.x2 - halves.x2));
    ASSERT_EQ(lyap::substep_count(err_max), c.n_sub) << c.h;

    const long double n = c.n_sub;
    const Pair fine = oscillator_steps(start, c.h / n, c.n_sub);
    const Pair expected = {fine.x1 + (full.x1 - fine.x1) * c.w,
                           fine.x2 + (full.x2 - fine.x2) * c.w};
    // The derivative at the start of the last substep (the first half step when n_sub = 2).
    const Pair last_start = c.n_sub == 2 ? oscillator_step(start, c.h / 2)
                                         : oscillator_steps(start, c.h / n, c.n_sub - 1);

    State y = oscillator_state;
    State dydx{};
    lyap::Rng rng = lyap::make_rng(7);
    lyap::advance(y, dydx, c.h, y, oscillator_params, rng);
    EXPECT_EXT_NEAR(y[1], expected.x1, 1e-16L) << c.h;
    EXPECT_EXT_NEAR(y[2], expected.x2, 1e-16L) << c.h;
    EXPECT_EXT_NEAR(y[3], oscillator_state[3] - 0.25L * c.h, 1e-17L) << c.h;
    EXPECT_EQ(y[4], oscillator_state[4]);
    EXPECT_EXT_NEAR(dydx[1], 0.5L * last_start.x2, 1e-16L) << c.h;
    EXPECT_EXT_NEAR(dydx[2], -2 * last_start.x1, 1e-16L) << c.h;
    EXPECT_EQ(rng.draws, 0u);
  }
}

TEST(Advance, FailureMarksX1AndKeepsTheSingleStep) {
  // h = 3 on the oscillator needs far more than 99 substeps.
  for (const bool in_place : {false, true}) {
    State y = oscillator_state;
    State y_out{};
    State& target = in_place ? y : y_out;
    State dydx{};
    lyap::Rng rng = lyap::make_rng(7);
    lyap::advance(y, dydx, 3, target, oscillator_params, rng);

    State single{}, single_dydx{}, half{}, half_dydx{};
    lyap::rk4_step(oscillator_state, single_dydx, 3, single, oscillator_params);
    lyap::rk4_step(oscillator_state, half_dydx, 1.5L, half, oscillator_params);
    State derivative_at_half{};
    lyap::model_derivs(half, derivative_at_half, oscillator_params);

    EXPECT_EQ(target[1], 1e99L);
    for (int i = 2; i <= lyap::n_dims; ++i) EXPECT_EQ(target[i], single[i]) << i;
    for (int i = 1; i <= lyap::n_dims; ++i) EXPECT_EQ(dydx[i], derivative_at_half[i]) << i;
    EXPECT_EQ(rng.draws, 0u);
  }
}

TEST(Advance, InPlaceEqualsSeparateOutput) {
  for (const long double h : {0.1L, 0.05L, 0.37L}) {
    lyap::Rng rng_a = lyap::make_rng(99);
    lyap::Rng rng_b = rng_a;
    State dydx_a{}, dydx_b{}, separate{};
    State in_place = typical_state;
    lyap::advance(typical_state, dydx_a, h, separate, typical_params, rng_a);
    lyap::advance(in_place, dydx_b, h, in_place, typical_params, rng_b);
    EXPECT_EQ(in_place, separate) << h;
    EXPECT_EQ(dydx_a, dydx_b) << h;
    EXPECT_EQ(rng_a.draws, rng_b.draws);
  }
}

// The trial's two neighbours go side by side; that must be the two calls one after the other,
// to the last bit, also where the two take different numbers of substeps, one fails, or the
// nudges of both draw from the generator.
TEST(Advance, PairEqualsTheTwoCallsInTurn) {
  const Params fixed_point = {0, 0.5L, 0.5L, 0.5L, 1, 0};
  struct Case {
    const char* name;
    Params p;
    State a, b;
    long double h;
  };
  const Case cases[] = {
      {"neighbours", typical_params, typical_state, {0, 2, -1.1L, 0.1L + 1e-9L, 1.1L}, 0.1L},
      {"different substeps", typical_params, typical_state, {0, 1, 1, 1, 1}, 0.37L},
      {"the first fails", typical_params, {0, 0.5L, 2, 1, 0.5L}, typical_state, 0.6L},
      {"the second fails", typical_params, typical_state, {0, 0.5L, 2, 1, 0.5L}, 0.6L},
      {"both nudged", fixed_point, {0, 1, 0, 1e-1001L, 2.5L}, {0, 1, 0, -3e-1200L, 2.5L}, 0.1L},
  };
  for (const Case& c : cases) {
    const lyap::ModelCoeffs m = lyap::model_coeffs(c.p);
    State a_start{};
    lyap::model_derivs(c.a, a_start, m);

    lyap::Rng rng_turn = lyap::make_rng(5);
    State a_turn = c.a, b_turn = c.b, dydx_turn = a_start;
    lyap::advance_from(a_turn, dydx_turn, dydx_turn, c.h, a_turn, m, rng_turn);
    lyap::advance(b_turn, dydx_turn, c.h, b_turn, m, rng_turn);

    lyap::Rng rng_pair = lyap::make_rng(5);
    State a_pair = c.a, b_pair = c.b, dydx_pair = a_start;
    lyap::advance_pair(a_pair, dydx_pair, a_pair, b_pair, b_pair, dydx_pair, c.h, m, rng_pair);

    EXPECT_TRUE(as_written::same_bits(a_pair, a_turn)) << c.name;
    EXPECT_TRUE(as_written::same_bits(b_pair, b_turn)) << c.name;
    EXPECT_TRUE(as_written::same_bits(dydx_pair, dydx_turn)) << c.name;
    EXPECT_EQ(rng_pair.draws, rng_turn.draws) << c.name;
    EXPECT_EQ(lyap::rnd(rng_pair), lyap::rnd(rng_turn)) << c.name;
  }
}

TEST(Advance, FixedPointStaysPutApartFromJitterOnTinyComponents) {
  // With p = (0.5, 0.5, 0.5, 1, 0) every derivative vanishes exactly at x2 = 0,
  // x4 = p3 + 2 p4^2 x1^2, whatever x3 is.
  const Params p = {0, 0.5L, 0.5L, 0.5L, 1, 0};
  const long double angles[] = {0.7L, 0, -0.0L, 1e-999L, 1e-1001L, -3e-1200L, 2e-1000L};
  for (const long double x3 : angles) {
    const State start = {0, 1, 0, x3, 2.5L};
    State f{};
    lyap::model_derivs(start, f, p);
    ASSERT_EQ(f, (State{0, 0, 0, 0, 0})) << x3;

    lyap::Rng rng = lyap::make_rng(2024);
    lyap::Rng replay = rng;
    State y = start;
    lyap::advance(y, f, 0.1L, y, p, rng);

    int tiny = 0;
    for (int i = 1; i <= lyap::n_dims; ++i) {
      if (std::fabs(start[i]) < 1e-1000L) {
        ++tiny;
        const long double expected = start[i] + 1e-1000L * (lyap::rnd(replay) - 0.5L);
        EXPECT_EQ(y[i], expected) << "component " << i << " at x3 = " << x3;
        EXPECT_GE(y[i], -5e-1001L - std::fabs(start[i]));
        EXPECT_LT(y[i], 5e-1001L + std::fabs(start[i]));
      } else {
        EXPECT_EQ(y[i], start[i]) << "component " << i << " at x3 = " << x3;
      }
    }
    EXPECT_EQ(rng.draws, static_cast<std::uint64_t>(tiny)) << x3;
  }
}

// The trial loop rejects a state with x1 not >= 0.1 or x4 not > 0, or with |x(i)| > 1000 for
// i = 1..3.
bool trial_rejects(const State& x) {
  if (!(x[1] >= 0.1L) || !(x[4] > 0)) return true;
  for (int i = 1; i <= 3; ++i) {
    if (std::fabs(x[i]) > 1000) return true;
  }
  return false;
}

TEST(Advance, NonFiniteInputsReturnAStateTheTrialRejects) {
  constexpr long double inf = std::numeric_limits<long double>::infinity();
  constexpr long double nan = std::numeric_limits<long double>::quiet_NaN();
  for (int i = 1; i <= lyap::n_dims; ++i) {
    for (const long double bad : {inf, -inf, nan, 1e4000L}) {
      State y = typical_state;
      y[i] = bad;
      State dydx{};
      lyap::Rng rng = lyap::make_rng(5);
      lyap::advance(y, dydx, 0.1L, y, typical_params, rng);
      EXPECT_TRUE(trial_rejects(y)) << "x" << i << " = " << bad << " gives (" << y[1] << ", "
                                    << y[2] << ", " << y[3] << ", " << y[4] << ")";
    }
  }
  State at_singularity = {0, 0, 1, 0.5L, 1};  // x1 = 0
  State dydx{};
  lyap::Rng rng = lyap::make_rng(5);
  lyap::advance(at_singularity, dydx, 0.1L, at_singularity, typical_params, rng);
  EXPECT_TRUE(trial_rejects(at_singularity));
}

// States for the bit-for-bit comparisons: drawn over and beyond the region trials visit
// (small x1 makes the model stiff enough to need many substeps, or to fail), plus fixed points
// of the uncoupled model whose zero components get jitter.
struct Case {
  Params p;
  State y;
  long double h;
};

std::vector<Case> comparison_cases(std::uint64_t seed, int count) {
  std::mt19937_64 gen(seed);
  auto uniform = [&gen](long double lo, long double hi) {
    return lo + (hi - lo) * std::ldexp(static_cast<long double>(gen()), -64);
  };
  std::vector<Case> cases;
  for (int i = 0; i < count; ++i) {
    Case c;
    if (i % 50 == 0) {
      c.p = {0, 0.5L, 0.5L, 0.5L, 1, 0};
      c.y = {0, 1, 0, (i % 100 == 0) ? 0.0L : 1e-1001L, 2.5L};
    } else {
      c.p = {0, 1.000136L, 0.5L, uniform(-4, 4), uniform(0.2L, 2), uniform(0.01L, 3)};
      c.y = {0, uniform(0.02L, 6), uniform(-3, 3), uniform(-200, 200), uniform(0.01L, 8)};
    }
    c.h = (i % 3 == 0) ? uniform(0.001L, 0.3L) : 0.1L;
    cases.push_back(c);
  }
  return cases;
}

// The substep count advance picks for a case, or 100 for a failure.
int substeps_of(const Case& c) {
  State full{}, fine{}, dydx{};
  as_written::rk4_step(c.y, dydx, c.h, full, c.p);
  as_written::rk4_step(c.y, dydx, c.h / 2, fine, c.p);
  as_written::rk4_step(fine, dydx, c.h / 2, fine, c.p);
  long double err_max = 0;
  for (int i = 1; i <= lyap::n_dims; ++i)
    err_max = std::fmax(err_max, std::fabs(full[i] - fine[i]));
  return lyap::substep_count(err_max);
}

TEST(Advance, MatchesTheIntegratorAsWrittenBitForBit) {
  std::map<int, int> substeps_seen;
  int jittered = 0;
  for (const Case& c : comparison_cases(11, 3000)) {
    ++substeps_seen[substeps_of(c)];
    lyap::Rng rng_expected = lyap::make_rng(3), rng_params = rng_expected,
              rng_coeffs = rng_expected;
    State expected{}, via_params{}, via_coeffs{};
    State f_expected{}, f_params{}, f_coeffs{};
    as_written::advance(c.y, f_expected, c.h, expected, c.p, rng_expected);
    lyap::advance(c.y, f_params, c.h, via_params, c.p, rng_params);
    State in_place = c.y;
    lyap::advance(in_place, f_coeffs, c.h, in_place, lyap::model_coeffs(c.p), rng_coeffs);
    via_coeffs = in_place;
    jittered += rng_expected.draws > 0;
    ASSERT_TRUE(as_written::same_bits(via_params, expected) &&
                as_written::same_bits(via_coeffs, expected))
        << "y = (" << c.y[1] << ", " << c.y[2] << ", " << c.y[3] << ", " << c.y[4] << ")";
    ASSERT_TRUE(as_written::same_bits(f_params, f_expected) &&
                as_written::same_bits(f_coeffs, f_expected));
    ASSERT_EQ(rng_params.s, rng_expected.s);
    ASSERT_EQ(rng_coeffs.s, rng_expected.s);
  }
  // The cases reach every branch: two half steps only, extra substeps, failure, jitter.
  EXPECT_GT(substeps_seen[2], 0);
  EXPECT_GT(substeps_seen[3] + substeps_seen[4] + substeps_seen[5], 0);
  EXPECT_GT(substeps_seen[100], 0);
  EXPECT_GT(jittered, 0);
}

TEST(AdvanceFrom, GivenTheDerivativeAtTheStartMatchesTheIntegratorAsWritten) {
  // The trial passes its f both as the known derivative and as the scratch array; half the
  // cases do the same here.
  int with_substeps = 0;
  const std::vector<Case> cases = comparison_cases(12, 2000);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    with_substeps += substeps_of(c) > 2 && substeps_of(c) < 100;
    lyap::Rng rng_expected = lyap::make_rng(4), rng = rng_expected;
    State expected{}, f_expected{};
    as_written::advance(c.y, f_expected, c.h, expected, c.p, rng_expected);

    State start_derivative{};
    as_written::model_derivs(c.y, start_derivative, c.p);
    State y = c.y, f{};
    if (i % 2 == 0) {
      f = start_derivative;
      lyap::advance_from(y, f, f, c.h, y, lyap::model_coeffs(c.p), rng);
    } else {
      lyap::advance_from(y, start_derivative, f, c.h, y, lyap::model_coeffs(c.p), rng);
    }
    ASSERT_TRUE(as_written::same_bits(y, expected)) << "case " << i;
    ASSERT_TRUE(as_written::same_bits(f, f_expected)) << "case " << i;
    ASSERT_EQ(rng.s, rng_expected.s) << "case " << i;
    ASSERT_EQ(rng.draws, rng_expected.draws) << "case " << i;
  }
  EXPECT_GT(with_substeps, 0);
}

}  // namespace
