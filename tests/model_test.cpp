#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "numerics/numerics.hpp"
#include "tests/extended_near.hpp"
#include "tests/model_as_written.hpp"

namespace {

using lyap::Params;
using lyap::State;

const Params typical_params = {0, 1.000136L, 0.5L, 2.55L, 0.58L, 0.47L};

// dE/dx(j) by the five-point central difference, accurate to O(step^4).
long double partial(const State& x, const Params& p, int j, long double step) {
  auto energy_at = [&](long double offset) {
    State shifted = x;
    shifted[j] += offset;
    return lyap::invariant(shifted, p);
  };
  return (8 * (energy_at(step) - energy_at(-step)) - (energy_at(2 * step) - energy_at(-2 * step))) /
         (12 * step);
}

struct HamiltonCase {
  Params p;
  State x;
};

TEST(ModelDerivs, AreHamiltonsEquationsOfTheInvariant) {
  const HamiltonCase cases[] = {
      {typical_params, {0, 2, -1.1L, 0.1L, 1.1L}},
      {typical_params, {0, 0.7L, 0.3L, 2.0L, 3.2L}},
      {typical_params, {0, 5, 1.5L, -4, 0.05L}},
      {typical_params, {0, -1.3L, 0.2L, 0.7L, 2.0L}},
      {{0, 1.000136L, 0.5L, -1.25L, 1.7L, -0.3L}, {0, 0.9L, -0.4L, 12.5L, 0.8L}},
      {{0, 1.000136L, 0.5L, 0.05L, 0.11L, 2.5L}, {0, 3.3L, 0.01L, -0.6L, 4.5L}},
  };
  for (const auto& c : cases) {
    State f{};
    lyap::model_derivs(c.x, f, c.p);
    const long double expected[] = {0, partial(c.x, c.p, 2, 1e-4L), -partial(c.x, c.p, 1, 1e-4L),
                                    partial(c.x, c.p, 4, 1e-4L), -partial(c.x, c.p, 3, 1e-4L)};
    for (int i = 1; i <= lyap::n_dims; ++i) {
      const long double scale = std::fmax(1.0L, std::fabs(expected[i]));
      EXPECT_EXT_NEAR(f[i], expected[i], 1e-11L * scale)
          << "f" << i << " at x = (" << c.x[1] << ", " << c.x[2] << ", " << c.x[3] << ", " << c.x[4]
          << ")";
    }
  }
}

TEST(ModelDerivs, CouplingVanishesWhenP1EqualsP2) {
  // e = 1 - p1/p2 = 0: f1 = p1 x2, f4 = 0, and nothing depends on the angle x3.
  const Params p = {0, 0.5L, 0.5L, 2.55L, 0.58L, 0.47L};
  for (const long double x3 : {0.1L, 1.7L, -3.0L}) {
    const State x = {0, 1.4L, -0.8L, x3, 0.9L};
    const State x_other_angle = {0, 1.4L, -0.8L, x3 + 0.77L, 0.9L};
    State f{}, f_other{};
    lyap::model_derivs(x, f, p);
    lyap::model_derivs(x_other_angle, f_other, p);
    EXPECT_EQ(f[1], 0.5L * -0.8L);
    EXPECT_EQ(f[4], 0);
    EXPECT_EQ(f[2], f_other[2]);
    EXPECT_EQ(f[3], f_other[3]);
  }
}

TEST(ModelDerivs, LeavesElementZeroAlone) {
  const State x = {0, 2, -1.1L, 0.1L, 1.1L};
  for (const long double sentinel : {42.0L, -0.0L, std::numeric_limits<long double>::quiet_NaN()}) {
    State f{};
    f[0] = sentinel;
    lyap::model_derivs(x, f, typical_params);
    if (std::isnan(sentinel)) {
      EXPECT_TRUE(std::isnan(f[0]));
    } else {
      EXPECT_EQ(f[0], sentinel);
      EXPECT_EQ(std::signbit(f[0]), std::signbit(sentinel));
    }
  }
}

TEST(ModelDerivs, NegativeMomentumEntersAsItsOwnSquareRoot) {
  // For x4 < 0 the program's square root returns x4 itself, so f1 = p1 x2 + e sin(2 p4 x3) x4
  // stays finite where a true square root would give NaN.
  const State x = {0, 2, -1.1L, 0.1L, -1e-30L};
  State f{};
  lyap::model_derivs(x, f, typical_params);
  const long double e = 1 - typical_params[1] / typical_params[2];
  EXPECT_EQ(f[1], typical_params[1] * x[2] + e * std::sin(2 * typical_params[4] * x[3]) * x[4]);
  for (int i = 1; i <= lyap::n_dims; ++i) EXPECT_TRUE(std::isfinite(f[i])) << i;
}

TEST(ModelDerivs, SingularStatesGiveNonFiniteValuesWithoutTrapping) {
  const State states[] = {{0, 0, 1, 0.5L, 1}, {0, 1, 1, 0.5L, 0}};
  for (const State& x : states) {
    State f{};
    lyap::model_derivs(x, f, typical_params);
    bool any_non_finite = false;
    for (int i = 1; i <= lyap::n_dims; ++i) any_non_finite |= !std::isfinite(f[i]);
    EXPECT_TRUE(any_non_finite);
  }
}

TEST(Invariant, SumsTheSevenTerms) {
  // At x3 = 0 the coupling reduces to -e sqrt(x4) (k x1 + (p3 - x4)/(p4 x1)) / 2; with
  // p = (1, 0.5, 2, 1, 3) and x = (1, 2, 0, 4): k = -2, e = -1, and the terms are
  // 2, 1/2, 1/2, -3, 6, -6 and -4, summing to -4.
  const Params p = {0, 1, 0.5L, 2, 1, 3};
  const State x = {0, 1, 2, 0, 4};
  EXPECT_EQ(lyap::k_aux(p), -2);
  EXPECT_EQ(lyap::invariant(x, p), -4);
}

TEST(Invariant, IsConservedAlongTheFlow) {
  // A cheap end-to-end check of model and integrator together: E drifts only by the
  // integration error over 100 output intervals.
  State x = {0, 2, -1.1L, 0.1L, 1.1L};
  const long double e_start = lyap::invariant(x, typical_params);
  State f{};
  lyap::Rng rng = lyap::make_rng(1);
  for (int step = 0; step < 100; ++step) lyap::advance(x, f, 0.1L, x, typical_params, rng);
  EXPECT_EXT_NEAR(lyap::invariant(x, typical_params), e_start, 1e-7L * std::fabs(e_start));
}

TEST(ModelDerivs, WorkedOutParametersGiveTheBitsOfTheEquationsAsWritten) {
  // Random parameter sets and states over and beyond the region trials visit, then states
  // at the singularities and with non-finite or out-of-range components.
  std::mt19937_64 gen(314159);
  auto uniform = [&gen](long double lo, long double hi) {
    return lo + (hi - lo) * std::ldexp(static_cast<long double>(gen()), -64);
  };
  constexpr long double inf = std::numeric_limits<long double>::infinity();
  constexpr long double nan = std::numeric_limits<long double>::quiet_NaN();
  const State edge_states[] = {
      {0, 0, 1, 0.5L, 1},
      {0, 1, 1, 0.5L, 0},
      {0, 1, 1, 0.5L, -2},
      {0, 1, 1, 0.5L, -1e-30L},
      {0, -0.0L, 0, -0.0L, 0},
      {0, 1e-1000L, 1, 2, 3},
      {0, 1, 1, 3e7L, 1},
      {0, 1, 1, -1e300L, 1},
      {0, nan, 1, 1, 1},
      {0, 1, inf, 1, 1},
      {0, 1, 1, inf, 1},
      {0, 1, 1, 1, inf},
      {0, 1e2000L, 1, 1, 1e-2000L},
      {0, 2, -1.1L, 0.1L, 1.1L},
      {0, 1, 1, 1, 2.55L},
  };
  const Params edge_params[] = {typical_params,
                                {0, 1.000136L, 0.5L, 2.55L, 0, 0.47L},
                                {0, 0.5L, 0.5L, 1, 2, 0},
                                {0, 1.000136L, 0.5L, -3.7L, -1.25L, 1e-6L},
                                {0, 1.000136L, 0.5L, 0, 1e-9L, 40},
                                {0, 1.000136L, 0.5L, -0.0L, 0.58L, 0.47L},
                                {0, 1.000136L, 0.5L, 2.55L, 0.58L, 1e-2000L}};

  // Every way the program evaluates the model: from p, from the worked-out factors, and the
  // divergence estimate's values around x, each at its point.
  auto expect_same = [](const State& x, const Params& p) {
    State expected{}, via_params{}, via_coeffs{}, via_differences{};
    as_written::model_derivs(x, expected, p);
    lyap::model_derivs(x, via_params, p);
    const lyap::ModelCoeffs m = lyap::model_coeffs(p);
    lyap::model_derivs(x, via_coeffs, m);
    const long double h = 1e-8L;
    const lyap::ModelDifferences d = lyap::model_differences(x, h, m, via_differences);
    State lower = x, upper = x, at_lower{}, at_upper{};
    lower[3] = x[3] - h * 0.5L;
    upper[3] = lower[3] + h;
    as_written::model_derivs(lower, at_lower, p);
    as_written::model_derivs(upper, at_upper, p);
    bool same_around = std::memcmp(&d.f3_lower, &at_lower[3], 10) == 0 &&
                       std::memcmp(&d.f3_upper, &at_upper[3], 10) == 0;
    lower = upper = x;
    lower[4] = x[4] - h * 0.5L;
    upper[4] = lower[4] + h;
    as_written::model_derivs(lower, at_lower, p);
    as_written::model_derivs(upper, at_upper, p);
    same_around = same_around && std::memcmp(&d.f4_lower, &at_lower[4], 10) == 0 &&
                  std::memcmp(&d.f4_upper, &at_upper[4], 10) == 0;
    return as_written::same_bits(via_params, expected) &&
           as_written::same_bits(via_coeffs, expected) &&
           as_written::same_bits(via_differences, expected) && same_around;
  };
  for (int i = 0; i < 200000; ++i) {
    // The model's own p1, and the family's: no shortcut may hold for 1.000136 alone.
    const long double p1 = i % 3 == 0 ? 1.000136L : i % 3 == 1 ? 1.5L : 3;
    const Params p = {0, p1, 0.5L, uniform(-5, 5), uniform(-3, 3), uniform(0, 5)};
    const State x = {0, uniform(0.05L, 8), uniform(-4, 4), uniform(-3000, 3000),
                     uniform(-0.5L, 12)};
    ASSERT_TRUE(expect_same(x, p))
        << "x = (" << x[1] << ", " << x[2] << ", " << x[3] << ", " << x[4] << "), p3..p5 = " << p[3]
        << ", " << p[4] << ", " << p[5];
  }
  for (const Params& p : edge_params) {
    for (const State& x : edge_states) {
      EXPECT_TRUE(expect_same(x, p))
          << "x = (" << x[1] << ", " << x[2] << ", " << x[3] << ", " << x[4]
          << "), p3..p5 = " << p[3] << ", " << p[4] << ", " << p[5];
    }
  }
}

}  // namespace
