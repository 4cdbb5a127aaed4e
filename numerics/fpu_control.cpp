#include "numerics/fpu_control.hpp"

namespace lyap {

namespace {

// Bits 0-5 mask the six exceptions, bits 8-9 are the precision (11: 64-bit significand) and
// bits 10-11 the rounding (00: to nearest, halves to even).
constexpr std::uint16_t fields = 0x0f3f;
constexpr std::uint16_t wanted = 0x033f;

}  // namespace

std::uint16_t x87_control_word() {
  std::uint16_t word;
  asm volatile("fnstcw %0" : "=m"(word));
  return word;
}

void set_x87_control_word(std::uint16_t word) {
  asm volatile("fldcw %0" : : "m"(word));
}

bool ensure_x87_extended() {
  const std::uint16_t word = x87_control_word();
  if ((word & fields) == wanted) return false;
  set_x87_control_word(static_cast<std::uint16_t>((word & ~fields) | wanted));
  return true;
}

}  // namespace lyap
