#include <gtest/gtest.h>

#include <algorithm>
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

// A draw given up after a few sets and begun again, however often, draws what one that never
// stopped draws: the search can look at its keys between the pieces.
TEST(DrawCandidate, ADrawGivenUpAndResumedIsTheDrawThatNeverStopped) {
  for (const long most_sets : {1L, 2L, 7L}) {
    auto whole = fresh_state(), pieces = fresh_state();
    whole->max_digit_sum = pieces->max_digit_sum = 17;  // a tight budget: many sets rejected
    Rng rng_whole = make_rng(777.0L), rng_pieces = rng_whole;
    long given_up = 0;
    for (int trial = 0; trial < 200; ++trial) {
      draw_candidate(*whole, rng_whole);
      while (draw_candidate(*pieces, rng_pieces, most_sets) == 0) ++given_up;
      ASSERT_EQ(pieces->p, whole->p) << most_sets << ", trial " << trial;
      ASSERT_EQ(pieces->x_start, whole->x_start) << most_sets << ", trial " << trial;
      ASSERT_EQ(rng_pieces.s, rng_whole.s) << most_sets << ", trial " << trial;
    }
    EXPECT_GT(given_up, 0) << most_sets;
  }
}

// A free p1 is drawn like p3..p5, and only values above 1 are accepted; a given one is used as
// it is.
TEST(DrawCandidate, P1IsDrawnAbove1WhenFreeAndKeptWhenGiven) {
  auto free = fresh_state(), given = fresh_state();
  free->p1 = {true, model_p1};
  given->p1 = {false, 3};
  Rng rng = make_rng(31.0L);
  long double lowest = 10, highest = 0;
  for (int trial = 0; trial < 500; ++trial) {
    draw_candidate(*free, rng);
    EXPECT_GT(free->p[1], 1);
    EXPECT_LE(digit_sum(free->p), free->max_digit_sum);
    lowest = std::min(lowest, free->p[1]);
    highest = std::max(highest, free->p[1]);
    draw_candidate(*given, rng);
    EXPECT_EQ(given->p[1], 3);
  }
  EXPECT_LT(lowest, highest);
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

// The parameter draw as written: every deviate worked out, the set judged once it is whole.
long draw_parameters_as_written(RunState& s, Rng& rng) {
  for (long drawn = 1;; ++drawn) {
    for (int i = 1; i <= n_params; ++i) {
      const long double u = rnd(rng);
      const long d =
          u * n_params < 4 ? std::min(s.p_decimals[i] + 1, s.max_decimals) : s.p_decimals[i];
      const long double c = s.p_centre[i];
      const long double r = std::rint(c);
      const long double sign = static_cast<long double>((r > 0) - (r < 0));
      const long double g = gauss_rnd(rng);
      s.p[i] = round_dec(c + std::max(std::fabs(c), 1.0L) * perturb_scale * (g - zero_pull * sign),
                         static_cast<int>(d));
    }
    s.p[1] = model_p1;
    s.p[2] = fixed_p2;
    if (digit_sum(s.p) > s.max_digit_sum) continue;
    if (s.p[1] <= 1 || s.p[5] <= 0) continue;
    return drawn;
  }
}

TEST(DrawCandidate, DrawsTheSetsAndConsumesTheNumbersOfTheDrawAsWritten) {
  // From the start-up state and from tight budgets after a success, where most sets are
  // rejected part way: the accepted sets, the start points, the count of sets drawn and the
  // generator afterwards all agree.
  struct Search {
    long budget;
    Params found;  // the last success; none for the start-up state
  };
  const Search searches[] = {{25, {}},
                             {17, {0, 1.000136L, 0.5L, 2, 1, 2}},
                             {20, {0, 1.000136L, 0.5L, 2.5L, 0.5L, 1}},
                             {14, {0, 1.000136L, 0.5L, 0, 1, 1}}};
  for (const Search& search : searches) {
    auto s = fresh_state();
    if (search.budget != 25) {
      s->p = search.found;
      adapt_centres(*s);
      s->max_digit_sum = search.budget;
    }
    s->x_centre = {0, 2, -1.1L, 0.1L, 1.1L};
    Rng rng = make_rng(static_cast<long double>(search.budget)), rng_expected = rng;
    auto expected = std::make_unique<RunState>(*s);
    long rejected = 0;
    for (int trial = 0; trial < 300; ++trial) {
      const long drawn = draw_candidate(*s, rng);
      const long drawn_expected = draw_parameters_as_written(*expected, rng_expected);
      for (int j = 1; j <= n_dims; ++j) {
        expected->x_start[j] =
            round_dec(expected->x_centre[j] + gauss_rnd(rng_expected) * perturb_scale, 1);
      }
      rejected += drawn - 1;
      ASSERT_EQ(drawn, drawn_expected) << "budget " << search.budget << ", trial " << trial;
      ASSERT_EQ(s->p, expected->p) << "budget " << search.budget << ", trial " << trial;
      ASSERT_EQ(s->x_start, expected->x_start) << "budget " << search.budget;
      ASSERT_EQ(rng.s, rng_expected.s) << "budget " << search.budget << ", trial " << trial;
    }
    if (search.budget < 25) {
      EXPECT_GT(rejected, 300) << search.budget;
    }
  }
}

}  // namespace
}  // namespace lyap
