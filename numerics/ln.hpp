// The constants of the program's natural logarithm (ext_ln in numerics/numerics.hpp, worked
// out in numerics/ln.cpp), here so that tests/ln_test.cpp can check every one of them against
// quad precision.
#pragma once

#include <array>

namespace lyap::ln_detail {

// ln 2 = ln2_hi + ln2_lo to within 2^-107 of itself. ln2_hi is a multiple of 2^-49 (49
// significant bits), so k ln2_hi is exact for every exponent k of the format (|k| <= 2^14).
inline constexpr double ln2_hi = 0x1.62e42fefa39fp-1;
inline constexpr double ln2_lo = -0x1.950d871319ffp-54;

// The significand m in [1, 2) goes with the centre c_j, j = round(64 (m - 1)): c_j = 1 + j/64
// for j <= 26, and for j >= 27 (m >= 1.4140625) m is halved and goes with c_j = 1/2 + j/128.
// ln c_j = ln_hi + ln_lo, ln_hi a multiple of 2^-49 and |ln_lo| <= 2^-50 (a double), to within
// 2^-103. Printed by scripts/ln-table.
struct Centre {
  float c;
  double ln_hi, ln_lo;
};
inline constexpr int n_centres = 65;
inline constexpr int first_halved = 27;
extern const std::array<Centre, n_centres> centres;

// 1/3, 1/5, 1/7, 1/9 of the series 2 atanh s = 2s + 2s^3 (1/3 + s^2/5 + s^4/7 + s^6/9 + ...),
// each the nearest value of its type: the terms after s^3 are below 2^-33 of the result, where a
// double is accurate enough.
inline constexpr long double third = 0x1.5555555555555556p-2L;
inline constexpr double fifth = 0x1.999999999999ap-3;
inline constexpr double seventh = 0x1.2492492492492p-3;
inline constexpr double ninth = 0x1.c71c71c71c71cp-4;

}  // namespace lyap::ln_detail
