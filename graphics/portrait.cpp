#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "graphics/plots.hpp"
#include "report/number_format.hpp"

namespace lyap {

namespace {

constexpr long double extreme_start = 1000000;  // minima start here, maxima at its negative
constexpr long double axis_pad = 0.05L;
constexpr Colour shadow_colour = 14474460;  // rgb(220, 220, 220)

struct Extremes {
  long double lo = extreme_start;
  long double hi = -extreme_start;
  void fold(long double v) {
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
};

// advance marks a failed step with 1e99 in x(1); a state that went non-finite without the
// mark (a derivative that overflowed or divided by zero) cannot be scaled or drawn either.
bool step_failed(const State& x) {
  if (x[1] == failure_mark) return true;
  for (int i = 1; i <= n_dims; ++i) {
    if (!std::isfinite(x[i])) return true;
  }
  return false;
}

// floor(v) + 1 held in an integer; saturates so a huge first-pass span only slows the steps.
int span_of(long double v) {
  return round_to_int32(std::floor(v) + 1);
}

std::string label_text(int v) {
  std::string text = number_str(v);
  std::erase(text, ' ');
  return text;
}

void draw_axes(Canvas& canvas, const AxisScale& xs, const AxisScale& ys, int plot_w, int plot_h,
               int plot_margin, int origin_x, int origin_y) {
  const long double left = static_cast<long double>(plot_margin) + origin_x;
  const long double top = origin_y;
  const long double bottom = static_cast<long double>(plot_h) + origin_y;

  clear_canvas(canvas);
  set_font(canvas, "MS Sans Serif", 12, true);

  auto label = [&](const std::string& text, auto place) {
    const TextSize size = text_size(canvas, text);
    const auto [lx, ly] = place(size.width, size.height);
    move_to(canvas, lx, ly);
    print_text(canvas, text);
  };
  // The vertical-axis labels end 5 pixels left of the frame but never leave the canvas.
  auto right_aligned = [&](long double w) { return std::max(left - 5 - w, 0.0L); };
  using Pos = std::pair<long double, long double>;
  label(label_text(ys.hi), [&](long double w, long double) { return Pos{right_aligned(w), top}; });
  label("Y", [&](long double w, long double h) {
    return Pos{right_aligned(w), top + plot_h / 2.0L - h / 2};
  });
  label(label_text(ys.lo), [&](long double w, long double) {
    return Pos{right_aligned(w), bottom - 20};
  });
  label(label_text(xs.lo), [&](long double, long double) { return Pos{left, bottom}; });
  label("X", [&](long double w, long double) { return Pos{left + plot_w / 2.0L - w / 2, bottom}; });
  label(label_text(xs.hi), [&](long double w, long double) {
    return Pos{left + plot_w - w, bottom};
  });

  const long double tick_h = plot_h / 36.0L;
  for (int i = 1; i < xs.intervals; ++i) {
    const long double t =
        round_to_int32(left + static_cast<long double>(plot_w) * i / xs.intervals);
    move_to(canvas, t, top);
    line_to(canvas, t, top + tick_h);
    move_to(canvas, t, bottom);
    line_to(canvas, t, bottom - tick_h);
  }
  const long double tick_w = plot_w / 36.0L;
  for (int j = 1; j < ys.intervals; ++j) {
    const long double t = round_to_int32(static_cast<long double>(plot_h) * j / ys.intervals + top);
    move_to(canvas, left, t);
    line_to(canvas, left + tick_w, t);
    move_to(canvas, left + plot_w - 1, t);
    line_to(canvas, left + plot_w - tick_w - 1, t);
  }
  draw_box(canvas, left, top, left + plot_w, bottom + 1);
}

}  // namespace

AxisTicks axis_ticks(long long r) {
  auto ceil_div = [](long long a, long long b) { return (a + b - 1) / b; };
  if (r <= 2) return {10, r};
  if (r <= 20) return {static_cast<int>(r), r};
  if (r <= 40) {
    const long long n = ceil_div(r, 2);
    return {static_cast<int>(n), 2 * n};
  }
  if (r <= 100) {
    const long long n = ceil_div(r, 5);
    return {static_cast<int>(n), 5 * n};
  }
  if (r <= 1000) {
    const long long n = ceil_div(r, 10);
    return {static_cast<int>(n), 10 * n};
  }
  return {100, 100 * ceil_div(r, 100)};
}

long double plot_step(const State& f, long double dt, int plot_w, int plot_h, int x_span0,
                      int y_span0) {
  const long double s =
      std::fabs(2 * f[2] * plot_h / y_span0) + std::fabs(2 * f[1] * plot_w / x_span0);
  const long double limit = 1 / s;
  return limit < dt ? limit : dt;
}

bool scale_axis(long double v_min, long double v_max, AxisScale& axis) {
  const long double lo = std::floor(v_min - axis_pad * (v_max - v_min));
  const long double hi = std::ceil(v_max + axis_pad * (v_max - v_min));
  constexpr long double int_min = std::numeric_limits<std::int32_t>::min();
  constexpr long double int_max = std::numeric_limits<std::int32_t>::max();
  // Written so that a NaN end fails too.
  if (!(lo >= int_min && hi <= int_max && hi > lo)) return false;

  const AxisTicks ticks = axis_ticks(static_cast<long long>(hi) - static_cast<long long>(lo));
  // The widened axis is centred on the padded one.
  const long long centred_lo = round_to_long((hi + lo - ticks.length) / 2);
  const long long centred_hi = centred_lo + ticks.length;
  if (centred_lo < int_min || centred_hi > int_max) return false;
  axis.lo = static_cast<int>(centred_lo);
  axis.hi = static_cast<int>(centred_hi);
  axis.intervals = ticks.intervals;
  return true;
}

void plot_point(Canvas& canvas, long double px, long double py, long double shade, int origin_x,
                int origin_y) {
  const long double fx = px - std::floor(px);
  const long double fy = py - std::floor(py);
  const long double x0 = std::floor(px) + origin_x;
  const long double y0 = std::floor(py) + origin_y;
  // A NaN shade (no spread in x3) gives NaN levels, which round to 0: black.
  auto grey = [](long double g) {
    const int level = round_to_int32(g);
    return rgb(level, level, level);
  };
  struct Corner {
    long double x, y;
    Colour colour;
  };
  const Corner corners[] = {
      {x0 + 1, y0 + 1, grey(180 - fx * shade * fy)},
      {x0 + 1, y0, grey(180 - fx * shade * (1 - fy))},
      {x0, y0 + 1, grey(180 - (1 - fx) * shade * fy)},
      {x0, y0, grey(180 - (1 - fx) * shade * (1 - fy))},
  };
  // Only ever darken, so points never lighten labels, ticks, the frame or earlier points.
  for (const Corner& c : corners) {
    if (get_pixel(canvas, c.x, c.y) > c.colour) set_pixel(canvas, c.x, c.y, c.colour);
  }
}

void plot_shadow(Canvas& canvas, long double px, long double py, long double shade, int plot_w,
                 int plot_h, int plot_margin, int origin_x, int origin_y, Rng& rng) {
  long double s1 = 0;
  for (int i = 0; i < 12; ++i) s1 += rnd(rng);
  const long double sx = px + shade * (plot_w / 600.0L) / s1;
  long double s2 = 0;
  for (int i = 0; i < 12; ++i) s2 += rnd(rng);
  const long double sy = py + shade * (plot_h / 600.0L) / s2;
  // Tested in this order so that a NaN position (a NaN shade) is never read or written.
  if (!(sx < static_cast<long double>(plot_w) + plot_margin && sy < plot_h)) return;
  if (get_pixel(canvas, sx + origin_x, sy + origin_y) == white) {
    set_pixel(canvas, sx + origin_x, sy + origin_y, shadow_colour);
  }
}

void plot_portrait(Canvas& canvas, int plot_w, int plot_h, int plot_margin, State& x, State& f,
                   long double dt, int origin_x, int origin_y, const Params& p, Rng& rng) {
  const int k_steps = round_to_int32(static_cast<long double>(plot_w) * plot_h / 3);

  // Pass 1: let the transient die away at the full step, then measure the rough extent.
  Extremes xe, ye;
  for (long i = 0; i < 2L * k_steps + 1; ++i) {
    advance(x, f, dt, x, p, rng);
    if (step_failed(x)) {
      x[1] = failure_mark;
      return;
    }
    if (i > k_steps) {
      xe.fold(x[1]);
      ye.fold(x[2]);
    }
  }
  const int x_span0 = span_of(xe.hi - xe.lo);
  const int y_span0 = span_of(ye.hi - ye.lo);
  const State saved_x = x;

  // Pass 2: the same path as pass 3 will draw, to fix the bounds.
  xe = {};
  ye = {};
  Extremes ze;
  long double plot_dt = dt;
  for (int i = 0; i < k_steps; ++i) {
    advance(x, f, plot_dt, x, p, rng);
    if (step_failed(x)) {
      x[1] = failure_mark;
      return;
    }
    xe.fold(x[1]);
    ye.fold(x[2]);
    ze.fold(x[3]);
    plot_dt = plot_step(f, dt, plot_w, plot_h, x_span0, y_span0);
  }

  AxisScale xs{}, ys{};
  if (!scale_axis(xe.lo, xe.hi, xs) || !scale_axis(ye.lo, ye.hi, ys)) {
    x[1] = failure_mark;
    return;
  }

  draw_axes(canvas, xs, ys, plot_w, plot_h, plot_margin, origin_x, origin_y);

  // Pass 3: retrace pass 2 and draw.
  for (int i = 1; i <= n_dims; ++i) x[i] = saved_x[i];
  plot_dt = dt;
  for (int i = 0; i < k_steps; ++i) {
    advance(x, f, plot_dt, x, p, rng);
    if (step_failed(x)) {
      // Pass 3 can only part from pass 2 through the jitter of tiny components. The success
      // is dropped; without a redraw the window keeps showing the previous portrait.
      x[1] = failure_mark;
      return;
    }
    long double px = 0, py = 0, shade = 0;
    project_point(x, xs.lo, xs.hi, ys.lo, ys.hi, ze.lo, ze.hi, plot_margin, plot_h, plot_w, px, py,
                  shade, "plane");
    if (!(px >= static_cast<long double>(plot_w) + plot_margin || py >= plot_h)) {
      shade = 255 * (x[3] - ze.lo) / (ze.hi - ze.lo);
      plot_point(canvas, px, py, shade, origin_x, origin_y);
      plot_shadow(canvas, px, py, shade, plot_w, plot_h, plot_margin, origin_x, origin_y, rng);
    }
    plot_dt = plot_step(f, dt, plot_w, plot_h, x_span0, y_span0);
  }
  redraw(canvas);
}

}  // namespace lyap
