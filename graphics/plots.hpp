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

// The integer ends of one axis and its number of tick intervals.
struct AxisScale {
  int lo;
  int hi;
  int intervals;
};
// Scales an axis to the extremes of a pass: padded by 5% each side, widened to a length the
// tick intervals divide and centred on the padded axis. False, leaving `axis` alone, when
// the padded ends meet, are not finite or leave the 32-bit range.
bool scale_axis(long double v_min, long double v_max, AxisScale& axis);

// The step after a point of the portrait: at most dt, and short enough that at the rates f(1)
// and f(2) the point moves at most half a pixel at the scale of the first pass, whose extents
// were x_span0 and y_span0. Rates of 0 or NaN give dt.
long double plot_step(const State& f, long double dt, int plot_w, int plot_h, int x_span0,
                      int y_span0);

// Splits a point at real plot coordinates over its four neighbouring pixels, each darkened
// by its share of `shade` (0..255) from grey 180 down; a pixel is only ever made darker.
void plot_point(Canvas& canvas, long double px, long double py, long double shade, int origin_x,
                int origin_y);
// The light-grey drop shadow of a point: falls down and right by a random distance that
// grows with `shade` (24 draws from rng), and only onto white pixels left of the plot's
// right edge and above its bottom.
void plot_shadow(Canvas& canvas, long double px, long double py, long double shade, int plot_w,
                 int plot_h, int plot_margin, int origin_x, int origin_y, Rng& rng);

// Draws the shaded phase portrait of the flow from x, carrying x on. When the axes cannot be
// scaled (a degenerate axis, or an integration failure during the passes) it draws nothing
// and sets x(1) = 1e99.
void plot_portrait(Canvas& canvas, int plot_w, int plot_h, int plot_margin, State& x, State& f,
                   long double dt, int origin_x, int origin_y, const Params& p, Rng& rng);

// The end-of-run plot of the complexity budget against the run time, read from the progress
// file, and held from its last record to `end_s`, the run time at the end of the run.
void plot_progress(Canvas& canvas, const std::string& progress_path, int plot_w, int plot_h,
                   long long end_s);

}  // namespace lyap
