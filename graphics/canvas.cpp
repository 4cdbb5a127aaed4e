#include "graphics/canvas.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "numerics/numerics.hpp"

namespace lyap {

namespace {

// The dialog-face grey a fresh canvas shows until the first picture clears it.
constexpr Colour dialog_face = 240 + 256 * 240 + 65536 * 240;

// Lines are rasterised in 64-bit integers; end points further out than this are first clipped
// to it, which keeps every product in the rasteriser far from overflow. Anything this far off
// the canvas is never drawn anyway.
constexpr long long guard = 1LL << 24;
// Box edges and text cells beyond this are off the canvas whatever the pen width.
constexpr long long far_off = 1LL << 40;
// A pen wider than this already covers the canvas many times over.
constexpr int max_line_width = 1024;
// Glyph pixels at least this opaque take the foreground colour, the rest stay background, so
// every text pixel is exactly one of the two colours.
constexpr int coverage_threshold = 128;

Colour colour_value(Colour c) {
  return c & 0xFFFFFF;
}

// A real coordinate rounded to the nearest pixel, halves to even; NaN names no pixel.
bool to_pixel(long double v, long long& out) {
  if (std::isnan(v)) return false;
  out = round_to_long(v);
  return true;
}

bool inside(const Canvas& c, long long x, long long y) {
  return x >= 0 && y >= 0 && x < c.width && y < c.height;
}

Colour& pixel_at(Canvas& c, long long x, long long y) {
  return c.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(c.width) +
                  static_cast<std::size_t>(x)];
}

// Fills columns x_lo..x_hi, rows y_lo..y_hi (inclusive), clipped to the canvas.
void fill_rect(Canvas& c, long long x_lo, long long x_hi, long long y_lo, long long y_hi,
               Colour colour) {
  x_lo = std::max(x_lo, 0LL);
  y_lo = std::max(y_lo, 0LL);
  x_hi = std::min(x_hi, static_cast<long long>(c.width) - 1);
  y_hi = std::min(y_hi, static_cast<long long>(c.height) - 1);
  for (long long y = y_lo; y <= y_hi; ++y) {
    for (long long x = x_lo; x <= x_hi; ++x) pixel_at(c, x, y) = colour;
  }
}

// The pen covers offsets pen_lo..pen_hi around each pixel of the path: centred for odd widths,
// half a pixel up and left for even ones.
long long pen_lo(const Canvas& c) {
  return -(c.line_width / 2);
}
long long pen_hi(const Canvas& c) {
  return pen_lo(c) + c.line_width - 1;
}

// Cuts the segment to the square |x|, |y| <= guard (Liang-Barsky). False when nothing is left.
bool clip_to_guard(long long& x0, long long& y0, long long& x1, long long& y1) {
  const long double ax = x0, ay = y0;
  const long double dx = static_cast<long double>(x1) - ax;
  const long double dy = static_cast<long double>(y1) - ay;
  long double t0 = 0, t1 = 1;
  const long double g = guard;
  const std::array<long double, 4> p = {-dx, dx, -dy, dy};
  const std::array<long double, 4> q = {ax + g, g - ax, ay + g, g - ay};
  for (std::size_t k = 0; k < 4; ++k) {
    if (p[k] == 0) {
      if (q[k] < 0) return false;
      continue;
    }
    const long double r = q[k] / p[k];
    if (p[k] < 0) {
      t0 = std::max(t0, r);
    } else {
      t1 = std::min(t1, r);
    }
  }
  if (t0 > t1) return false;
  const auto at = [](long double a, long double d, long double t) {
    return std::clamp(round_to_long(a + t * d), -guard, guard);
  };
  const long long nx0 = at(ax, dx, t0), ny0 = at(ay, dy, t0);
  x1 = at(ax, dx, t1);
  y1 = at(ay, dy, t1);
  x0 = nx0;
  y0 = ny0;
  return true;
}

// Draws the line from (x0, y0) towards (x1, y1), leaving out the end point, with the current
// pen. The path is Bresenham's: along the major axis one pixel per step, the minor coordinate
// rounded to nearest (ties away from the start). Only the part that can reach the canvas is
// walked, so a line from far outside costs no more than one across it.
void draw_line(Canvas& c, long long x0, long long y0, long long x1, long long y1) {
  const auto beyond = [](long long v) { return v < -guard || v > guard; };
  const bool far = beyond(x0) || beyond(y0) || beyond(x1) || beyond(y1);
  if (far && !clip_to_guard(x0, y0, x1, y1)) return;

  // Work in (major, minor) coordinates; `swap` maps them back to (x, y).
  const bool swap = std::llabs(y1 - y0) > std::llabs(x1 - x0);
  const long long a0 = swap ? y0 : x0, b0 = swap ? x0 : y0;
  const long long a1 = swap ? y1 : x1, b1 = swap ? x1 : y1;
  const long long da = std::llabs(a1 - a0), db = std::llabs(b1 - b0);
  if (da == 0) return;  // a zero-length line has no pixels once its end is left out
  const long long sa = a1 > a0 ? 1 : -1, sb = b1 > b0 ? 1 : -1;
  const long long steps = da;  // pixels 0 .. steps - 1
  const auto minor_at = [&](long long i) { return b0 + sb * ((2 * i * db + da) / (2 * da)); };

  const long long lo = pen_lo(c), hi = pen_hi(c);
  const long long major_size = swap ? c.height : c.width;
  const long long minor_size = swap ? c.width : c.height;
  const long long a_last = a0 + sa * (steps - 1);
  const long long first = std::max(std::min(a0, a_last) + lo, 0LL);
  const long long last = std::min(std::max(a0, a_last) + hi, major_size - 1);
  for (long long a = first; a <= last; ++a) {
    // Path pixels whose pen reaches line `a` of the major axis: a - hi <= a0 + sa i <= a - lo.
    long long i_lo = sa > 0 ? a - hi - a0 : a0 - (a - lo);
    long long i_hi = sa > 0 ? a - lo - a0 : a0 - (a - hi);
    i_lo = std::max(i_lo, 0LL);
    i_hi = std::min(i_hi, steps - 1);
    if (i_lo > i_hi) continue;
    const long long m0 = minor_at(i_lo), m1 = minor_at(i_hi);
    const long long b_lo = std::max(std::min(m0, m1) + lo, 0LL);
    const long long b_hi = std::min(std::max(m0, m1) + hi, minor_size - 1);
    for (long long b = b_lo; b <= b_hi; ++b) {
      if (swap) {
        pixel_at(c, b, a) = c.foreground;
      } else {
        pixel_at(c, a, b) = c.foreground;
      }
    }
  }
}

void put_u16(unsigned char* p, unsigned v) {
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}
void put_u32(unsigned char* p, unsigned long v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<unsigned char>((v >> (8 * k)) & 0xFF);
}

}  // namespace

