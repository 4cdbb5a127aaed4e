// Checks on finished pictures shared by the plot tests: a canvas set up as start-up leaves it,
// and whether a label was printed at a given place.
#pragma once

#include <functional>
#include <string_view>

#include "graphics/canvas.hpp"
#include "numerics/numerics.hpp"

namespace lyap::testing {

inline constexpr int canvas_w = 440;
inline constexpr int canvas_h = 424;

inline Colour grey(int level) {
  return rgb(level, level, level);
}

// Black on white, as start-up sets the colours; the canvas itself is left as created (the
// dialog-face colour) unless `clear` asks for white.
inline void start_canvas(Canvas& canvas, bool clear = true) {
  init_canvas(canvas, canvas_w, canvas_h, nullptr);
  set_foreground(canvas, black);
  set_background(canvas, white);
  if (clear) clear_canvas(canvas);
}

inline Colour pixel(const Canvas& canvas, int x, int y) {
  return canvas.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(canvas.width) +
                       static_cast<std::size_t>(x)];
}

// Whether the fonts of this machine draw text at all; without them labels measure 0 and
// the label checks have nothing to compare.
inline bool fonts_available() {
  Canvas probe;
  start_canvas(probe);
  set_font(probe, "MS Sans Serif", 12, true);
  return text_size(probe, "0").width > 0;
}

// Counts the pixels of the text cell at (x, y) that differ from `text` printed there on a
// white canvas in the plots' font. `ignore` leaves out pixels that later drawing may cover
// (the frame). The reference must show some ink, so an empty comparison cannot pass.
inline int text_mismatches(
    const Canvas& canvas, std::string_view text, long double x, long double y,
    const std::function<bool(int, int)>& ignore = [](int, int) { return false; }) {
  Canvas reference;
  start_canvas(reference);
  set_font(reference, "MS Sans Serif", 12, true);
  const TextSize size = text_size(reference, text);
  move_to(reference, x, y);
  print_text(reference, text);
  const int x0 = round_to_int32(x), y0 = round_to_int32(y);
  int mismatches = 0, ink = 0;
  for (int row = y0; row < y0 + round_to_int32(size.height) && row < canvas_h; ++row) {
    for (int col = x0; col < x0 + round_to_int32(size.width) && col < canvas_w; ++col) {
      if (col < 0 || row < 0 || ignore(col, row)) continue;
      if (pixel(reference, col, row) == black) ++ink;
      if (pixel(reference, col, row) != pixel(canvas, col, row)) ++mismatches;
    }
  }
  return ink > 0 ? mismatches : -1;
}

}  // namespace lyap::testing
