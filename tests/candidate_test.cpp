#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "driver/search.hpp"
#include "report/digit_sum.hpp"

namespace lyap {
namespace {

std::unique_ptr<RunState> fresh_state() {
  auto s = std::make_unique<RunState>();
  s->max_decimals = 2;
  s->max_digit_sum = (3 + s->max_decimals) * n_params;
  s->eps_sq = eps * eps;
  for (int i = 1; i <= n_params; ++i) {
    s->p_centre[i] = 1.0L;
    s->p_decimals[i] = s->max_decimals;
  }
  return s;
}

// True when v has at most d decimals.
bool has_decimals(long double v, int d) {
  return round_dec(v, d) == v;
}

struct DecimalsCase {
  long double value;
  long expected;
};

TEST(DecimalsNeeded, FewestDecimalsThatKeepTheSixDecimalValue) {
  const DecimalsCase cases[] = {
      {2.50000L, 1}, {3, 0},     {0.123456L, 6}, {1.000136L, 6},   {0.5L, 1},  {-1.25L, 2},
      {0, 0},        {1e-7L, 0}, {-40000, 0},    {12.3456789L, 6}, {0.05L, 2}, {1234.5L, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(decimals_needed(c.value), c.expected) << c.value;
}

TEST(AdaptCentres, FirstSuccessFixesSixDecimalsForP1) {
  auto s = fresh_state();
  s->p = {0, 1.000136L, 0.5L, 2.5L, -3, 0.47L};
  adapt_centres(*s);
  EXPECT_EQ(s->p_decimals[1], 6);
  EXPECT_EQ(s->p_decimals[2], 1);
  EXPECT_EQ(s->p_decimals[3], 1);
  EXPECT_EQ(s->p_decimals[4], 0);
  EXPECT_EQ(s->p_decimals[5], 2);
  EXPECT_EQ(s->max_decimals, 6);
  for (int i = 1; i <= n_params; ++i) EXPECT_EQ(s->p_centre[i], s->p[i]);
}

TEST(AdaptCentres, MaxDecimalsIsAtLeastOne) {
  auto s = fresh_state();
  s->p = {0, 2, 1, 3, -4, 5};
  adapt_centres(*s);
  EXPECT_EQ(s->max_decimals, 1);
}

TEST(DrawCandidate, AcceptedSetsRespectBudgetFixedValuesAndDomain) {
  auto s = fresh_state();
  Rng rng = make_rng(12345.678L);
  for (int trial = 0; trial < 2000; ++trial) {
    draw_candidate(*s, rng);
    EXPECT_EQ(s->p[0], 0);
    EXPECT_EQ(s->p[1], 1.000136L);
    EXPECT_EQ(s->p[2], 0.5L);
    EXPECT_GT(s->p[5], 0);
    EXPECT_LE(digit_sum(s->p), s->max_digit_sum);
    for (int i = 3; i <= n_params; ++i) EXPECT_TRUE(has_decimals(s->p[i], 2)) << s->p[i];
    for (int j = 1; j <= n_dims; ++j) {
      EXPECT_TRUE(has_decimals(s->x_start[j], 1)) << s->x_start[j];
      EXPECT_EQ(s->x[j], s->x_start[j]);
      EXPECT_EQ(s->x_near[j], s->x[j] + 5e-9L);
    }
    EXPECT_EQ(s->x_near[0], 0);
  }
}

TEST(DrawCandidate, TightBudgetIsNeverExceeded) {
  auto s = fresh_state();
  s->max_digit_sum = 20;  // p1 and p2 use 12: the free three get 8 characters
  Rng rng = make_rng(99.5L);
  for (int trial = 0; trial < 100; ++trial) {
    draw_candidate(*s, rng);
    EXPECT_LE(digit_sum(s->p), 20);
  }
}

TEST(DrawCandidate, ClearsCompanionSeparationAndHistory) {
  auto s = fresh_state();
  s->dx.fill(3);
  s->le_hist.fill(7);
  Rng rng = make_rng(1.0L);
  draw_candidate(*s, rng);
  for (int j = 1; j <= n_dims; ++j) EXPECT_EQ(s->dx[j], 0);
  for (long double v : s->le_hist) ASSERT_EQ(v, 0);
}

TEST(DrawCandidate, HugeCentresArePulledTowardsZeroWithoutOverflow) {
  // A centre beyond the 16-bit range still has the sign of its rounded value: the draws
  // scatter around c + |c| (g - 0.5), so their mean lies below the centre.
  auto s = fresh_state();
  s->max_digit_sum = 1000;
  s->p_centre = {0, 1, 1, 40000.25L, -70000, 5e6L};
  Rng rng = make_rng(7.0L);
  long double sum3 = 0, sum4 = 0;
  const int n = 400;
  for (int trial = 0; trial < n; ++trial) {
    draw_candidate(*s, rng);
    sum3 += s->p[3];
    sum4 += s->p[4];
  }
  EXPECT_NEAR(sum3 / n, 40000.25L - 0.5L * 40000.25L, 0.2L * 40000);
  EXPECT_NEAR(sum4 / n, -70000 + 0.5L * 70000, 0.2L * 70000);
}

TEST(DrawCandidate, DecimalsGrowByOneAtMostUpToTheCap) {
  auto s = fresh_state();
  s->max_decimals = 6;
  s->max_digit_sum = 1000;
  s->p_decimals = {0, 6, 1, 0, 3, 6};
  Rng rng = make_rng(3.25L);
  for (int trial = 0; trial < 500; ++trial) {
    draw_candidate(*s, rng);
    EXPECT_TRUE(has_decimals(s->p[3], 1)) << s->p[3];
    EXPECT_TRUE(has_decimals(s->p[4], 4)) << s->p[4];
    EXPECT_TRUE(has_decimals(s->p[5], 6)) << s->p[5];
  }
}

}  // namespace
}  // namespace lyap