void init_canvas(Canvas& canvas, int width, int height, Window* window) {
  std::lock_guard guard_lock(canvas.lock);
  canvas.width = std::max(width, 0);
  canvas.height = std::max(height, 0);
  canvas.pixels.assign(
      static_cast<std::size_t>(canvas.width) * static_cast<std::size_t>(canvas.height),
      dialog_face);
  canvas.foreground = black;
  canvas.background = dialog_face;
  canvas.pos_x = 0;
  canvas.pos_y = 0;
  canvas.line_width = 1;
  canvas.font.reset();
  canvas.font_key.clear();
  canvas.window = window;
}

Colour rgb(int red, int green, int blue) {
  const auto clamp = [](int v) { return std::clamp(v, 0, 255); };
  return clamp(red) + 256 * clamp(green) + 65536 * clamp(blue);
}

void set_foreground(Canvas& canvas, Colour colour) {
  std::lock_guard guard_lock(canvas.lock);
  canvas.foreground = colour_value(colour);
}

void set_background(Canvas& canvas, Colour colour) {
  std::lock_guard guard_lock(canvas.lock);
  canvas.background = colour_value(colour);
}

void clear_canvas(Canvas& canvas) {
  std::lock_guard guard_lock(canvas.lock);
  std::fill(canvas.pixels.begin(), canvas.pixels.end(), canvas.background);
  canvas.pos_x = 0;
  canvas.pos_y = 0;
}

void set_font(Canvas& canvas, std::string_view face, int points, bool bold) {
  std::lock_guard guard_lock(canvas.lock);
  std::string key(face);
  key += '/' + std::to_string(points) + (bold ? "/bold" : "/regular");
  if (canvas.font && canvas.font_key == key) return;
  canvas.font = load_font(face, points, bold);
  canvas.font_key = std::move(key);
}

void move_to(Canvas& canvas, long double x, long double y) {
  std::lock_guard guard_lock(canvas.lock);
  long long px = 0, py = 0;
  if (!to_pixel(x, px) || !to_pixel(y, py)) return;
  canvas.pos_x = px;
  canvas.pos_y = py;
}

void line_to(Canvas& canvas, long double x, long double y) {
  std::lock_guard guard_lock(canvas.lock);
  long long px = 0, py = 0;
  if (!to_pixel(x, px) || !to_pixel(y, py)) return;
  draw_line(canvas, canvas.pos_x, canvas.pos_y, px, py);
  canvas.pos_x = px;
  canvas.pos_y = py;
}

void print_text(Canvas& canvas, std::string_view text) {
  std::lock_guard guard_lock(canvas.lock);
  if (!canvas.font) return;
  const Font& font = *canvas.font;
  const long long height = font.line_height();
  const long long x0 = canvas.pos_x, y0 = canvas.pos_y;
  if (x0 > -far_off && x0 < far_off && y0 > -far_off && y0 < far_off) {
    const long long width = font.text_width(text);
    fill_rect(canvas, x0, x0 + width - 1, y0, y0 + height - 1, canvas.background);
    const Colour ink = canvas.foreground;
    font.render(text, [&](int x, int y, int coverage) {
      // Glyph pixels spilling out of the cell are cut off, as the cell is the text's box.
      if (coverage < coverage_threshold || x < 0 || y < 0 || x >= width || y >= height) return;
      if (inside(canvas, x0 + x, y0 + y)) pixel_at(canvas, x0 + x, y0 + y) = ink;
    });
  }
  canvas.pos_x = 0;
  canvas.pos_y = y0 > std::numeric_limits<long long>::max() - height
                     ? std::numeric_limits<long long>::max()
                     : y0 + height;
}

