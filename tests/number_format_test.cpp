#include "report/number_format.hpp"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

namespace {

using lyap::format_number;
using lyap::number_str;
using lyap::number_text;

constexpr long double inf = std::numeric_limits<long double>::infinity();
constexpr long double nan = std::numeric_limits<long double>::quiet_NaN();

struct FormatCase {
  long double value;
  const char* mask;
  const char* expected;
};

TEST(FormatNumber, ReportMasks) {
  const FormatCase cases[] = {
      {1, "* #", "  1"},
      {25, "* #", " 25"},
      {1234, "* #", "1234"},
      {0, "* #", "  0"},
      {1.000136L, "  0.00; -0.00", "  1.00"},
      {1.000136L, "  0.000000; -0.000000", "  1.000136"},
      {-1.2L, "  0.00; -0.00", " -1.20"},
      {0, "  0.00; -0.00", "  0.00"},
      {12.5L, "  0.00; -0.00", "  12.50"},
      {0.125L, "  0.00; -0.00", "  0.12"},
      {0.375L, "  0.00; -0.00", "  0.38"},
      {-3.25L, "  0.0; -0.0", " -3.2"},
      {-0.004L, "  0.00; -0.00", " -0.00"},
      {0.0123L, "   0.0000;  -0.0000", "   0.0123"},
      {-0.0123L, "   0.0000;  -0.0000", "  -0.0123"},
      {12.34567L, "   0.0000;  -0.0000", "   12.3457"},
      {0.99996L, "   0.0000;  -0.0000", "   1.0000"},
      {0, "   0.0000;  -0.0000", "   0.0000"},
      {0.0004L, "0.0000", "0.0004"},
      {-0.5L, "0.0000", "-0.5000"},
      {-0.00001L, "0.0000", "-0.0000"},
      {-0.5678L, "   0.0000 ;  -0.0000 ", "  -0.5678 "},
      {0.1L, "   0.0000 ;  -0.0000 ", "   0.1000 "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format_number(c.value, c.mask), c.expected) << c.value << " with \"" << c.mask << '"';
  }
}

TEST(FormatNumber, RoundingCarriesAndHalves) {
  const FormatCase cases[] = {
      // Halves to even with no decimal positions: the last integer digit decides.
      {0.5L, "* #", "  0"},
      {1.5L, "* #", "  2"},
      {2.5L, "* #", "  2"},
      {0.7L, "* #", "  1"},
      {999.5L, "* #", "1000"},
      {12345, "* #", "12345"},
      // A carry through every digit becomes a new leading 1.
      {9.99996L, "0.0000", "10.0000"},
      {-9.99996L, "0.0000", "-10.0000"},
      {-12.5L, "0.0000", "-12.5000"},
      {-0.625L, "  0.00; -0.00", " -0.62"},
      // The 18-digit expansion decides, not the binary value: each of these is stored a
      // hair off the half but its expansion is an exact half, so it goes to even.
      {99.995L, "  0.00; -0.00", "  100.00"},
      {0.005L, "  0.00; -0.00", "  0.00"},
      {2.675L, "  0.00; -0.00", "  2.68"},
      // A dropped 5 followed by a non-zero digit rounds up even when the kept digit is even.
      {0.12500001L, "  0.00; -0.00", "  0.13"},
      // Far beyond 18 digits every digit is 0.
      {1e20L, "  0.00; -0.00", "  100000000000000000000.00"},
      {1e-30L, "  0.000000; -0.000000", "  0.000000"},
      {-1e-30L, "  0.000000; -0.000000", " -0.000000"},
      // A mask without a decimal point.
      {0.4L, "0", "0"},
      {-0.4L, "0", "0"},  // the minus goes when the rounded text is a bare 0
      {-1.6L, "0", "-2"},
      // Three sections: the third is zero's.
      {0, "0.0;-0.0;0.000", "0.000"},
      {0, "0.0;-0.0;", "0.0"},  // an empty third section falls back to the first
      {-2, "0.0;;", "-2.0"},    // and an empty second to the signed first
      // A negative zero is zero: the zero section, and no minus.
      {-0.0L, "* #", "  0"},
      {-0.0L, "  0.00; -0.00", "  0.00"},
      {-0.0L, "0.0000", "0.0000"},
      {-0.0L, "   0.0000 ;  -0.0000 ", "   0.0000 "},
      // Never produced by the search; the plain texts keep them visible and harmless.
      {inf, "* #", " INF"},
      {-inf, "  0.00; -0.00", "-INF"},
      {nan, "0.0000", " NAN"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format_number(c.value, c.mask), c.expected) << c.value << " with \"" << c.mask << '"';
  }
}

struct TextCase {
  long double value;
  const char* expected;
};

TEST(NumberText, PlainTexts) {
  const TextCase cases[] = {
      {0, " 0 "},
      {5, " 5 "},
      {-3, "-3 "},
      {190001, " 190001 "},
      {0.3L, " .3 "},
      {-0.1L, "-.1 "},
      {2.5L, " 2.5 "},
      {1.0L / 3, " .333333333333333 "},
      {2.0L / 3, " .666666666666667 "},
      {123456789012345.0L, " 123456789012345 "},
      {1e15L, " 1E+15 "},
      {1e-15L, " .000000000000001 "},
      {1e-16L, " 1E-16 "},
      {1.5e-15L, " 1.5E-15 "},
  };
  for (const auto& c : cases) EXPECT_EQ(number_text(c.value), c.expected) << c.value;
}

TEST(NumberStr, SignDigitsAndNotation) {
  const TextCase cases[] = {
      {7, " 7"},
      {-7, "-7"},
      {0.37L, " .37"},
      {1.000136L, " 1.000136"},
      {-0.0L, " 0"},
      // Only the 16th digit decides: the 5 here is followed by 9 but rounds to even.
      {1.0000000000000059L, " 1"},
      {1.0000000000000061L, " 1.00000000000001"},
      {1.0000000000000159L, " 1.00000000000002"},  // 5 after an odd digit rounds up
      // A carry past the 15th digit adds an integer digit and can switch notation.
      {999999999999999.5L, " 1E+15"},
      {99999999999999.95L, " 100000000000000"},
      {1234567890123456.0L, " 1.23456789012346E+15"},
      {-2.5e20L, "-2.5E+20"},
      {1e-20L, " 1E-20"},  // exponents without leading zeros
      {1.5e-16L, " 1.5E-16"},
      {3e100L, " 3E+100"},
      {0.000123456789L, " .000123456789"},  // 15 decimals: still fixed
      {0.0001234567890123L, " 1.234567890123E-4"},
      {LDBL_MAX, " 1.18973149535723E+4932"},
      {LDBL_TRUE_MIN, " 3.64519953188247E-4951"},
      {inf, " INF"},
      {-inf, "-INF"},
      {nan, " NAN"},
  };
  for (const auto& c : cases) EXPECT_EQ(number_str(c.value), c.expected) << c.value;
}

// ---- Randomized checks against independent oracles --------------------------------------

// Masks the program builds, with 0..8 decimals for the parameter mask.
std::string parameter_mask(int zeros) {
  const std::string z(static_cast<std::size_t>(zeros), '0');
  return "  0." + z + "; -0." + z;
}

// Formats v = n / 2^j, whose decimal expansion is exact in 18 digits, and compares with the
// rounding computed in integers.
TEST(FormatNumber, DyadicValuesRoundExactlyHalfToEven) {
  std::mt19937_64 gen(20240611);
  for (int iter = 0; iter < 200000; ++iter) {
    const std::uint64_t n = gen() % (1u << 24);
    const int j = static_cast<int>(gen() % 11);
    const int zeros = static_cast<int>(gen() % 7);
    const bool negative = gen() % 2 == 1;
    const long double v = std::ldexp(static_cast<long double>(n), -j) * (negative ? -1 : 1);

    std::uint64_t scaled = n;
    for (int i = 0; i < zeros; ++i) scaled *= 10;
    const std::uint64_t denominator = std::uint64_t{1} << j;
    std::uint64_t q = scaled / denominator;
    const std::uint64_t r = scaled % denominator;
    if (2 * r > denominator || (2 * r == denominator && q % 2 == 1)) ++q;
    std::string digits = std::to_string(q);
    if (digits.size() < static_cast<std::size_t>(zeros) + 1) {
      digits.insert(0, static_cast<std::size_t>(zeros) + 1 - digits.size(), '0');
    }
    const std::size_t point = digits.size() - static_cast<std::size_t>(zeros);
    const std::string expected =
        (negative && n != 0 ? " -" : "  ") + digits.substr(0, point) + "." + digits.substr(point);

    ASSERT_EQ(format_number(v, parameter_mask(zeros)), expected) << n << " / 2^" << j;
  }
}

// Random values of every size and kind through every mask and number_str. Nothing may crash
// or trip the sanitizers, and each text must read back as the value it stands for.
long double random_value(std::mt19937_64& gen) {
  const int kind = static_cast<int>(gen() % 8);
  const long double sign = gen() % 2 == 0 ? 1 : -1;
  switch (kind) {
    case 0: {  // any finite magnitude, denormals included
      const long double mantissa = std::ldexp(static_cast<long double>(gen()), -64);
      const int exponent = static_cast<int>(gen() % 32830) - 16445;
      return sign * std::ldexp(mantissa, exponent);
    }
    case 1: {  // drawn-looking values: few decimals
      std::normal_distribution<double> normal;
      const long double scale = std::pow(10.0L, static_cast<int>(gen() % 9) - 2);
      const int d = static_cast<int>(gen() % 7);
      const long double p = std::pow(10.0L, d);
      return std::nearbyint(static_cast<long double>(normal(gen)) * scale * p) / p;
    }
    case 2: {  // exact halves at some decimal
      const long double p = std::pow(10.0L, static_cast<int>(gen() % 7));
      return sign * (static_cast<long double>(gen() % 100000) + 0.5L) / p;
    }
    case 3: {  // strings of nines, which carry when rounded
      const int digits = 1 + static_cast<int>(gen() % 19);
      const long double nines = std::pow(10.0L, digits) - 1;
      return sign * nines / std::pow(10.0L, static_cast<int>(gen() % 20));
    }
    case 4: {
      const long double specials[] = {0,        -0.0L,    inf,           -inf,  nan,
                                      LDBL_MAX, LDBL_MIN, LDBL_TRUE_MIN, 1e15L, 1e-15L};
      return specials[gen() % 10];
    }
    default: {  // moderate magnitudes, full precision
      const long double mantissa = std::ldexp(static_cast<long double>(gen()), -64);
      return sign * std::ldexp(mantissa, static_cast<int>(gen() % 140) - 70);
    }
  }
}

int decimal_positions(const std::string& mask) {
  int n = 0;
  for (std::size_t i = mask.find('.'); i < mask.size() && mask[i] != ';'; ++i) n += mask[i] == '0';
  return n;
}

// Reads a formatted text back: spaces and fill dropped, the minus noted.
long double read_back(const std::string& text, bool& minus) {
  std::string bare;
  minus = false;
  for (const char c : text) {
    if (c == '-') minus = true;
    if ((c >= '0' && c <= '9') || c == '.' || c == 'E' || c == '+' ||
        (c == '-' && !bare.empty() && bare.back() == 'E')) {
      bare += c;
    }
  }
  return std::strtold(bare.c_str(), nullptr);
}

TEST(NumberFormatFuzz, RandomValuesReadBack) {
  std::mt19937_64 gen(7310);
  const std::string fixed_masks[] = {"* #", "   0.0000;  -0.0000", "0.0000",
                                     "   0.0000 ;  -0.0000 "};
  long inputs = 0;
  for (int iter = 0; iter < 150000; ++iter) {
    const long double v = random_value(gen);
    const std::string text = number_str(v);
    ++inputs;
    ASSERT_GE(text.size(), 2u);
    ASSERT_EQ(text[0], v < 0 ? '-' : ' ') << text;
    if (std::isfinite(v) && v != 0) {
      ASSERT_NE(text[1], '0') << text;  // no "0" before the point
      bool minus = false;
      const long double back = read_back(text, minus);
      const long double a = std::fabs(v);
      const long double tolerance = std::fmax(a * 1e-14L, LDBL_TRUE_MIN * 2);
      if (std::isfinite(back)) {
        ASSERT_LE(std::fabs(back - a), tolerance) << text << " for " << v;
      }
    }

    const int which = static_cast<int>(gen() % 5);
    const std::string mask =
        which == 4 ? parameter_mask(static_cast<int>(gen() % 9)) : fixed_masks[which];
    const std::string formatted = format_number(v, mask);
    ++inputs;
    if (!std::isfinite(v)) continue;
    const int decimals = decimal_positions(mask);
    bool minus = false;
    const long double back = read_back(formatted, minus);
    const long double a = std::fabs(v);
    // Only the one-section masks place a minus of their own, and drop it from a bare "0".
    ASSERT_EQ(minus, v < 0 && (mask != "* #" || back != 0)) << formatted << " for " << v;
    const long double tolerance = 0.5L * std::pow(10.0L, -decimals) * (1 + 1e-12L) + a * 2e-17L;
    if (std::isfinite(back)) {
      ASSERT_LE(std::fabs(back - a), tolerance) << formatted << " for " << v << " with " << mask;
    }
    if (a < 9.5L && mask != "* #") {  // the field widens only past one integer digit
      const std::size_t section = v < 0 ? mask.size() - mask.find(';') - 1 : mask.find(';');
      ASSERT_EQ(formatted.size(), mask == "0.0000" ? 6u + (v < 0 && minus) : section)
          << formatted << " for " << v << " with " << mask;
    }
  }
  std::printf("number texts fuzzed: %ld inputs\n", inputs);
}

}  // namespace
