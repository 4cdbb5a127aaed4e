#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "numerics/numerics.hpp"
#include "tests/extended_near.hpp"

namespace {

using lyap::gauss_rnd;
using lyap::make_rng;
using lyap::rnd;
using lyap::Rng;

TEST(Rnd, FollowsTheXoshiro256StarStarSequence) {
  // The first outputs of xoshiro256** from the state {1, 2, 3, 4}, scaled by 2^-64.
  Rng rng;
  rng.s = {1, 2, 3, 4};
  const unsigned long long expected[] = {11520ULL, 0ULL, 1509978240ULL, 1215971899390074240ULL};
  for (const unsigned long long e : expected) {
    EXPECT_EQ(rnd(rng), static_cast<long double>(e) * 0x1p-64L);
  }
  EXPECT_EQ(rng.draws, 4u);
}

TEST(Rnd, ValuesLieInTheUnitIntervalOnTheFullGrid) {
  Rng rng = make_rng(43210.123456L);
  int odd_numerators = 0;
  constexpr int n = 100000;
  long double sum = 0;
  for (int i = 0; i < n; ++i) {
    const long double r = rnd(rng);
    ASSERT_GE(r, 0);
    ASSERT_LT(r, 1);
    // A multiple of 2^-64, using all 64 bits: about half the numerators are odd.
    const long double numerator = r * 0x1p64L;
    ASSERT_EQ(numerator, std::floor(numerator));
    if (std::fmod(numerator, 2.0L) == 1) ++odd_numerators;
    sum += r;
  }
  EXPECT_EXT_NEAR(odd_numerators, n / 2, 1000);
  EXPECT_EXT_NEAR(sum / n, 0.5L, 0.005L);
}

std::vector<long double> first_draws(Rng rng, int count) {
  std::vector<long double> out;
  for (int i = 0; i < count; ++i) out.push_back(rnd(rng));
  return out;
}

TEST(MakeRng, NeighbouringSeedsGiveDifferentSequences) {
  // Seeds from the time of day differ by tiny amounts; each bit of the value must count.
  const long double base = 43210.123456L;
  const long double neighbours[] = {
      std::nextafter(base, 0.0L), std::nextafter(base, 1e9L), -base, base * 2, 0.0L, -0.0L};
  const auto reference = first_draws(make_rng(base), 4);
  for (const long double seed : neighbours) {
    EXPECT_NE(first_draws(make_rng(seed), 4), reference) << seed;
  }
  EXPECT_NE(first_draws(make_rng(0.0L), 4), first_draws(make_rng(-0.0L), 4));
}

TEST(MakeRng, IgnoresThePaddingOfTheExtendedFormat) {
  // The same value stored over different leftover bytes must seed the same generator.
  alignas(long double) unsigned char a[sizeof(long double)];
  alignas(long double) unsigned char b[sizeof(long double)];
  std::memset(a, 0x00, sizeof a);
  std::memset(b, 0xA5, sizeof b);
  const long double seed = 3600.5L;
  std::memcpy(a, &seed, 10);
  std::memcpy(b, &seed, 10);
  long double from_a, from_b;
  std::memcpy(&from_a, a, sizeof from_a);
  std::memcpy(&from_b, b, sizeof from_b);
  EXPECT_EQ(first_draws(make_rng(from_a), 8), first_draws(make_rng(from_b), 8));
}

TEST(MakeRng, StateIsNeverAllZero) {
  for (const long double seed : {0.0L, 1.0L, std::numeric_limits<long double>::quiet_NaN()}) {
    const Rng rng = make_rng(seed);
    EXPECT_TRUE(rng.s[0] | rng.s[1] | rng.s[2] | rng.s[3]) << seed;
    EXPECT_EQ(rng.draws, 0u);
  }
}

// Hands out a fixed list of uniform numbers and counts how many were taken.
struct ScriptedUniform {
  std::vector<long double> values;
  std::size_t taken = 0;
  long double operator()() { return values.at(taken++); }
};

TEST(GaussRnd, PolarMethodOnScriptedPairs) {
  struct Case {
    std::vector<long double> uniforms;
    long double expected;
    std::size_t draws;
  };
  const long double w_half = 1.6651092223153955127L;  // 0.5 sqrt(-2 ln 0.25 / 0.25)
  const Case cases[] = {
      {{0.75L, 0.5L}, 0, 2},                   // w = 0, s = 0.25
      {{0.5L, 0.75L}, w_half, 2},              // u = 0, w = 0.5
      {{0.5L, 0.25L}, -w_half, 2},             // w = -0.5
      {{0, 0.5L, 0.75L, 0.5L}, 0, 4},          // r1 = 0: u = -1, s = 1, rejected
      {{0, 0, 0.5L, 0.75L}, w_half, 4},        // u = w = -1, s = 2, rejected
      {{0.5L, 0.5L, 0.5L, 0.75L}, w_half, 4},  // s = 0 rejected, ln 0 never taken
      {{0.5L, 0.5L, 0.5L, 0.5L, 0.75L, 0.5L}, 0, 6},
  };
  for (const auto& c : cases) {
    ScriptedUniform uniform{c.uniforms};
    const long double g = gauss_rnd(uniform);
    EXPECT_EXT_NEAR(g, c.expected, 1e-18L);
    EXPECT_EQ(uniform.taken, c.draws);
  }
  ScriptedUniform zero_case{{0.75L, 0.5L}};
  EXPECT_EQ(gauss_rnd(zero_case), 0);  // exactly
}

TEST(GaussRnd, DrawsPairsAndLooksStandardNormal) {
  Rng rng = make_rng(12345.6789L);
  constexpr int n = 40000;
  long double sum = 0, sum_sq = 0;
  int beyond_two = 0;
  for (int i = 0; i < n; ++i) {
    const std::uint64_t before = rng.draws;
    const long double g = gauss_rnd(rng);
    const std::uint64_t used = rng.draws - before;
    ASSERT_EQ(used % 2, 0u);
    ASSERT_GE(used, 2u);
    sum += g;
    sum_sq += g * g;
    if (std::fabs(g) > 2) ++beyond_two;
  }
  // Means of 40000 deviates: standard errors 0.005 (mean) and 0.007 (variance).
  EXPECT_EXT_NEAR(sum / n, 0, 0.025L);
  EXPECT_EXT_NEAR(sum_sq / n, 1, 0.035L);
  EXPECT_EXT_NEAR(beyond_two / static_cast<double>(n), 0.0455, 0.006);
}

}  // namespace
