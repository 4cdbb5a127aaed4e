#include "report/real_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "numerics/numerics.hpp"

namespace lyap {

namespace {

bool same_bits(long double a, long double b) {
  return std::memcmp(&a, &b, 10) == 0;  // the ten value bytes of the extended format
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::string shortest_text(long double v) {
  char text[64];
  for (int digits = 1; digits <= 21; ++digits) {
    std::snprintf(text, sizeof text, "%.*Lg", digits, v);
    if (same_bits(std::strtold(text, nullptr), v)) return text;
  }
  std::snprintf(text, sizeof text, "%La", v);  // exact by its nature
  return text;
}

bool read_whole_number(std::string_view text, std::uint64_t& value, int base) {
  // from_chars takes no sign for an unsigned type, nor any space.
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value, base);
  return !text.empty() && error == std::errc() && at == end;
}

bool read_drawn_value(std::string_view text, long double& value) {
  // [sign] digits [. digits] [E [sign] digits], with a digit before or after the point.
  std::size_t at = 0;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
  std::size_t digits = 0, decimals = 0;
  while (at < text.size() && is_digit(text[at])) ++at, ++digits;
  if (at < text.size() && text[at] == '.') {
    ++at;
    while (at < text.size() && is_digit(text[at])) ++at, ++digits, ++decimals;
  }
  if (digits == 0) return false;
  long exponent = 0;
  if (at < text.size() && (text[at] == 'E' || text[at] == 'e')) {
    ++at;
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    const std::size_t first = at;
    while (at < text.size() && is_digit(text[at]) && exponent < 100000) {
      exponent = exponent * 10 + (text[at] - '0');
      ++at;
    }
    if (at == first) return false;
    if (negative) exponent = -exponent;
  }
  if (at != text.size() || text.size() > 60) return false;
  const long d = std::max(0L, static_cast<long>(decimals) - exponent);
  if (d > 18) return false;
  const std::string copy(text);
  value = round_dec(std::strtold(copy.c_str(), nullptr), static_cast<int>(d));
  return std::isfinite(value);
}

}  // namespace lyap
