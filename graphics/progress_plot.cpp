#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "graphics/plots.hpp"
#include "report/number_format.hpp"
#include "report/progress_file.hpp"

namespace lyap {

namespace {

// The value axis is fixed at 0..40 and starts this far from the left edge.
constexpr int value_axis_top = 40;
constexpr int left = 40;

struct Record {
  std::int32_t time_s;
  std::int32_t value;
};

Record next_record(ProgressReader& reader) {
  long double time_s = 0, value = 0;
  read_progress_record(reader, time_s, value);
  return {round_to_int32(time_s), round_to_int32(value)};
}

}  // namespace

void plot_progress(Canvas& canvas, const std::string& progress_path, int plot_w, int plot_h,
                   long long end_s) {
  clear_canvas(canvas);
  redraw(canvas);

  std::int32_t max_time_s = 0;
  std::int32_t max_value = 0;
  {
    ProgressReader reader(progress_path);
    while (!progress_at_end(reader)) {
      const Record r = next_record(reader);
      max_time_s = std::max(max_time_s, r.time_s);
      max_value = std::max(max_value, r.value);
    }
  }
  const std::int32_t end_time_s = round_to_int32(static_cast<long double>(end_s));
  max_time_s = std::max(max_time_s, end_time_s);
  // Ten-minute intervals; max_time_s is at most 2^31 - 1, so neither product overflows.
  const std::int32_t n_time_ticks = round_to_int32(std::ceil(max_time_s / 600.0L));
  const std::int32_t time_axis_min = n_time_ticks * 10;

  set_font(canvas, "MS Sans Serif", 12, true);
  auto label = [&](const std::string& text, long double x, long double y) {
    move_to(canvas, x, y);
    print_text(canvas, text);
  };
  label("40", 12, 0);
  label("IE", 16, plot_h / 2.0L - 12);
  label("0", 22, static_cast<long double>(plot_h) - 20);
  label("0", left, plot_h);
  label("Time (minutes)", plot_w / 2.0L - 30, plot_h);
  std::string end_label = number_str(time_axis_min);
  std::erase(end_label, ' ');
  label(end_label, static_cast<long double>(plot_w) + left - text_size(canvas, end_label).width,
        plot_h);

  const long double tick_h = plot_h / 36.0L;
  // A damaged file can ask for millions of ticks; those that round onto the column of the
  // previous one would only draw the same pixels again.
  long double last_t = -1;
  for (std::int32_t i = 1; i < n_time_ticks; ++i) {
    const long double t =
        round_to_int32(static_cast<long double>(plot_w) * i / n_time_ticks + left);
    if (t == last_t) continue;
    last_t = t;
    move_to(canvas, t, 0);
    line_to(canvas, t, tick_h);
    move_to(canvas, t, plot_h);
    line_to(canvas, t, plot_h - tick_h);
  }
  const long double tick_w = plot_w / 36.0L;
  const long double right = static_cast<long double>(plot_w) + left;
  for (int j = 1; j <= 3; ++j) {
    const long double t = round_to_int32(static_cast<long double>(plot_h) * j / 4);
    move_to(canvas, left, t);
    line_to(canvas, tick_w + left, t);
    move_to(canvas, right - 1, t);
    line_to(canvas, right - tick_w - 1, t);
  }
  draw_box(canvas, left, 0, right, static_cast<long double>(plot_h) + 1);
  set_line_width(canvas, 2);

  // A run that ended before its first timed record has no time axis to draw a curve on.
  if (time_axis_min > 0) {
    const long double seconds_across = static_cast<long double>(time_axis_min) * 60;
    auto level_y = [&](std::int32_t v) {
      return plot_h - static_cast<long double>(v) * plot_h / value_axis_top;
    };
    // The budget is held from time 0 at the largest value, then steps at each record.
    long double prev_x = left;
    long double prev_y = level_y(max_value);
    ProgressReader reader(progress_path);
    while (!progress_at_end(reader)) {
      const Record r = next_record(reader);
      const long double x = static_cast<long double>(r.time_s) * plot_w / seconds_across + left;
      const long double y = level_y(r.value);
      move_to(canvas, prev_x, prev_y);
      line_to(canvas, x, prev_y);
      move_to(canvas, x, prev_y);
      line_to(canvas, x, y);
      prev_x = x;
      prev_y = y;
    }
    // The budget holds from the last record to the end of the run: without a find, the whole
    // search is this one flat line.
    const long double end_x = static_cast<long double>(end_time_s) * plot_w / seconds_across + left;
    if (end_x > prev_x) {
      move_to(canvas, prev_x, prev_y);
      line_to(canvas, end_x, prev_y);
    }
  }
  redraw(canvas);
}

}  // namespace lyap
