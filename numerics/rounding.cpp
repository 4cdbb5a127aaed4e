#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "numerics/numerics.hpp"

namespace lyap {

namespace {

// Rounding to an integer uses rint: in the program's one rounding mode (to nearest, halves to
// even) it gives what nearbyint gives, without the save and restore of the floating-point
// environment that makes nearbyintl cost a few hundred nanoseconds on x87. The only
// difference, the inexact flag, is never looked at.

// 10^d for d = 0..18, each exact in the extended format (10^18 < 2^64 fits the significand).
constexpr std::array<long double, 19> powers_of_ten = {
    1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L, 1e9L,
    1e10L, 1e11L, 1e12L, 1e13L, 1e14L, 1e15L, 1e16L, 1e17L, 1e18L};

// Adding 1.5 x 2^63 to a value below 2^61 in size rounds it to an integer (to nearest, halves
// to even, as rint does) that then sits in the low bits of the 64-bit significand; the sum
// stays inside [2^63, 2^64), even when the rounding carries. Reading the integer from there
// avoids the x87 conversion, which switches the rounding mode twice and costs more than the
// rest of a pixel operation.
constexpr long double round_shift = 0x1.8p63L;
constexpr long double shift_limit = 0x1p61L;

template <class Int>
Int saturating_round(long double v) {
  if (std::isnan(v)) return 0;
  constexpr Int lo = std::numeric_limits<Int>::min();
  constexpr Int hi = std::numeric_limits<Int>::max();
  if (std::fabs(v) < shift_limit) {
    const long double shifted = v + round_shift;
    std::uint64_t significand;
    std::memcpy(&significand, &shifted, sizeof significand);
    const auto n = static_cast<std::int64_t>(significand - 0xC000000000000000u);
    if (n <= lo) return lo;
    if (n >= hi) return hi;
    return static_cast<Int>(n);
  }
  const long double r = std::rint(v);
  if (r <= static_cast<long double>(lo)) return lo;
  if (r >= static_cast<long double>(hi)) return hi;
  return static_cast<Int>(r);  // exact: r is an integer inside the range
}

}  // namespace

long double round_dec(long double v, int d) {
  // Callers pass 0..18; clamping keeps any other value from indexing past the table.
  const long double scale = powers_of_ten[static_cast<std::size_t>(std::clamp(d, 0, 18))];
  return std::rint(v * scale) / scale;
}

long long round_to_long(long double v) {
  return saturating_round<long long>(v);
}
std::int32_t round_to_int32(long double v) {
  return saturating_round<std::int32_t>(v);
}

long double ext_sqrt(long double v) {
  return v < 0 ? v : std::sqrt(v);
}

long double ext_pow(long double b, long double e) {
  if (e == 0) return 1;
  if (b < 0) e = std::rint(e);
  if (e == std::rint(e) && std::fabs(e) > 0x1p62L) {
    // Too large to count out as a product (and exp(e ln b) would lose the sign of a negative
    // base); the library's power is the same product, correctly signed.
    return std::pow(b, e);
  }
  if (e == std::rint(e)) {
    // Repeated product by binary powering; the reciprocal for a negative exponent.
    unsigned long long n = static_cast<unsigned long long>(std::fabs(e));
    long double result = 1;
    long double factor = b;
    while (n != 0) {
      if (n & 1) result *= factor;
      n >>= 1;
      if (n != 0) factor *= factor;
    }
    return e < 0 ? 1 / result : result;
  }
  return std::exp(e * ext_ln(b));
}

}  // namespace lyap
