#include "report/digit_sum.hpp"

#include <cmath>
#include <cstdint>
#include <string>

#include "report/number_format.hpp"

namespace lyap {

namespace {

constexpr long double micro_scale = 1e6L;
// From here on n / 10^6 has more than 18 significant digits, and its expansion is no longer
// n's digits.
constexpr std::int64_t fast_limit = 1'000'000'000'000'000'000;

int decimal_length(std::uint64_t n) {
  int len = 1;
  while (n >= 10) {
    n /= 10;
    ++len;
  }
  return len;
}

// Length of the trimmed number_str of a magnitude that is exactly the nearest extended value
// to n / 10^6 with 0 < n < 10^18. Such a value's 18-digit expansion is the digits of n
// themselves (its distance from n / 10^6 is below 2^-64 relative, far inside half a unit of
// the 18th digit), so the text follows from n's digits by integer arithmetic alone.
int micro_text_length(std::uint64_t n) {
  int s = decimal_length(n);  // significant digits of n, trailing zeros included
  std::uint64_t q = n;
  if (s > 15) {
    // Keep fifteen digits; the sixteenth alone decides, halves to even.
    std::uint64_t scale = 1;
    for (int i = 0; i < s - 16; ++i) scale *= 10;
    const std::uint64_t sixteen = n / scale;
    q = sixteen / 10;
    const std::uint64_t next = sixteen % 10;
    if (next > 5 || (next == 5 && q % 2 == 1)) ++q;
    if (q == 1'000'000'000'000'000) ++s;  // carried into a new leading digit
  }
  while (q % 10 == 0) q /= 10;
  const int k = decimal_length(q);
  const int e = s - 6;  // integer digits; never above 13, and at most 6 decimals: fixed
  if (e >= k) return e;
  if (e > 0) return k + 1;
  return 1 - e + k;
}

long element_length(long double v) {
  const long double a = std::fabs(v);
  if (a == 0) return 0;
  if (a == 1) return 1;
  // The draw rounds every parameter to at most six decimals; such values are recognised
  // exactly and measured without building their text.
  // rint rounds halves to even like nearbyint, without the floating-point environment save
  // and restore that makes nearbyintl cost some hundred nanoseconds on x87.
  const long double scaled = std::rint(a * micro_scale);
  if (scaled > 0 && scaled < static_cast<long double>(fast_limit)) {
    // A whole number below 2^63 already, so the conversion is exact; signed conversions are
    // single x87 instructions, unsigned ones need a branch around 2^63.
    const auto n = static_cast<std::int64_t>(scaled);
    if (static_cast<long double>(n) / micro_scale == a) {
      return micro_text_length(static_cast<std::uint64_t>(n)) + 1;
    }
  }
  const std::string text = number_str(a);
  const std::size_t begin = text.find_first_not_of(' ');
  const std::size_t end = text.find_last_not_of(' ');
  return static_cast<long>(end - begin + 1) + 1;
}

}  // namespace

long digit_sum_term(long double v) {
  return element_length(v);
}

long digit_sum(const Params& p) {
  long total = 0;
  for (const long double v : p) total += element_length(v);
  return total;
}

}  // namespace lyap
