// The fast sine and cosine against quad-precision references (libquadmath, 113-bit
// significand: its own error is about 2^-49 of an extended ulp, far below what is measured).
#include <quadmath.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "numerics/trig.hpp"

namespace {

// The sanitizer builds run the same sweeps with fewer points.
#if defined(__SANITIZE_ADDRESS__)
constexpr int point_divisor = 2;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
constexpr int point_divisor = 2;
#else
constexpr int point_divisor = 1;
#endif
#else
constexpr int point_divisor = 1;
#endif

constexpr long double fast_limit = 1e6L;

const __float128 half_pi_q = acosq(0);

// |y - exact| in units of the last place of the exact value's binade (64-bit significand).
double ulp_error(long double y, __float128 exact) {
  if (exact == 0) return y == 0 ? 0 : std::numeric_limits<double>::infinity();
  const int binade = std::max(ilogbq(exact), std::numeric_limits<long double>::min_exponent - 2);
  const __float128 ulp = scalbnq(1, binade - 63);
  return static_cast<double>(fabsq(static_cast<__float128>(y) - exact) / ulp);
}

// Whether y is the correctly rounded value or one of its two neighbours.
bool within_one_step_of_rounded(long double y, __float128 exact) {
  const long double rounded = static_cast<long double>(exact);
  return y == rounded ||
         y == std::nextafter(rounded, -std::numeric_limits<long double>::infinity()) ||
         y == std::nextafter(rounded, std::numeric_limits<long double>::infinity());
}

// The largest errors over a sweep, with the arguments where they occurred.
struct ErrorRecord {
  double sin_ulps = 0, cos_ulps = 0;
  long double sin_at = 0, cos_at = 0;
  long points = 0, outside_one_step = 0;

  void check(long double a) {
    long double s, c;
    lyap::fast_sincos(a, s, c);
    __float128 exact_s, exact_c;
    sincosq(static_cast<__float128>(a), &exact_s, &exact_c);
    const double es = ulp_error(s, exact_s);
    const double ec = ulp_error(c, exact_c);
    if (!(es <= sin_ulps)) sin_ulps = es, sin_at = a;
    if (!(ec <= cos_ulps)) cos_ulps = ec, cos_at = a;
    if (!within_one_step_of_rounded(s, exact_s) || !within_one_step_of_rounded(c, exact_c)) {
      ++outside_one_step;
    }
    ++points;
  }

