// FreeType font backend, with fontconfig choosing the face. Every glyph of the 8-bit character
// set is rendered once when the font is loaded, so drawing text touches no library state and a
// loaded font holds no FreeType resources.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/font.hpp"

namespace lyap {

namespace {

constexpr int dots_per_inch = 96;

// Windows-1252 0x80..0x9F; its five unassigned codes stand for themselves, as on Windows.
constexpr std::array<char32_t, 32> cp1252_80_9f = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t code_point(unsigned char c) {
  return c >= 0x80 && c < 0xA0 ? cp1252_80_9f[c - 0x80] : c;
}

struct Glyph {
  int advance = 0;
  int left = 0;  // bitmap offset from the pen position
  int top = 0;   // bitmap top above the baseline
  int width = 0;
  int rows = 0;
  std::vector<unsigned char> coverage;  // rows top first
};

class FreeTypeFont final : public Font {
 public:
  FreeTypeFont(int ascent, int descent, int char_height, std::array<Glyph, 256> glyphs)
      : ascent_(ascent), descent_(descent), char_height_(char_height), glyphs_(std::move(glyphs)) {}

  int line_height() const override { return ascent_ + descent_; }
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
      for (int r = 0; r < g.rows; ++r) {
        for (int k = 0; k < g.width; ++k) {
          const int coverage = g.coverage[static_cast<std::size_t>(r * g.width + k)];
          if (coverage != 0) plot(pen + g.left + k, ascent_ - g.top + r, coverage);
        }
      }
      pen += g.advance;
    }
  }

 private:
  int ascent_;
  int descent_;
  int char_height_;
  std::array<Glyph, 256> glyphs_;
};

// The fontconfig configuration, loaded on first use and released at exit: fontconfig's own
// default configuration would stay allocated for good, which leak checkers rightly report.
FcConfig* font_config() {
  struct Holder {
    FcConfig* config = FcInitLoadConfigAndFonts();
    ~Holder() {
      if (config != nullptr) FcConfigDestroy(config);
    }
  };
  static Holder holder;
  return holder.config;
}

bool same_family(const char* a, std::string_view b) {
  if (std::string_view(a).size() != b.size()) return false;
  for (std::size_t i = 0; i < b.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The file and face index fontconfig picks for `family`. Unless `any_family`, only a face of
// that very family will do: fontconfig always answers with something, and a stand-in face is
// chosen here, not by its substitution rules.
bool match_face(std::string_view family, bool bold, bool any_family, std::string& file,
                int& index) {
  FcConfig* config = font_config();
  if (config == nullptr) return false;
  FcPattern* pattern = FcPatternCreate();
  if (pattern == nullptr) return false;
  const std::string name(family);
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  FcPatternDestroy(pattern);
  if (match == nullptr) return false;

  bool found = any_family;
  FcChar8* value = nullptr;
  for (int n = 0; !found && FcPatternGetString(match, FC_FAMILY, n, &value) == FcResultMatch; ++n) {
    found = same_family(reinterpret_cast<const char*>(value), family);
  }
  int face_index = 0;
  if (found && FcPatternGetString(match, FC_FILE, 0, &value) == FcResultMatch) {
    file = reinterpret_cast<const char*>(value);
    if (FcPatternGetInteger(match, FC_INDEX, 0, &face_index) != FcResultMatch) face_index = 0;
    index = face_index;
  } else {
    found = false;
  }
  FcPatternDestroy(match);
  return found;
}

// Sizes the face so that its em, the character height, is `pixels`. A bitmap-only face takes
// the strike nearest to that. Returns the character height obtained, 0 on failure.
int size_face(FT_Face face, int pixels) {
  if (FT_IS_SCALABLE(face))
    return FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)) == 0 ? pixels : 0;
  if (face->num_fixed_sizes <= 0) return 0;
  int best = 0;
  for (int i = 1; i < face->num_fixed_sizes; ++i) {
    if (std::abs(face->available_sizes[i].height - pixels) <
        std::abs(face->available_sizes[best].height - pixels)) {
      best = i;
    }
  }
  if (FT_Select_Size(face, best) != 0) return 0;
  return static_cast<int>((face->size->metrics.y_ppem));
}

Glyph render_glyph(FT_Face face, char32_t code) {
  Glyph g;
  // Monochrome rendering with full hinting: crisp glyphs whose pixels are all foreground, like
  // the bitmap face the pictures were designed with.
  if (FT_Load_Char(face, code, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) return g;
  const FT_GlyphSlot slot = face->glyph;
  const FT_Bitmap& bitmap = slot->bitmap;
  g.advance = static_cast<int>(slot->advance.x >> 6);
  g.left = slot->bitmap_left;
  g.top = slot->bitmap_top;
  if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO && bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) {
    return g;  // colour bitmaps and the like: an empty glyph that still advances
  }
  g.width = static_cast<int>(bitmap.width);
  g.rows = static_cast<int>(bitmap.rows);
  g.coverage.assign(static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.rows), 0);
  for (int r = 0; r < g.rows; ++r) {
    const unsigned char* row = bitmap.buffer + static_cast<std::ptrdiff_t>(r) * bitmap.pitch;
    for (int k = 0; k < g.width; ++k) {
      unsigned char coverage = 0;
      if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
        coverage = (row[k / 8] & (0x80 >> (k % 8))) != 0 ? 255 : 0;
      } else {
        coverage = static_cast<unsigned char>(row[k] * 255 / std::max(bitmap.num_grays - 1, 1));
      }
      g.coverage[static_cast<std::size_t>(r * g.width + k)] = coverage;
    }
  }
  return g;
}

// Ascent and descent of the cell. TrueType faces give the Windows cell (usWinAscent and
// usWinDescent), the one the pictures' label positions were made for; others their metrics.
void cell_metrics(FT_Face face, int& ascent, int& descent) {
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (FT_IS_SCALABLE(face) && os2 != nullptr && os2->version != 0xFFFF &&
      os2->usWinAscent + os2->usWinDescent > 0 && face->units_per_EM > 0) {
    const double scale = static_cast<double>(face->size->metrics.y_ppem) / face->units_per_EM;
    ascent = static_cast<int>(std::lround(os2->usWinAscent * scale));
    descent = static_cast<int>(std::lround(os2->usWinDescent * scale));
    return;
  }
  ascent = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
  descent = static_cast<int>((-face->size->metrics.descender + 63) >> 6);
}

}  // namespace

std::unique_ptr<Font> load_font(std::string_view face_name, int points, bool bold) {
  std::string file;
  int index = 0;
  if (!match_face(face_name, bold, false, file, index) &&
      !match_face("DejaVu Sans", bold, false, file, index) &&
      !match_face("sans-serif", bold, true, file, index)) {
    return nullptr;
  }

  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) return nullptr;
  FT_Face face = nullptr;
  std::unique_ptr<Font> font;
  if (FT_New_Face(library, file.c_str(), index, &face) == 0) {
    const int pixels = static_cast<int>(std::lround(dots_per_inch * points / 72.0));
    const int char_height = size_face(face, std::max(pixels, 1));
    if (char_height > 0) {
      int ascent = 0, descent = 0;
      cell_metrics(face, ascent, descent);
      std::array<Glyph, 256> glyphs;
      for (int c = 0; c < 256; ++c) {
        glyphs[static_cast<std::size_t>(c)] =
            render_glyph(face, code_point(static_cast<unsigned char>(c)));
      }
      font = std::make_unique<FreeTypeFont>(ascent, descent, char_height, std::move(glyphs));
    }
    FT_Done_Face(face);
  }
  FT_Done_FreeType(library);
  return font;
}

}  // namespace lyap
