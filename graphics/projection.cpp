#include <cmath>

#include "graphics/plots.hpp"

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
    const long double a = turn_angle + x[1];
    px = width * width_factor * (std::cos(a) + 1) / 2 + left;
    py = height * width_factor * (y_hi - x[2]) / (static_cast<long double>(y_hi) - y_lo);
    shade = (1 - std::sin(a)) * 255 / 2;
  }
}

}  // namespace lyap
