// Glyph rendering for the canvas's text. font_freetype.cpp renders with FreeType, choosing the
// face through fontconfig; font_null.cpp has no fonts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace lyap {

struct Font {
  virtual ~Font() = default;
  // Cell height (line height) and the width of `text` in pixels. 8-bit text (Windows-1252).
  virtual int line_height() const = 0;
  virtual int text_width(std::string_view text) const = 0;
  // Character height: the cell height less the internal leading (the em size in pixels), what
  // a font size in points asks for.
  virtual int char_height() const { return line_height(); }
  // Calls plot(x, y, coverage) for every glyph pixel of `text` drawn with the top-left corner
  // of its cell at (0, 0); coverage 1..255.
  virtual void render(std::string_view text,
                      const std::function<void(int x, int y, int coverage)>& plot) const = 0;
};

// The face asked for when installed, else a plain sans-serif face of the same weight; size in
// points at 96 dots per inch. Null when no font can be found.
std::unique_ptr<Font> load_font(std::string_view face, int points, bool bold);

}  // namespace lyap
