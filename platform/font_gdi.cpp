// GDI font backend. Every glyph of the 8-bit character set is drawn once, when the font is
// loaded, into a device-independent bitmap and kept as the pixels it covers, so drawing text
// touches no GDI state and a loaded font holds no GDI objects.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/font.hpp"
#include "platform/text_win32.hpp"

namespace lyap {

namespace {

constexpr int dots_per_inch = 96;

struct GlyphPixel {
  int x = 0;  // from the pen position
  int y = 0;  // from the top of the cell
  int coverage = 0;
};

struct Glyph {
  int advance = 0;
  std::vector<GlyphPixel> pixels;
};

class GdiFont final : public Font {
 public:
  GdiFont(int line_height, int char_height, std::array<Glyph, 256> glyphs)
      : line_height_(line_height), char_height_(char_height), glyphs_(std::move(glyphs)) {}

  int line_height() const override { return line_height_; }
  int char_height() const override { return char_height_; }

  int text_width(std::string_view text) const override {
    int width = 0;
    for (const char c : text) width += glyphs_[static_cast<unsigned char>(c)].advance;
    return width;
  }

  void render(std::string_view text,
              const std::function<void(int x, int y, int coverage)>& plot) const override {
    int pen = 0;
    for (const char c : text) {
      const Glyph& g = glyphs_[static_cast<unsigned char>(c)];
      for (const GlyphPixel& p : g.pixels) plot(pen + p.x, p.y, p.coverage);
      pen += g.advance;
    }
  }

 private:
  int line_height_;
  int char_height_;
  std::array<Glyph, 256> glyphs_;
};

// A memory device context drawing into a 32-bit top-down DIB section, white text on black.
class Surface {
 public:
  Surface(int width, int height) : width_(width), height_(height) {
    dc_ = CreateCompatibleDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<const std::uint32_t*>(bits);
    if (dc_ != nullptr && bitmap_ != nullptr) old_bitmap_ = SelectObject(dc_, bitmap_);
  }
  ~Surface() {
    if (old_bitmap_ != nullptr) SelectObject(dc_, old_bitmap_);
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
    if (dc_ != nullptr) DeleteDC(dc_);
  }
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  bool ok() const { return old_bitmap_ != nullptr && bits_ != nullptr; }
  HDC dc() const { return dc_; }
  int width() const { return width_; }
  int height() const { return height_; }
  // The brightest channel: antialiasing, where the system forces it, gives grey, and
  // ClearType gives coloured fringes.
  int coverage(int x, int y) const {
    const std::uint32_t p = bits_[static_cast<std::size_t>(y) * width_ + x];
    return static_cast<int>(std::max({p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF}));
  }

 private:
  int width_;
  int height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_bitmap_ = nullptr;
  const std::uint32_t* bits_ = nullptr;
};

// Draws one character with its pen at `origin` and records the pixels it covers, a margin of
// a whole cell on either side catching overhangs.
Glyph render_glyph(Surface& surface, int origin, unsigned char c) {
  Glyph g;
  const std::wstring wide = wide_from_cp1252(std::string(1, static_cast<char>(c)));
  if (wide.size() != 1) return g;
  SIZE size{};
  if (GetTextExtentPoint32W(surface.dc(), wide.c_str(), 1, &size)) g.advance = size.cx;
  RECT all{0, 0, surface.width(), surface.height()};
  FillRect(surface.dc(), &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  TextOutW(surface.dc(), origin, 0, wide.c_str(), 1);
  GdiFlush();
  for (int y = 0; y < surface.height(); ++y) {
    for (int x = 0; x < surface.width(); ++x) {
      const int coverage = surface.coverage(x, y);
      if (coverage != 0) g.pixels.push_back({x - origin, y, coverage});
    }
  }
  return g;
}

// The font `spec` gets from the font mapper, all glyphs drawn; null when it cannot be made.
std::unique_ptr<GdiFont> make_font(const LOGFONTW& spec, int em) {
  const HFONT font = CreateFontIndirectW(&spec);
  if (font == nullptr) return nullptr;
  std::unique_ptr<GdiFont> result;
  {
    // Sized from the font's own metrics, so no glyph is cut off.
    Surface probe(1, 1);
    TEXTMETRICW metrics{};
    bool measured = false;
    if (probe.dc() != nullptr) {
      const HGDIOBJ old = SelectObject(probe.dc(), font);
      measured = GetTextMetricsW(probe.dc(), &metrics) != 0;
      SelectObject(probe.dc(), old);
    }
    const int cell = static_cast<int>(metrics.tmHeight);
    const int margin = cell + static_cast<int>(metrics.tmOverhang);
    Surface surface(static_cast<int>(metrics.tmMaxCharWidth) + 2 * margin, std::max(cell, 1));
    if (measured && cell > 0 && surface.ok()) {
      const HGDIOBJ old = SelectObject(surface.dc(), font);
      SetTextColor(surface.dc(), RGB(255, 255, 255));
      SetBkMode(surface.dc(), TRANSPARENT);
      SetTextAlign(surface.dc(), TA_LEFT | TA_TOP | TA_NOUPDATECP);
      std::array<Glyph, 256> glyphs;
      for (int c = 0; c < 256; ++c) {
        glyphs[static_cast<std::size_t>(c)] =
            render_glyph(surface, margin, static_cast<unsigned char>(c));
      }
      SelectObject(surface.dc(), old);
      // A scalable face is scaled to the em asked for; the cell less its internal leading can
      // miss that by a pixel where GDI rounds ascent and descent each on its own (wine does).
      const bool scalable = (metrics.tmPitchAndFamily & (TMPF_TRUETYPE | TMPF_VECTOR)) != 0;
      const int char_height = scalable ? em : cell - static_cast<int>(metrics.tmInternalLeading);
      result = std::make_unique<GdiFont>(cell, char_height, std::move(glyphs));
    }
  }
  DeleteObject(font);
  return result;
}

}  // namespace

std::unique_ptr<Font> load_font(std::string_view face, int points, bool bold) {
  const int pixels = static_cast<int>(std::lround(dots_per_inch * points / 72.0));
  LOGFONTW spec{};
  // Negative: the character height, cell less internal leading, as a size in points asks for.
  spec.lfHeight = -pixels;
  spec.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  spec.lfCharSet = DEFAULT_CHARSET;
  spec.lfOutPrecision = OUT_DEFAULT_PRECIS;
  spec.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  // Crisp glyphs whose pixels are all foreground, as the pictures were designed with.
  spec.lfQuality = NONANTIALIASED_QUALITY;
  // Where the face is missing, the font mapper takes a plain sans-serif one of this weight.
  spec.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
  const std::wstring name = wide_from_cp1252(face);
  name.copy(spec.lfFaceName, LF_FACESIZE - 1);

  return make_font(spec, pixels);
}

}  // namespace lyap
