// The program's natural logarithm against libquadmath's logq (113-bit significand: its own
// error is about 2^-49 of an extended ulp, far below what is measured), and its constants
// against the same.
#include <quadmath.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iomanip>
#include <iostream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "numerics/ln.hpp"
#include "numerics/numerics.hpp"

namespace {

using lyap::ext_ln;
namespace detail = lyap::ln_detail;

// The address-sanitizer build runs the same sweeps with fewer points.
#if defined(__SANITIZE_ADDRESS__)
constexpr int point_divisor = 4;
#else
constexpr int point_divisor = 1;
#endif

constexpr long double inf = std::numeric_limits<long double>::infinity();

// The largest errors over a sweep, and how many results are the nearest long double. Where
// the exact value lies so near a midpoint of two long doubles that quad precision cannot tell
// the side (within 2^-40 ulp; some arguments next to 1 do, where ln x = t - t^2/2 + ... with
// t = x - 1 of few bits), either neighbour counts as rounded correctly.
struct ErrorRecord {
  double max_ulps = 0;
  long double max_at = 0;
  long points = 0, nearest = 0, undecided = 0;

  void check(long double x) {
    const long double y = ext_ln(x);
    const __float128 exact = logq(static_cast<__float128>(x));
    ++points;
    // Units in the last place of the exact value's binade (for x = 1, ln x = 0 is exact).
    const __float128 ulp = exact == 0 ? 1 : scalbnq(1, ilogbq(exact) - 63);
    const double ulps = static_cast<double>(fabsq(static_cast<__float128>(y) - exact) / ulp);
    if (!(ulps <= max_ulps)) max_ulps = ulps, max_at = x;
    const long double rounded = static_cast<long double>(exact);
    const double off = static_cast<double>(fabsq(exact - static_cast<__float128>(rounded)) / ulp);
    if (0.5 - off < 0x1p-40) {
      ++undecided;
      nearest += ulps < 0.5 + 0x1p-40;
    } else {
      nearest += y == rounded;
    }
  }

  // x and its n neighbours on either side.
  void check_neighbours(long double x, int n) {
    check(x);
    long double below = x, above = x;
    for (int i = 0; i < n; ++i) {
      check(below = std::nextafter(below, 0.0L));
      check(above = std::nextafter(above, inf));
    }
  }