  void expect_within_one_ulp(const char* sweep) const {
    std::cout << std::setprecision(21) << sweep << ": " << points << " arguments, largest error "
              << std::setprecision(4) << sin_ulps << " ulp (sin, at " << std::setprecision(21)
              << sin_at << "), " << std::setprecision(4) << cos_ulps << " ulp (cos, at "
              << std::setprecision(21) << cos_at << ")\n";
    EXPECT_LT(sin_ulps, 1.0) << sweep << ", sin at " << sin_at;
    EXPECT_LT(cos_ulps, 1.0) << sweep << ", cos at " << cos_at;
    EXPECT_EQ(outside_one_step, 0) << sweep;
  }
};

// A random long double of the binade [2^exponent, 2^(exponent+1)), with a random sign.
long double random_in_binade(std::mt19937_64& gen, int exponent) {
  const std::uint64_t significand = gen() | (std::uint64_t{1} << 63);
  const long double a = std::ldexp(static_cast<long double>(significand), exponent - 63);
  return (gen() & 1) ? -a : a;
}

TEST(FastSincos, WithinOneUlpForArgumentsOfEveryMagnitude) {
  // Every binade from the tiny-angle shortcut up to the reduction limit gets the same share,
  // so small and large arguments are equally represented.
  std::mt19937_64 gen(20240611);
  const int lowest = -36, highest = 19;  // 2^20 > 10^6: the top binade is cut at the limit
  const int per_binade = 2'200'000 / point_divisor / (highest - lowest + 1);
  ErrorRecord record;
  for (int exponent = lowest; exponent <= highest; ++exponent) {
    for (int i = 0; i < per_binade; ++i) {
      const long double a = random_in_binade(gen, exponent);
      if (std::fabs(a) <= fast_limit) record.check(a);
    }
  }
  record.expect_within_one_ulp("random arguments, 2^-36 to 10^6");
}

TEST(FastSincos, WithinOneUlpNextToEveryMultipleOfHalfPi) {
  // The reduced angle is smallest, and its reduction hardest, at the long double nearest to
  // k pi/2: every such argument up to the limit, both signs, with its two neighbours for a
  // sample of k. The sample is thinned in sanitizer builds.
  const long last_k = static_cast<long>(fast_limit / static_cast<long double>(half_pi_q));
  ErrorRecord record;
  for (long k = 1; k <= last_k; k += point_divisor) {
    const long double a = static_cast<long double>(k * half_pi_q);
    record.check(a);
    record.check(-a);
    if (k % 16 == 1) {
      record.check(std::nextafter(a, 0.0L));
      record.check(std::nextafter(a, 2 * a));
    }
  }
  record.expect_within_one_ulp("nearest to k pi/2");
}

TEST(FastSincos, WithinOneUlpWhereTheQuadrantChanges) {
  // Halfway between multiples of pi/2 the rounding of a 2/pi picks the quadrant, and the
  // reduced angle may end a hair beyond pi/4 on either side.
  const long last_k = static_cast<long>(fast_limit / static_cast<long double>(half_pi_q)) - 1;
  ErrorRecord record;
  for (long k = 0; k <= last_k; k += 3 * point_divisor) {
    const long double a = static_cast<long double>((static_cast<__float128>(k) + 0.5) * half_pi_q);
    for (const long double b : {a, std::nextafter(a, 0.0L), std::nextafter(a, 2 * a)}) {
      record.check(b);
      record.check(-b);
    }
  }
  record.expect_within_one_ulp("halfway between multiples of pi/2");
}

TEST(FastSincos, WithinOneUlpOnBothSidesOfEverySeriesBoundary) {
  // Below small_angle a shorter series takes over, below no_reduction the reduction is skipped:
  // each boundary with its next thousand arguments on either side, random arguments within 1%
  // of it, and random arguments spread evenly over the whole short-series range.
  std::mt19937_64 gen(5150);
  const long double boundaries[] = {lyap::trig_detail::small_angle,
                                    lyap::trig_detail::no_reduction};
  ErrorRecord record;
  for (const long double boundary : boundaries) {
    long double below = boundary, above = boundary;
    for (int i = 0; i < 1000; ++i) {
      for (const long double b : {below, above}) {
        record.check(b);
        record.check(-b);
      }
      below = std::nextafter(below, 0.0L);
      above = std::nextafter(above, 2 * boundary);
    }
    std::uniform_real_distribution<long double> near(0.99L * boundary, 1.01L * boundary);
    for (int i = 0; i < 200'000 / point_divisor; ++i) {
      const long double a = near(gen);
      record.check((gen() & 1) ? -a : a);
    }
  }
  std::uniform_real_distribution<long double> short_series(0, lyap::trig_detail::small_angle);
  for (int i = 0; i < 400'000 / point_divisor; ++i) {
    const long double a = short_series(gen);
    if (a >= lyap::trig_detail::tiny_angle) record.check((gen() & 1) ? -a : a);
  }
  record.expect_within_one_ulp("next to the series boundaries");
}

// The ten value bytes of a long double (the rest of its sixteen are padding).
bool same_bits(long double a, long double b) {
  return std::memcmp(&a, &b, 10) == 0;
}

// Long doubles m 2^exponent whose a 2/pi lies nearest an integer, with how near, from
// scripts/two-over-pi --hard 16: the reduction's hardest cases, 74 to 76 leading bits of the
// fraction cancel.
struct HardCase {
  std::uint64_t significand;
  int exponent;
};
constexpr HardCase hard_cases[] = {
    {0xf28ab66522546ee1, 10531},  // 2^-76.2
    {0xea338cba57f34d10, 1443},   // 2^-74.9
    {0x907d1087672f7a65, 12587},  // 2^-74.7
    {0xd636c643eb75d585, 8426},   // 2^-74.7
    {0x8ecde8de1fbd5b06, 8445},   // 2^-74.4
    {0xb204c34cddbdcf2c, 12574},  // 2^-74.2
    {0xe1eadbb392d89120, 1775},   // 2^-74.0
    {0xec616db0e2e339b9, 7070},   // 2^-74.0
    {0xe3695bef03f8f5af, 8190},   // 2^-73.9
    {0xaccf7c2eb409d280, 10981},  // 2^-73.5
    {0xd979f74b73b00193, 271},    // 2^-73.4
    {0xbf851473b08f7a88, 9610},   // 2^-73.4
    {0xafa6a98bc1f679cc, 1445},   // 2^-73.3
    {0x9a5bb05a5ff5f4b6, 10431},  // 2^-73.3
    {0xabb009effad0a012, 11922},  // 2^-73.2
    {0xafded18564d776d9, 11779},  // 2^-73.1
};

TEST(FastSincos, WithinOneUlpBeyondTheFastRangeUpToTheLargestLongDouble) {
  // The exact reduction: random arguments in every binade from 10^6 to the top of the range,
  // each binade's largest and smallest, and arguments whose reduced angle is among the
  // smallest of all long doubles. Largest error seen: 0.76 ulp, over 687327 arguments.
  std::mt19937_64 gen(1983);
  const int max_exponent = std::numeric_limits<long double>::max_exponent - 1;
  const int per_binade = 40 / point_divisor;
  ErrorRecord record;
  for (int exponent = 19; exponent <= max_exponent; ++exponent) {
    for (int i = 0; i < per_binade; ++i) {
      const long double a = random_in_binade(gen, exponent);
      if (std::fabs(a) > fast_limit) record.check(a);
    }
    const long double bottom = std::ldexp(1.0L, exponent);
    const long double top = std::nextafter(2 * bottom, 0.0L);
    if (bottom > fast_limit) record.check(-bottom);
    record.check(top);
  }
  record.check(std::nextafter(fast_limit, 2 * fast_limit));
  for (const HardCase& h : hard_cases) {
    const long double a = std::ldexp(static_cast<long double>(h.significand), h.exponent);
    record.check(a);
    record.check(-a);
  }
  record.expect_within_one_ulp("beyond 10^6");
}

TEST(FastSincos, InfinitiesAndNanGiveNan) {
  const long double inf = std::numeric_limits<long double>::infinity();
  const long double nan = std::numeric_limits<long double>::quiet_NaN();
  for (const long double a : {inf, -inf, nan, -nan}) {
    long double s = 0, c = 0;
    lyap::fast_sincos(a, s, c);
    EXPECT_TRUE(std::isnan(s)) << a;
    EXPECT_TRUE(std::isnan(c)) << a;
  }
}

TEST(FastSincos, TinyArgumentsGiveTheArgumentAndOne) {
  const long double arguments[] = {
      0.0L,
      -0.0L,
      std::numeric_limits<long double>::denorm_min(),
      -std::numeric_limits<long double>::min(),
      1e-300L,
      std::nextafter(0x1p-33L, 0.0L),
      -std::nextafter(0x1p-33L, 0.0L),
  };
  for (const long double a : arguments) {
    long double s, c;
    lyap::fast_sincos(a, s, c);
    EXPECT_TRUE(same_bits(s, a)) << "sin(" << a << ") = " << s;
    EXPECT_EQ(c, 1.0L) << "cos(" << a << ")";
    // The library agrees: these are the correctly rounded values.
    EXPECT_TRUE(same_bits(s, sinl(a))) << a;
    EXPECT_EQ(c, cosl(a)) << a;
  }
}

TEST(ModelSincos, IsTheLibraryInTheReferenceBuildAndTheFastPairOtherwise) {
  std::mt19937_64 gen(7);
  for (int i = 0; i < 20000; ++i) {
    const long double a = random_in_binade(gen, static_cast<int>(gen() % 40) - 20);
    long double s, c;
    lyap::model_sincos(a, s, c);
#if LYAPSEARCH_REFERENCE_TRIG
    // Called through pointers, so that the compiler cannot merge them into one sincosl.
    static long double (*volatile library_sin)(long double) = sinl;
    static long double (*volatile library_cos)(long double) = cosl;
    const long double expected_s = library_sin(a), expected_c = library_cos(a);
#else
    long double expected_s, expected_c;
    lyap::fast_sincos(a, expected_s, expected_c);
#endif
    ASSERT_TRUE(same_bits(s, expected_s)) << "sin(" << a << ")";
    ASSERT_TRUE(same_bits(c, expected_c)) << "cos(" << a << ")";
  }
}

}  // namespace
