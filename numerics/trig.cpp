#include "numerics/trig.hpp"

#include <cmath>

namespace lyap {

void model_sincos(long double a, long double& s, long double& c) {
  s = std::sin(a);
  c = std::cos(a);
}

}  // namespace lyap
