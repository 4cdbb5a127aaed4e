#include <cmath>

#include "graphics/plots.hpp"
#include "numerics/trig.hpp"

namespace lyap {

namespace {
// The cylinder view's turn angle and width factor, held in single precision.
constexpr long double turn_angle = widen(0.7854f);
constexpr long double width_factor = widen(0.9f);
}  // namespace

void project_point(const State& x, int x_lo, int x_hi, int y_lo, int y_hi, long double z_min,
                   long double z_max, int left, int height, int width, long double& px,
                   long double& py, long double& shade, std::string_view geometry) {
  if (geometry == "plane") {
    px = (x[1] - x_lo) * width / (static_cast<long double>(x_hi) - x_lo) + left;
    py = (y_hi - x[2]) * height / (static_cast<long double>(y_hi) - y_lo);
    shade = (x[3] - z_min) * 255 / (z_max - z_min);
  } else if (geometry == "cylinder") {
    // The program's own sine and cosine, so that the picture is the same on every system.
    long double sin_a, cos_a;
    model_sincos(turn_angle + x[1], sin_a, cos_a);
    px = width * width_factor * (cos_a + 1) / 2 + left;
    py = height * width_factor * (y_hi - x[2]) / (static_cast<long double>(y_hi) - y_lo);
    shade = (1 - sin_a) * 255 / 2;
  }
}

}  // namespace lyap
