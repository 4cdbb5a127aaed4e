// The in-memory canvas every picture is drawn on, with the drawing operations the plots use.
// It exists and draws whether or not a window shows it, so pictures and bitmap files are made
// on a machine without a display too.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.hpp"
#include "platform/font.hpp"
#include "platform/window.hpp"

namespace lyap {

// A colour is red + 256 green + 65536 blue; -1 is "no colour" (outside the canvas).
using Colour = std::int32_t;
inline constexpr Colour white = 16777215;
inline constexpr Colour black = 0;

struct Canvas {
  int width = 0;
  int height = 0;
  std::vector<Colour> pixels;  // rows top first
  Colour foreground = black;
  Colour background = white;
  // The current position, rounded; kept wide so that a far-off point still gives a line the
  // right direction through the canvas.
  long long pos_x = 0;
  long long pos_y = 0;
  int line_width = 1;
  std::unique_ptr<Font> font;  // null: text is skipped and measures 0
  std::string font_key;        // face/size/weight of `font`, so an identical request reuses it
  Window* window = nullptr;    // not owned; null when there is no window
  std::mutex lock;             // the graphics lock: held by every operation
};

struct TextSize {
  long double width = 0;
  long double height = 0;
};

// A canvas of the given size filled with the platform's default dialog-face colour, the
// foreground the default window-text colour.
void init_canvas(Canvas& canvas, int width, int height, Window* window);

Colour rgb(int red, int green, int blue);  // components clamped to 0..255
void set_foreground(Canvas& canvas, Colour colour);
void set_background(Canvas& canvas, Colour colour);
void clear_canvas(Canvas& canvas);
void set_font(Canvas& canvas, std::string_view face, int points, bool bold);
void move_to(Canvas& canvas, long double x, long double y);
void line_to(Canvas& canvas, long double x, long double y);
void print_text(Canvas& canvas, std::string_view text);
TextSize text_size(Canvas& canvas, std::string_view text);
Colour get_pixel(Canvas& canvas, long double x, long double y);
void set_pixel(Canvas& canvas, long double x, long double y, Colour colour);
void draw_box(Canvas& canvas, long double x1, long double y1, long double x2, long double y2);
void set_line_width(Canvas& canvas, int n);
// Shows the canvas in the window and returns once it has been repainted.
void redraw(Canvas& canvas);
// Writes the canvas as an uncompressed 24-bit bottom-up bitmap, replacing the file whole.
WriteOutcome save_bitmap(Canvas& canvas, const std::string& path);

}  // namespace lyap
