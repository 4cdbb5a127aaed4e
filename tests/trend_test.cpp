#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "numerics/numerics.hpp"
#include "tests/extended_near.hpp"

namespace {

struct TrendCase {
  const char* name;
  std::vector<long double> series;
  long double estimate;
  long double spread;
  long double tolerance;
};

TEST(TrendEstimate, WindowMeanCases) {
  // Seven samples give thirds 0..2, 2..4 and 4..6, each of three values.
  const TrendCase cases[] = {
      // Means 3, 2, 5/3: L = 1, c = 2, below every sample; the spread reaches down to it.
      {"decay", {3, 3, 3, 1.5L, 1.5L, 1.75L, 1.75L}, 1, 2, 1e-17L},
      // Means 1, 2, 3: equal steps, the plain mean.
      {"equal steps", {1, 1, 1, 2.5L, 2.5L, 3.25L, 3.25L}, 2, 2.25L, 0},
      // Means 1, 2, 4: growing steps, the plain mean.
      {"growing steps", {1, 1, 1, 2.5L, 2.5L, 4.75L, 4.75L}, 7 / 3.0L, 3.75L, 1e-18L},
      // Means 4, 1, 1: the changes stop, so the level is where the series came to rest.
      {"settled", {4, 4, 4, -0.5L, -0.5L, 1.75L, 1.75L}, 1, 4.5L, 0},
      // Means 1, 3, 4: shrinking changes upwards; the level 7 lies above every sample and
      // the spread reaches up to it.
      {"rising", {1, 1, 1, 4, 4, 4, 4}, 7, 6, 0},
  };
  for (const auto& c : cases) {
    long double estimate = -99, spread = -99;
    lyap::trend_estimate(c.series, estimate, spread);
    EXPECT_EXT_NEAR(estimate, c.estimate, c.tolerance) << c.name;
    EXPECT_EXT_NEAR(spread, c.spread, c.tolerance) << c.name;
  }
}

TEST(TrendEstimate, ConstantSeries) {
  // Sizes of 3j + 1 samples, where all three thirds have the same length; the value and its
  // multiples are exact, so the means are too.
  for (const std::size_t size : {1u, 4u, 7u, 10000u}) {
    for (const long double c : {0.375L, -2.5L, 0.0L}) {
      const std::vector<long double> series(size, c);
      long double estimate = 99, spread = -1;
      lyap::trend_estimate(series, estimate, spread);
      EXPECT_EQ(estimate, c) << size;
      EXPECT_EQ(spread, 0) << size;
    }
  }
}

TEST(TrendEstimate, BoundaryElementsCountInTwoWindows) {
  // 10000 samples: thirds 0..3333, 3333..6666 and 6666..9999, all divided by 3334. A single
  // unit sample shows which windows see it.
  struct Case {
    std::size_t index;
    long double estimate;
  };
  const long double m = 1 / 3334.0L;
  const Case cases[] = {
      {0, 0},                   // only the first: means m, 0, 0, the changes stop at 0
      {3333, (m + m + 0) / 3},  // first and second: means m, m, 0, plain mean
      {6666, m},                // second and third: means 0, m, m, the changes stop at m
      {9999, (0 + 0 + m) / 3},  // only the third: growing change, plain mean
  };
  for (const auto& c : cases) {
    std::vector<long double> series(10000, 0);
    series[c.index] = 1;
    long double estimate = 0, spread = 0;
    lyap::trend_estimate(series, estimate, spread);
    EXPECT_EXT_NEAR(estimate, c.estimate, 1e-18L * m) << c.index;
    EXPECT_EQ(spread, 1) << c.index;
  }
}

TEST(TrendEstimate, MeansAnUlpApartFallBackToThePlainMean) {
  // Means 1 - 2^-64, 1, 1: the changes shrink (0 < 2^-64), but m1 - 2 m2 rounds to -1 and
  // the denominator becomes exactly 0.
  const std::vector<long double> series = {1 - 0x1p-63L, 1, 1, 1};
  const long double m1 = (series[0] + series[1]) / 2;
  ASSERT_EQ(m1, 1 - 0x1p-64L);
  ASSERT_EQ(m1 - 2 * 1.0L + 1.0L, 0);
  long double estimate = 0, spread = 0;
  lyap::trend_estimate(series, estimate, spread);
  EXPECT_EQ(estimate, (1 + m1 + 1) / 3);
  EXPECT_TRUE(std::isfinite(estimate));
  EXPECT_EQ(spread, 0x1p-63L);
}

TEST(TrendEstimate, OverflowingLevelFallsBackToThePlainMean) {
  // Shrinking changes among huge values: the products of the level formula overflow.
  const long double big = 1e4000L;
  const std::vector<long double> series = {4 * big, 4 * big,    4 * big,   2 * big,
                                           2 * big, 1.5L * big, 1.5L * big};
  long double estimate = 0, spread = 0;
  lyap::trend_estimate(series, estimate, spread);
  EXPECT_TRUE(std::isfinite(estimate));
  // Means 4, 8/3 and 5/3 (times big).
  EXPECT_EXT_NEAR(estimate, 25 / 9.0L * big, 1e-15L * big);
}

}  // namespace
