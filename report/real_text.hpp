// Reals as text that reads back exactly, decimal text read as the search would draw it, and
// whole numbers read from text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lyap {

// The shortest decimal text that reads back to exactly v (hexadecimal should none do), so that
// a value written by one build is the same value in any other, Linux or Windows.
std::string shortest_text(long double v);
// Elements 1..N-1 of a parameter set or a state, each in its shortest text, a space between.
template <std::size_t N>
std::string shortest_texts(const std::array<long double, N>& values) {
  std::string text;
  for (std::size_t i = 1; i < N; ++i) {
    if (i > 1) text += ' ';
    text += shortest_text(values[i]);
  }
  return text;
}

// Decimal text as the results file and the console print it (".5", "-.35", "1.000136", "2E-3")
// read into exactly the extended value that the draw gives for that text: the decimal fraction
// rounded to d decimals as the draw rounds, where d is the number of decimals the text has.
// False for anything else: other characters, no digit, more than 18 decimals, not finite.
bool read_drawn_value(std::string_view text, long double& value);

// Digits only, in the given base (no sign, no space), within 64 bits.
bool read_whole_number(std::string_view text, std::uint64_t& value, int base = 10);

}  // namespace lyap
