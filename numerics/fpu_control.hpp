// The x87 unit's control word, which every long double operation obeys. The program needs
// 64-bit precision, rounding to nearest and every exception masked (0x37f): Linux and the
// mingw-w64 runtime start a process that way, but a library or a driver loaded into it may
// change the word (some set 53-bit precision, which would round every result to a double's
// significand). So the program checks it once, at the very start.
#pragma once

#include <cstdint>

namespace lyap {

std::uint16_t x87_control_word();
void set_x87_control_word(std::uint16_t word);

// Sets the precision, rounding and exception-mask fields to what the program needs when any
// of them differs, leaving the other bits alone. Returns whether it had to.
bool ensure_x87_extended();

}  // namespace lyap