  void expect_accurate(const std::string& sweep) const {
    const double share = 100.0 * static_cast<double>(nearest) / static_cast<double>(points);
    std::cout << sweep << ": " << points << " arguments, largest error " << std::setprecision(9)
              << max_ulps << " ulp (at " << std::setprecision(21) << max_at << "), "
              << std::setprecision(6) << share << "% the nearest long double (" << undecided
              << " too near a midpoint for quad precision to tell)\n";
    EXPECT_LT(max_ulps, 1.0) << sweep << ", at " << max_at;
    // None has been seen to miss in tens of millions of arguments; the rounding errors ahead
    // of the last rounding (below 2^-14 ulp together) could make about one in 16000 miss.
    EXPECT_GE(share, 99.99) << sweep;
  }
};

// A random long double of the binade [2^exponent, 2^(exponent+1)).
long double random_in_binade(std::mt19937_64& gen, int exponent) {
  const std::uint64_t significand = gen() | (std::uint64_t{1} << 63);
  return std::ldexp(static_cast<long double>(significand), exponent - 63);
}

// A random value in [0, 1), a multiple of 2^-64, as the program's uniform source gives them.
long double uniform(std::mt19937_64& gen) {
  return static_cast<long double>(gen()) * 0x1p-64L;
}

constexpr int min_exponent = std::numeric_limits<long double>::min_exponent - 1;  // -16382
constexpr int max_exponent = std::numeric_limits<long double>::max_exponent - 1;  // 16383

struct Sweep {
  const char* name;
  std::uint64_t seed;
  std::function<void(std::mt19937_64&, ErrorRecord&)> run;
};

const Sweep sweeps[] = {
    {"EveryBinade", 1,
     [](std::mt19937_64& gen, ErrorRecord& r) {
       // The same share of random arguments in every binade of the normal range.
       for (int e = min_exponent; e <= max_exponent; ++e) {
         for (int i = 0; i < 64 / point_divisor; ++i) r.check(random_in_binade(gen, e));
       }
     }},
    {"TheBinadesAroundOne", 2,
     [](std::mt19937_64& gen, ErrorRecord& r) {
       // 1/4 to 4, where the result is smallest next to its own ulp and the series does the most.
       for (int e = -2; e <= 1; ++e) {
         for (int i = 0; i < 300'000 / point_divisor; ++i) r.check(random_in_binade(gen, e));
       }
     }},
    {"NextToOne", 3,
     [](std::mt19937_64& gen, ErrorRecord& r) {
       // The trial's growth factors, 1 +- 1e-8 or so, and everything from 1 +- 2^-64 to 1 +- 1/2.
       for (int i = 0; i < 250'000 / point_divisor; ++i) {
         const long double d = std::ldexp(1 + uniform(gen), -1 - static_cast<int>(gen() % 64));
         r.check(1 + d);
         r.check(1 - d);
         const long double growth = 1e-8L * (2 * uniform(gen) - 1);
         r.check(1 + growth);
         r.check(std::sqrt(1 + growth));
       }
       r.check_neighbours(1, 1000);
     }},
    {"PolarMethod", 4,
     [](std::mt19937_64& gen, ErrorRecord& r) {
       // s = u^2 + w^2 in (0, 1), as the normal deviate takes its logarithm.
       for (int i = 0; i < 400'000 / point_divisor; ++i) {
         const long double u = 2 * uniform(gen) - 1, w = 2 * uniform(gen) - 1;
         const long double s = u * u + w * w;
         if (s < 1 && s != 0) r.check(s);
       }
     }},
    {"BothSidesOfEveryCentreBoundary", 5,
     [](std::mt19937_64& gen, ErrorRecord& r) {
       // Midway between two centres |s| is largest, and from 1.4140625 (next to sqrt 2, and
       // half of it next to sqrt 1/2) the significand is halved: each boundary with its 200
       // neighbours on either side and random arguments within 2^-10 of it, in the binades
       // next to 1 and in random ones.
       for (int j = 0; j < detail::n_centres - 1; ++j) {
         const long double boundary = 1 + (j + 0.5L) / 64;
         for (int n = 0; n < 16; ++n) {
           const int e = n < 4 ? n - 2 : min_exponent + static_cast<int>(gen() % 32766);
           r.check_neighbours(std::ldexp(boundary, e), 200 / point_divisor);
           for (int i = 0; i < 800 / point_divisor; ++i) {
             r.check(std::ldexp(boundary + (2 * uniform(gen) - 1) * 0x1p-10L, e));
           }
         }
       }
       r.check_neighbours(1.41421356237309504880L, 1000);
       r.check_neighbours(0.70710678118654752440L, 1000);
     }},
    {"PowersOfTwoAndTheEndsOfTheRange", 6,
     [](std::mt19937_64&, ErrorRecord& r) {
       // ln 2^k = k ln 2 exercises ln 2's two parts alone; the two ends of the normal range
       // take the largest exponents.
       for (int e = min_exponent; e <= max_exponent; ++e) {
         const long double p = std::ldexp(1.0L, e);
         r.check(p);
         r.check(std::nextafter(p, inf));
         if (e > min_exponent) r.check(std::nextafter(p, 0.0L));
       }
       r.check_neighbours(std::nextafter(LDBL_MIN, inf), 1);
       r.check_neighbours(std::nextafter(LDBL_MAX, 0.0L), 1);
     }},
};

// gtest names a failing case by its parameter.
void PrintTo(const Sweep& sweep, std::ostream* os) {
  *os << sweep.name;
}

class ExtLnAccuracy : public testing::TestWithParam<Sweep> {};

TEST_P(ExtLnAccuracy, WithinOneUlpAndNearlyAlwaysTheNearestLongDouble) {
  std::mt19937_64 gen(GetParam().seed);
  ErrorRecord record;
  GetParam().run(gen, record);
  record.expect_accurate(GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Sweeps, ExtLnAccuracy, testing::ValuesIn(sweeps),
                         [](const testing::TestParamInfo<Sweep>& info) {
                           return std::string(info.param.name);
                         });

TEST(ExtLn, ZeroOutsideTheNormalPositiveRange) {
  const long double nan = std::numeric_limits<long double>::quiet_NaN();
  // Denormals from the smallest to the largest included.
  const long double zero_cases[] = {
      0,    -0.0L, -1,   -LDBL_MIN,     -LDBL_MAX,    inf,
      -inf, nan,   -nan, LDBL_TRUE_MIN, LDBL_MIN / 3, std::nextafter(LDBL_MIN, 0.0L)};
  for (const long double v : zero_cases) {
    const long double y = ext_ln(v);
    EXPECT_EQ(y, 0) << v;
    EXPECT_FALSE(std::signbit(y)) << v;
  }
  // Inside the range: ln 1 is +0, and the ends give their logarithms.
  EXPECT_EQ(ext_ln(1), 0);
  EXPECT_FALSE(std::signbit(ext_ln(1)));
  EXPECT_EQ(ext_ln(LDBL_MIN), static_cast<long double>(logq(static_cast<__float128>(LDBL_MIN))));
  EXPECT_EQ(ext_ln(LDBL_MAX), static_cast<long double>(logq(static_cast<__float128>(LDBL_MAX))));
}

TEST(ExtLnConstants, AreTheValuesTheirCommentsState) {
  // ln 2 and every centre's logarithm: the high part a multiple of 2^-49 (so that k ln2_hi and
  // its sum with ln c_hi are exact), the two parts within 2^-103 of the logarithm.
  struct Pair {
    long double of;
    double hi, lo;
  };
  std::vector<Pair> pairs = {{2, detail::ln2_hi, detail::ln2_lo}};
  for (int j = 0; j < detail::n_centres; ++j) {
    const auto& centre = detail::centres[j];
    const long double expected_c = j < detail::first_halved ? 1 + j / 64.0L : 0.5L + j / 128.0L;
    EXPECT_EQ(centre.c, expected_c) << "centre " << j;
    pairs.push_back({centre.c, centre.ln_hi, centre.ln_lo});
  }
  for (const Pair& p : pairs) {
    const double scaled = std::ldexp(p.hi, 49);
    EXPECT_EQ(scaled, std::trunc(scaled)) << "ln " << p.of;
    EXPECT_LE(std::fabs(p.lo), 0x1p-50) << "ln " << p.of;
    const __float128 error = static_cast<__float128>(p.hi) + p.lo - logq(p.of);
    EXPECT_LE(static_cast<double>(fabsq(error)), 0x1p-103) << "ln " << p.of;
  }

  // The series' coefficients, each the nearest value of its type.
  const __float128 one = 1;
  EXPECT_EQ(detail::third, static_cast<long double>(one / 3));
  EXPECT_EQ(detail::fifth, static_cast<double>(one / 5));
  EXPECT_EQ(detail::seventh, static_cast<double>(one / 7));
  EXPECT_EQ(detail::ninth, static_cast<double>(one / 9));
}

}  // namespace
