// The pictures: the phase portrait of every chaotic find and the end-of-run plot of the
// complexity budget against time.
#pragma once

#include <string>
#include <string_view>

#include "graphics/canvas.hpp"
#include "numerics/numerics.hpp"

namespace lyap {

// Maps a state to plot coordinates and a darkness 0..255 for the geometry "plane" (x1
// across, x2 up, x3 as shade) or "cylinder"; any other geometry leaves the outputs as they
// were.
void project_point(const State& x, int x_lo, int x_hi, int y_lo, int y_hi, long double z_min,
                   long double z_max, int left, int height, int width, long double& px,
                   long double& py, long double& shade, std::string_view geometry);

// Tick intervals n and padded length R of an axis of integer length r.
struct AxisTicks {
  int intervals;
  long long length;
};
AxisTicks axis_ticks(long long r);

// Draws the shaded phase portrait of the flow from x, carrying x on. When the axes cannot be
// scaled (a degenerate axis, or an integration failure during the passes) it draws nothing
// and sets x(1) = 1e99.
void plot_portrait(Canvas& canvas, int plot_w, int plot_h, int plot_margin, State& x, State& f,
                   long double dt, int origin_x, int origin_y, const Params& p, Rng& rng);

// The end-of-run plot of the complexity budget against the run time, read from the progress
// file.
void plot_progress(Canvas& canvas, const std::string& progress_path, int plot_w, int plot_h);

}  // namespace lyap
