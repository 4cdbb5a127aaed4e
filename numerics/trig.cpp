#include "numerics/trig.hpp"

#include <cmath>

namespace lyap::trig_detail {

const SplitFactorials split_factorials = {
    {0x1.5555555555555p-3, 0x1.558p-57},   // 1/3!
    {0x1.5555555555555p-5, 0x1.558p-59},   // 1/4!
    {0x1.1111111111111p-7, 0x1.12p-63},    // 1/5!
    {0x1.6c16c16c16c17p-10, -0x1.f5p-65},  // 1/6!
    {0x1.a01a01a01a01ap-13, 0x1.ap-73},    // 1/7!
};

void sincos_outside_range(long double a, long double& s, long double& c) {
  if (std::fabs(a) < tiny_angle) {
    s = a;
    c = 1;
  } else {
    s = std::sin(a);
    c = std::cos(a);
  }
}

}  // namespace lyap::trig_detail
