#include "report/end_codes.hpp"

#include <array>

namespace lyap {

std::string_view end_code_meaning(long code) {
  static constexpr std::array<std::string_view, 10> meanings = {
      "",
      "the separation grew too far within one step",
      "not chaotic: the whole exponent band lies below the threshold",
      "divergence too large: phase volume not conserved",
      "no measurable separation",
      "undecided within the step limit",
      "unbounded motion",
      "fixed point reached",
      "x1 has stopped varying",
      "left the domain",
  };
  return code >= 1 && code <= 9 ? meanings[static_cast<std::size_t>(code)] : std::string_view();
}

}  // namespace lyap
