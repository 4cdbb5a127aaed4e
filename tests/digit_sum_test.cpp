#include "report/digit_sum.hpp"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "numerics/numerics.hpp"
#include "report/number_format.hpp"

namespace {

using lyap::digit_sum;
using lyap::Params;
using lyap::round_dec;

// What one element adds, straight from its definition: nothing for 0, 1 for a magnitude of
// exactly 1, else the trimmed text of the magnitude plus a separator.
long element_by_text(long double v) {
  if (v == 0) return 0;
  if (std::fabs(v) == 1) return 1;
  const std::string text = lyap::number_str(std::fabs(v));
  const std::size_t begin = text.find_first_not_of(' ');
  const std::size_t end = text.find_last_not_of(' ');
  return static_cast<long>(end - begin + 1) + 1;
}

long sum_of_one(long double v) {
  Params p{};
  p[3] = v;
  return digit_sum(p);
}

struct ElementCase {
  long double v;
  long expected;
};

TEST(DigitSum, Elements) {
  const ElementCase cases[] = {
      {1.000136L, 9},  // "1.000136"
      {0.5L, 3},       // ".5"
      {0.37L, 4},
      {-2.5L, 4},  // the sign never counts
      {12, 3},
      {1, 1},
      {-1, 1},
      {0, 0},
      {-0.0L, 0},
      {1e-20L, 6},                                        // "1E-20"
      {0.000001L, 8},                                     // ".000001"
      {123456.654321L, 14},                               // "123456.654321"
      {1e15L, 6},                                         // "1E+15"
      {999999999999999.0L, 16},                           // fifteen nines, still fixed
      {1.0L / 3, 17},                                     // ".333333333333333"
      {std::numeric_limits<long double>::infinity(), 4},  // "INF"
      {std::numeric_limits<long double>::quiet_NaN(), 4},
  };
  for (const auto& c : cases) EXPECT_EQ(sum_of_one(c.v), c.expected) << c.v;
}

TEST(DigitSum, WholeParameterSets) {
  EXPECT_EQ(digit_sum(Params{}), 0);
  EXPECT_EQ(digit_sum(Params{0, 1.000136L, 0.5L, 0, 0, 0}), 12);
  // The fixed pair leaves 13 of the starting budget of 25 to the three drawn values.
  EXPECT_EQ(digit_sum(Params{0, 1.000136L, 0.5L, 0.37L, -2.5L, 12}), 12 + 4 + 4 + 3);
  EXPECT_EQ(digit_sum(Params{0, 1.000136L, 0.5L, 1, -1, 0.05L}), 12 + 1 + 1 + 4);
}

// The drawn values, v = round_dec(x, d) with d in 0..6, take a shortcut; it must agree with
// the text for every magnitude, including those past the shortcut's reach.
long double drawn_like(std::mt19937_64& gen) {
  std::normal_distribution<double> normal;
  const int d = static_cast<int>(gen() % 7);
  const int magnitude = static_cast<int>(gen() % 36) - 10;  // 1e-10 .. 1e25
  const long double x = static_cast<long double>(normal(gen)) * std::pow(10.0L, magnitude);
  return round_dec(x, d);
}

// Values with 16 to 18 significant digits, whose sixteenth digit decides the text; a good
// share of them end in an exact half at the sixteenth digit.
long double long_digits(std::mt19937_64& gen) {
  const int n_digits = 16 + static_cast<int>(gen() % 3);
  std::uint64_t n = 1 + gen() % 9;
  for (int i = 1; i < n_digits; ++i) n = n * 10 + gen() % 10;
  if (gen() % 2 == 0) {  // force the sixteenth digit to 5 and zeros after it
    std::uint64_t tail = 1;
    for (int i = 16; i < n_digits; ++i) tail *= 10;
    n = (n / (tail * 10)) * (tail * 10) + 5 * tail;
  }
  if (gen() % 4 == 0) {  // a run of nines that carries into a new digit
    n = 1;
    for (int i = 0; i < n_digits; ++i) n *= 10;
    n -= 1 + gen() % 3;
  }
  return static_cast<long double>(n) / 1e6L;
}

TEST(DigitSum, ShortcutAgreesWithTextOnRandomValues) {
  std::mt19937_64 gen(44);
  long checked = 0;
  for (int i = 0; i < 2'000'000; ++i) {
    const long double v = i % 4 == 3 ? long_digits(gen) : drawn_like(gen);
    ASSERT_EQ(sum_of_one(v), element_by_text(v)) << lyap::number_str(v) << " i=" << i;
    ++checked;
  }
  EXPECT_EQ(checked, 2'000'000);
}

TEST(DigitSum, ShortcutAgreesWithTextOnArbitraryValues) {
  // Values the draw never makes: any bits, any exponent. These must fall back to the text.
  std::mt19937_64 gen(45);
  for (int i = 0; i < 300'000; ++i) {
    const long double mantissa = std::ldexp(static_cast<long double>(gen()), -64);
    const int exponent = static_cast<int>(gen() % 200) - 100;
    const long double v = std::ldexp(mantissa, i % 2 == 0 ? exponent : exponent * 160);
    ASSERT_EQ(sum_of_one(v), element_by_text(v)) << lyap::number_str(v);
  }
}

TEST(DigitSum, ShortcutBoundaries) {
  // Around one millionth, the largest and smallest six-decimal values, and 10^12.
  const long double values[] = {
      0.000001L,    0.0000005L,         0.0000015L,        1e-6L * 3, 999999999999.999999L,
      1e12L,        999999999999999.5L, 1e12L + 0.000001L, 1e17L,     1e18L,
      1e18L / 1e6L, 5e11L + 0.5L,       0.1L + 0.2L,  // not a six-decimal value
  };
  for (const long double v : values) {
    EXPECT_EQ(sum_of_one(v), element_by_text(v)) << lyap::number_str(v);
    EXPECT_EQ(sum_of_one(-v), element_by_text(v)) << lyap::number_str(v);
  }
}

}  // namespace
