#include "numerics/fpu_control.hpp"

#include <gtest/gtest.h>

namespace {

// 1 + 2^-60 needs a 64-bit significand: at 53-bit precision the sum rounds to 1.
long double one_plus_tiny() {
  volatile long double one = 1, tiny = 0x1p-60L;
  return one + tiny;
}

TEST(EnsureX87Extended, RestoresExtendedPrecisionAfterADoublePrecisionSetting) {
  const std::uint16_t original = lyap::x87_control_word();
  EXPECT_FALSE(lyap::ensure_x87_extended()) << std::hex << original;
  EXPECT_EQ(original & 0x0f3f, 0x033f) << std::hex << original;
  ASSERT_NE(one_plus_tiny(), 1.0L);

  struct Case {
    std::uint16_t word;
    const char* what;
  };
  const Case cases[] = {
      {0x027f, "53-bit precision, as some drivers leave it"},
      {0x007f, "24-bit precision"},
      {0x0f7f, "rounding towards zero"},
      {0x037e, "invalid operation unmasked"},
  };
  for (const Case& c : cases) {
    asm volatile("fnclex");  // no pending exception may fire once one is unmasked
    lyap::set_x87_control_word(c.word);
    if ((c.word & 0x0300) != 0x0300) {
      EXPECT_EQ(one_plus_tiny(), 1.0L) << c.what;
    }
    const bool changed = lyap::ensure_x87_extended();
    const std::uint16_t after = lyap::x87_control_word();
    const long double sum = one_plus_tiny();
    lyap::set_x87_control_word(original);
    EXPECT_TRUE(changed) << c.what;
    EXPECT_EQ(after, 0x037f) << c.what;
    EXPECT_EQ(sum, 1 + 0x1p-60L) << c.what;
  }
}

}  // namespace