TextSize text_size(Canvas& canvas, std::string_view text) {
  std::lock_guard guard_lock(canvas.lock);
  if (!canvas.font) return {};
  return {static_cast<long double>(canvas.font->text_width(text)),
          static_cast<long double>(canvas.font->line_height())};
}

Colour get_pixel(Canvas& canvas, long double x, long double y) {
  std::lock_guard guard_lock(canvas.lock);
  long long px = 0, py = 0;
  if (!to_pixel(x, px) || !to_pixel(y, py) || !inside(canvas, px, py)) return -1;
  return pixel_at(canvas, px, py);
}

void set_pixel(Canvas& canvas, long double x, long double y, Colour colour) {
  std::lock_guard guard_lock(canvas.lock);
  long long px = 0, py = 0;
  if (!to_pixel(x, px) || !to_pixel(y, py)) return;
  if (inside(canvas, px, py)) pixel_at(canvas, px, py) = colour_value(colour);
  canvas.pos_x = px;
  canvas.pos_y = py;
}

void draw_box(Canvas& canvas, long double x1, long double y1, long double x2, long double y2) {
  std::lock_guard guard_lock(canvas.lock);
  long long l = 0, t = 0, r = 0, b = 0;
  if (!to_pixel(x1, l) || !to_pixel(y1, t) || !to_pixel(x2, r) || !to_pixel(y2, b)) return;
  const auto near = [](long long v) { return std::clamp(v, -far_off, far_off); };
  l = near(l), t = near(t), r = near(r), b = near(b);
  if (r < l) std::swap(l, r);
  if (b < t) std::swap(t, b);
  if (l == r || t == b) return;
  // The outline runs through columns l and r - 1 and rows t and b - 1; each side is the
  // pen swept along it, a rectangle.
  const long long lo = pen_lo(canvas), hi = pen_hi(canvas);
  const Colour ink = canvas.foreground;
  fill_rect(canvas, l + lo, r - 1 + hi, t + lo, t + hi, ink);
  fill_rect(canvas, l + lo, r - 1 + hi, b - 1 + lo, b - 1 + hi, ink);
  fill_rect(canvas, l + lo, l + hi, t + lo, b - 1 + hi, ink);
  fill_rect(canvas, r - 1 + lo, r - 1 + hi, t + lo, b - 1 + hi, ink);
}

void set_line_width(Canvas& canvas, int n) {
  std::lock_guard guard_lock(canvas.lock);
  canvas.line_width = std::clamp(n, 1, max_line_width);
}

void redraw(Canvas& canvas) {
  std::lock_guard guard_lock(canvas.lock);
  if (canvas.window != nullptr) canvas.window->present(canvas.pixels.data());
}

WriteOutcome save_bitmap(Canvas& canvas, const std::string& path) {
  if (path.empty()) return {};
  std::string bytes;
  {
    std::lock_guard guard_lock(canvas.lock);
    const std::size_t width = static_cast<std::size_t>(canvas.width);
    const std::size_t height = static_cast<std::size_t>(canvas.height);
    const std::size_t row_bytes = 4 * ((24 * width + 31) / 32);
    const std::size_t data_bytes = row_bytes * height;
    bytes.assign(54 + data_bytes, '\0');
    auto* file_header = reinterpret_cast<unsigned char*>(bytes.data());
    file_header[0] = 'B';
    file_header[1] = 'M';
    put_u32(&file_header[2], bytes.size());
    put_u32(&file_header[10], 54);
    unsigned char* info_header = file_header + 14;
    put_u32(&info_header[0], 40);
    put_u32(&info_header[4], width);
    put_u32(&info_header[8], height);
    put_u16(&info_header[12], 1);
    put_u16(&info_header[14], 24);
    unsigned char* data = file_header + 54;
    for (std::size_t row = 0; row < height; ++row) {
      unsigned char* out = data + (height - 1 - row) * row_bytes;
      for (std::size_t x = 0; x < width; ++x) {
        const Colour c = canvas.pixels[row * width + x];
        *out++ = static_cast<unsigned char>((c >> 16) & 0xFF);
        *out++ = static_cast<unsigned char>((c >> 8) & 0xFF);
        *out++ = static_cast<unsigned char>(c & 0xFF);
      }
    }
  }
  // The whole picture replaces the old one at once: a failed or killed save leaves the previous
  // picture, never part of one, and a link or FIFO under the name is replaced, not written to.
  return replace_file(path, bytes);
}

}  // namespace lyap
