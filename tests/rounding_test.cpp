#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "numerics/numerics.hpp"
#include "tests/extended_near.hpp"

namespace {

using lyap::ext_pow;
using lyap::ext_sqrt;
using lyap::round_dec;

constexpr long double inf = std::numeric_limits<long double>::infinity();
constexpr long double nan = std::numeric_limits<long double>::quiet_NaN();

struct RoundDecCase {
  long double v;
  int d;
  long double expected;
};

TEST(RoundDec, HalvesGoToEven) {
  const RoundDecCase cases[] = {
      {2.5L, 0, 2},       {3.5L, 0, 4},       {-2.5L, 0, -2},          {-3.5L, 0, -4},
      {0.125L, 2, 0.12L}, {0.375L, 2, 0.38L}, {-0.625L, 2, -0.62L},    {1.75L, 1, 1.8L},
      {2.4999L, 0, 2},    {2.5001L, 0, 3},    {123.456L, 3, 123.456L},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(round_dec(c.v, c.d), c.expected) << c.v << " to " << c.d << " decimals";
  }
}

TEST(RoundDec, HalfAtEighteenDecimals) {
  // Values that scale back to exact halves round to the even neighbour.
  const std::pair<long double, long double> halves[] = {{0.5L, 0}, {1.5L, 2},   {2.5L, 2},
                                                        {4.5L, 4}, {-5.5L, -6}, {-6.5L, -6}};
  for (const auto& [scaled, rounded] : halves) {
    const long double v = scaled / 1e18L;
    ASSERT_EQ(v * 1e18L, scaled);
    EXPECT_EQ(round_dec(v, 18), rounded / 1e18L) << scaled;
  }
}

TEST(RoundDec, KeepsTheDigitsOfLargeValues) {
  // v x 10^d lies far beyond the 64-bit integer range here; the value must survive intact
  // (to within the rounding of the scaling), not saturate or wrap.
  const long double values[] = {1234.567890123456789L, -999.75L, 1000, -1000.000000000000001L,
                                987.654321L};
  for (const long double v : values) {
    for (const int d : {16, 17, 18}) {
      EXPECT_EXT_NEAR(round_dec(v, d), v, 4 * std::fabs(v) * LDBL_EPSILON) << v << " at " << d;
    }
  }
  EXPECT_EQ(round_dec(1e30L, 0), 1e30L);
  EXPECT_EQ(round_dec(-0x1p70L, 5), -0x1p70L);
}

TEST(RoundDec, HalfAtSixteenDecimalsBetweenTheSignedAndUnsignedLimit) {
  // 5e18 + 0.5 lies between 2^62 and 2^63 where the extended format still holds halves.
  const long double scaled = 5e18L + 0.5L;
  const long double v = scaled / 1e16L;
  ASSERT_EQ(v * 1e16L, scaled);
  EXPECT_EQ(round_dec(v, 16), 5e18L / 1e16L);
}

TEST(RoundDec, SmallNegativeValuesGiveNegativeZero) {
  for (const auto& [v, d] : {std::pair{-0.4L, 0}, {-1e-20L, 18}, {-0.004L, 2}, {-0.0L, 3}}) {
    const long double r = round_dec(v, d);
    EXPECT_EQ(r, 0) << v;
    EXPECT_TRUE(std::signbit(r)) << v;
  }
  EXPECT_FALSE(std::signbit(round_dec(0.4L, 0)));
}

TEST(RoundToInteger, HalvesToEvenAndSaturates) {
  struct Case {
    long double v;
    long long expected;
  };
  constexpr long long max = std::numeric_limits<long long>::max();
  constexpr long long min = std::numeric_limits<long long>::min();
  const Case cases[] = {
      {0.5L, 0},
      {1.5L, 2},
      {2.5L, 2},
      {-0.5L, 0},
      {-1.5L, -2},
      {-2.5L, -2},
      {2.4999L, 2},
      {-2.6L, -3},
      {0x1p62L, 1LL << 62},
      {0x1p63L, max},
      {-0x1p63L, min},
      {1e30L, max},
      {-1e30L, min},
      {inf, max},
      {-inf, min},
      {nan, 0},
      {0x1p63L - 1, max},
      {-0x1p63L + 0.5L, min},
      // Around 2^61, where the rounding switches method, and 2^62.
      {0x1p61L - 0.5L, 1LL << 61},
      {-0x1p61L + 0.5L, -(1LL << 61)},
      {0x1p61L + 1, (1LL << 61) + 1},
      {0x1p62L - 0.5L, 1LL << 62},
      {0x1p62L - 1.5L, (1LL << 62) - 2},
      {-0x1p62L + 1.5L, -(1LL << 62) + 2},
      {0x1p62L + 2, (1LL << 62) + 2},
      {-0x1p62L - 1, -(1LL << 62) - 1},
      {-0.0L, 0},
      {1e-4000L, 0},
      {-0.5000001L, -1},
  };
  for (const auto& c : cases) EXPECT_EQ(lyap::round_to_long(c.v), c.expected) << c.v;
}

TEST(RoundToInteger, Int32HalvesToEvenAndSaturates) {
  struct Case {
    long double v;
    std::int32_t expected;
  };
  constexpr std::int32_t max = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t min = std::numeric_limits<std::int32_t>::min();
  const Case cases[] = {
      {2.5L, 2},
      {3.5L, 4},
      {-3.5L, -4},
      {2147483646.5L, 2147483646},
      {2147483647.5L, max},
      {-2147483648.5L, min},
      {4e9L, max},
      {-4e9L, min},
      {inf, max},
      {-inf, min},
      {nan, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(lyap::round_to_int32(c.v), c.expected) << c.v;
}

TEST(ExtSqrt, NegativeArgumentsComeBackUnchanged) {
  EXPECT_EQ(ext_sqrt(4), 2);
  EXPECT_EQ(ext_sqrt(0), 0);
  EXPECT_EQ(ext_sqrt(2.25L), 1.5L);
  EXPECT_EQ(ext_sqrt(inf), inf);
  for (const long double v : {-4.0L, -1e-3000L, -0.5L, -inf}) EXPECT_EQ(ext_sqrt(v), v);
  EXPECT_TRUE(std::isnan(ext_sqrt(nan)));
}

TEST(ExtPow, Conventions) {
  struct Case {
    long double b, e, expected;
  };
  const Case exact_cases[] = {
      {2, 0, 1},         {0, 0, 1},         {nan, 0, 1},     {inf, 0, 1},
      {2, 10, 1024},     {2, -2, 0.25L},    {10, 18, 1e18L}, {-2, 3, -8},
      {-8, -1, -0.125L}, {-2, 2.4L, 4},     {-2, 2.5L, 4},   {-2, 3.5L, 16},
      {-2, -0.4L, 1},    {0, 3, 0},         {0, -1, inf},    {-1, 0x1p62L + 1, -1},
      {-2, 1e30L, inf},  {-0.5L, 1e30L, 0}, {2, -1e30L, 0},  {1, 1e4000L, 1},
      {0, 0.5L, 1},  // exp(0.5 ln 0) with ln 0 taken as 0
  };
  for (const auto& c : exact_cases) {
    EXPECT_EQ(ext_pow(c.b, c.e), c.expected) << c.b << " ^ " << c.e;
  }
  EXPECT_EXT_NEAR(ext_pow(4, 0.5L), 2, 1e-18L);
  EXPECT_EXT_NEAR(ext_pow(10, 0.25L), 1.7782794100389228012L, 1e-18L);
  EXPECT_EXT_NEAR(ext_pow(2, -0.5L), 0.70710678118654752440L, 1e-18L);
}

}  // namespace
