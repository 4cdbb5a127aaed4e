#include "numerics/trig.hpp"

#include <cmath>
#include <limits>

namespace lyap::trig_detail {

const SplitFactorials split_factorials = {
    {0x1.5555555555555p-3, 0x1.558p-57},   // 1/3!
    {0x1.5555555555555p-5, 0x1.558p-59},   // 1/4!
    {0x1.1111111111111p-7, 0x1.12p-63},    // 1/5!
    {0x1.6c16c16c16c17p-10, -0x1.f5p-65},  // 1/6!
    {0x1.a01a01a01a01ap-13, 0x1.ap-73},    // 1/7!
};

void sincos_outside_range(long double a, long double& s, long double& c) {
  const long double size = std::fabs(a);
  if (size < tiny_angle) {
    s = a;
    c = 1;
    return;
  }
  if (!(size <= std::numeric_limits<long double>::max())) {
    // The library's answer for both, bit for bit: the invalid operation's default NaN for an
    // infinity, the argument itself (quietened) for a NaN.
    s = c = a - a;
    return;
  }
  long double hi, lo;
  const unsigned quadrant = reduce_exactly(a, hi, lo);
  long double sin_r, cos_r;
  sincos_reduced(hi, lo, sin_r, cos_r);
  const long double sin_q = (quadrant & 1) ? cos_r : sin_r;
  const long double cos_q = (quadrant & 1) ? sin_r : cos_r;
  // The reduction worked on |a|: sin is odd, cos even.
  s = ((quadrant & 2) != 0) != std::signbit(a) ? -sin_q : sin_q;
  c = ((quadrant + 1) & 2) ? -cos_q : cos_q;
}

}  // namespace lyap::trig_detail
