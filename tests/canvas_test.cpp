#include "graphics/canvas.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "deadline.hpp"
#include "scratch.hpp"

namespace lyap {
namespace {

constexpr int canvas_w = 440;
constexpr int canvas_h = 424;
constexpr long double inf = std::numeric_limits<long double>::infinity();
constexpr long double nan = std::numeric_limits<long double>::quiet_NaN();
constexpr Colour dialog_grey = 240 + 256 * 240 + 65536 * 240;

using Pixel = std::pair<int, int>;

// Black on white, as the program sets the canvas up before its first picture.
void start_canvas(Canvas& canvas, int width = canvas_w, int height = canvas_h) {
  init_canvas(canvas, width, height, nullptr);
  set_foreground(canvas, black);
  set_background(canvas, white);
  clear_canvas(canvas);
}

Colour at(const Canvas& canvas, int x, int y) {
  return canvas.pixels[static_cast<std::size_t>(y) * canvas.width + x];
}

// The pixels of the canvas that are not white.
std::set<Pixel> inked(const Canvas& canvas) {
  std::set<Pixel> result;
  for (int y = 0; y < canvas.height; ++y) {
    for (int x = 0; x < canvas.width; ++x) {
      if (at(canvas, x, y) != white) result.insert({x, y});
    }
  }
  return result;
}

std::set<Pixel> rect(int x_lo, int x_hi, int y_lo, int y_hi) {
  std::set<Pixel> result;
  for (int y = y_lo; y <= y_hi; ++y) {
    for (int x = x_lo; x <= x_hi; ++x) result.insert({x, y});
  }
  return result;
}

std::set<Pixel> unite(std::set<Pixel> a, const std::set<Pixel>& b) {
  a.insert(b.begin(), b.end());
  return a;
}

TEST(Canvas, RgbClampsEachComponent) {
  struct Case {
    int r, g, b;
    Colour expected;
  };
  const Case cases[] = {
      {-75, -75, -75, 0},
      {220, 220, 220, 14474460},
      {255, 255, 255, white},
      {0, 0, 0, black},
      {300, 0, 0, 255},
      {0, 256, -1, 65280},
      {1, 2, 3, 1 + 512 + 196608},
      {-1, 999, 128, 65280 + 8388608},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rgb(c.r, c.g, c.b), c.expected) << c.r << ' ' << c.g << ' ' << c.b;
  }
}

TEST(Canvas, StartsInTheDialogFaceColourWithDefaultState) {
  Canvas canvas;
  init_canvas(canvas, canvas_w, canvas_h, nullptr);
  ASSERT_EQ(canvas.pixels.size(), static_cast<std::size_t>(canvas_w * canvas_h));
  EXPECT_TRUE(std::all_of(canvas.pixels.begin(), canvas.pixels.end(),
                          [](Colour c) { return c == dialog_grey; }));
  EXPECT_EQ(canvas.foreground, black);
  EXPECT_EQ(canvas.background, dialog_grey);
  EXPECT_EQ(canvas.line_width, 1);
  EXPECT_EQ(canvas.pos_x, 0);
  EXPECT_EQ(canvas.pos_y, 0);
  EXPECT_EQ(canvas.font, nullptr);

  // Setting the colours leaves the canvas as it is until it is cleared.
  set_foreground(canvas, black);
  set_background(canvas, white);
  EXPECT_EQ(get_pixel(canvas, 100, 100), dialog_grey);
  move_to(canvas, 5, 6);
  clear_canvas(canvas);
  EXPECT_EQ(inked(canvas), std::set<Pixel>{});
  EXPECT_EQ(canvas.pos_x, 0);
  EXPECT_EQ(canvas.pos_y, 0);
}

TEST(Canvas, CoordinatesRoundToNearestWithHalvesToEven) {
  struct Case {
    long double x, y;
    long long px, py;
  };
  const Case cases[] = {
      {2.5L, 3.5L, 2, 4},     {-0.5L, 0.5L, 0, 0},         {1.4999L, -1.5L, 1, -2},
      {10.5L, 11.5L, 10, 12}, {439.5L, 423.49L, 440, 423}, {-2.5L, -3.5L, -2, -4},
  };
  for (const Case& c : cases) {
    Canvas canvas;
    start_canvas(canvas);
    move_to(canvas, c.x, c.y);
    EXPECT_EQ(canvas.pos_x, c.px) << "move_to " << c.x;
    EXPECT_EQ(canvas.pos_y, c.py) << "move_to " << c.y;
    set_pixel(canvas, c.x, c.y, black);
    std::set<Pixel> expected;
    if (c.px >= 0 && c.px < canvas_w && c.py >= 0 && c.py < canvas_h) {
      expected.insert({static_cast<int>(c.px), static_cast<int>(c.py)});
    }
    EXPECT_EQ(inked(canvas), expected) << "set_pixel " << c.x << ' ' << c.y;
  }
}

TEST(Canvas, GetPixelOutsideTheCanvasIsNoColour) {
  Canvas canvas;
  start_canvas(canvas);
  const std::pair<long double, long double> outside[] = {
      {-1, 0},    {0, -1},     {440, 0}, {0, 424},     {-0.6L, 0}, {439.6L, 5}, {5, 423.6L},
      {1e99L, 0}, {0, -1e99L}, {inf, 0}, {-inf, -inf}, {nan, 0},   {0, nan},    {nan, nan},
  };
  for (const auto& [x, y] : outside) EXPECT_EQ(get_pixel(canvas, x, y), -1) << x << ' ' << y;

  set_pixel(canvas, 0, 0, rgb(1, 2, 3));
  set_pixel(canvas, 439, 422, rgb(4, 5, 6));
  EXPECT_EQ(get_pixel(canvas, -0.5L, 0.4L), rgb(1, 2, 3));
  EXPECT_EQ(get_pixel(canvas, 439.4L, 422.5L), rgb(4, 5, 6));  // 422.5 goes to 422
}

TEST(Canvas, SetPixelReadsBackAndMovesThePosition) {
  Canvas canvas;
  start_canvas(canvas);
  for (const Colour c : {black, white, rgb(220, 220, 220), rgb(1, 0, 0), rgb(0, 0, 255)}) {
    set_pixel(canvas, 7, 9, c);
    EXPECT_EQ(get_pixel(canvas, 7, 9), c);
  }
  // A pixel always holds a colour, so it never reads as "no colour".
  set_pixel(canvas, 7, 9, -1);
  EXPECT_GE(get_pixel(canvas, 7, 9), 0);

  const auto before = canvas.pixels;
  set_pixel(canvas, -3, 500, black);
  EXPECT_EQ(canvas.pixels, before);
  EXPECT_EQ(canvas.pos_x, -3);
  EXPECT_EQ(canvas.pos_y, 500);

  // A coordinate that is not a number names no pixel: nothing happens at all.
  for (const auto& [x, y] : {std::pair{nan, 5.0L}, {5.0L, nan}}) {
    set_pixel(canvas, x, y, black);
    move_to(canvas, x, y);
    line_to(canvas, x, y);
    EXPECT_EQ(canvas.pixels, before);
    EXPECT_EQ(canvas.pos_x, -3);
    EXPECT_EQ(canvas.pos_y, 500);
  }
}

struct LineCase {
  const char* name;
  int width;
  long double x0, y0, x1, y1;
  std::set<Pixel> expected;
};

TEST(Canvas, LinesLeaveOutTheirEndPoint) {
  std::set<Pixel> column_40;
  for (int y = 0; y <= 10; ++y) column_40.insert({40, y});
  std::set<Pixel> diagonal;
  for (int k = 0; k < canvas_h; ++k) diagonal.insert({k, k});
  const LineCase cases[] = {
      {"vertical to 11.1", 1, 40, 0, 40, 11.1L, column_40},
      {"rightwards", 1, 5, 5, 10, 5, rect(5, 9, 5, 5)},
      {"leftwards", 1, 10, 5, 5, 5, rect(6, 10, 5, 5)},
      {"upwards", 1, 3, 9, 3, 6, rect(3, 3, 7, 9)},
      {"diagonal", 1, 0, 0, 4, 4, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
      {"shallow", 1, 0, 0, 6, 2, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 2}}},
      {"steep backwards", 1, 2, 6, 0, 0, {{2, 6}, {2, 5}, {1, 4}, {1, 3}, {1, 2}, {0, 1}}},
      {"zero length", 1, 8, 8, 8, 8, {}},
      {"rounded ends", 1, 2.5L, 3.5L, 5.5L, 3.5L, rect(2, 5, 4, 4)},
      {"across the canvas", 1, -1000, 3, 1000, 3, rect(0, 439, 3, 3)},
      {"from afar", 1, -1e99L, 7, 1e99L, 7, rect(0, 439, 7, 7)},
      {"infinite", 1, 0, 0, inf, 0, rect(0, 439, 0, 0)},
      {"far diagonal", 1, -1e12L, -1e12L, 1e12L, 1e12L, diagonal},
      {"wholly outside", 1, -50, -50, 500, -10, {}},
      {"two wide", 2, 5, 5, 9, 5, rect(4, 8, 4, 5)},
      {"three wide", 3, 10, 10, 10, 13, rect(9, 11, 9, 13)},
      {"two wide at the edge", 2, 0, 0, 0, 3, rect(0, 0, 0, 2)},
  };
  for (const LineCase& c : cases) {
    Canvas canvas;
    start_canvas(canvas);
    set_line_width(canvas, c.width);
    move_to(canvas, c.x0, c.y0);
    line_to(canvas, c.x1, c.y1);
    EXPECT_EQ(inked(canvas), c.expected) << c.name;
  }
}

TEST(Canvas, LineToMovesThePositionToItsEnd) {
  Canvas canvas;
  start_canvas(canvas);
  move_to(canvas, 10, 10);
  line_to(canvas, 20.5L, 10);
  EXPECT_EQ(canvas.pos_x, 20);
  line_to(canvas, 20, 30);  // continues from the last end: column 20 from row 10
  EXPECT_EQ(get_pixel(canvas, 20, 10), black);
  EXPECT_EQ(get_pixel(canvas, 20, 29), black);
  EXPECT_EQ(get_pixel(canvas, 20, 30), white);
  EXPECT_EQ(canvas.pos_y, 30);

  // The step curve of the end-of-run plot: a wide pen turning corners leaves no gap.
  start_canvas(canvas);
  set_line_width(canvas, 2);
  move_to(canvas, 40, 100);
  line_to(canvas, 60, 100);
  move_to(canvas, 60, 100);
  line_to(canvas, 60, 80);
  EXPECT_EQ(inked(canvas), unite(rect(39, 59, 99, 100), rect(59, 60, 80, 100)));
}

struct BoxCase {
  const char* name;
  int width;
  long double x1, y1, x2, y2;
  std::set<Pixel> expected;
};

TEST(Canvas, BoxesExcludeTheirRightAndBottomCoordinates) {
  const auto outline = [](int l, int r, int t, int b) {
    return unite(unite(rect(l, r, t, t), rect(l, r, b, b)),
                 unite(rect(l, l, t, b), rect(r, r, t, b)));
  };
  const BoxCase cases[] = {
      {"plot frame", 1, 40, 0, 440, 401, outline(40, 439, 0, 400)},
      {"corners swapped", 1, 440, 401, 40, 0, outline(40, 439, 0, 400)},
      {"small", 1, 3, 4, 6, 8, outline(3, 5, 4, 7)},
      {"one pixel", 1, 3, 4, 4, 5, {{3, 4}}},
      {"empty", 1, 3, 4, 3, 9, {}},
      {"rounded", 1, 2.5L, 3.5L, 6.5L, 7.5L, outline(2, 5, 4, 7)},
      {"two wide", 2, 10, 10, 20, 20,
       unite(rect(9, 19, 9, 10),
             unite(rect(9, 19, 18, 19), unite(rect(9, 10, 9, 19), rect(18, 19, 9, 19))))},
      {"round the world", 1, -1e99L, -inf, 1e99L, inf, {}},
      {"half off", 1, -1e99L, 10, 20, 1e99L, unite(rect(19, 19, 10, 423), rect(0, 19, 10, 10))},
  };
  for (const BoxCase& c : cases) {
    Canvas canvas;
    start_canvas(canvas);
    set_line_width(canvas, c.width);
    draw_box(canvas, c.x1, c.y1, c.x2, c.y2);
    EXPECT_EQ(inked(canvas), c.expected) << c.name;
  }
}

TEST(Canvas, PenWidthIsAtLeastOnePixel) {
  Canvas canvas;
  start_canvas(canvas);
  for (const int n : {0, -5}) {
    set_line_width(canvas, n);
    EXPECT_EQ(canvas.line_width, 1);
  }
}

// ---- Text ---------------------------------------------------------------------------------

// A canvas with the program's label font, or null when this machine has no fonts.
bool has_label_font(Canvas& canvas) {
  set_font(canvas, "MS Sans Serif", 12, true);
  return canvas.font != nullptr;
}

TEST(CanvasText, FontIsSixteenPixelsHighAndReused) {
  Canvas canvas;
  start_canvas(canvas);
  if (!has_label_font(canvas)) GTEST_SKIP() << "no fonts on this machine";
  EXPECT_EQ(canvas.font->char_height(), 16);
  const Font* first = canvas.font.get();
  set_font(canvas, "MS Sans Serif", 12, true);
  EXPECT_EQ(canvas.font.get(), first);
  set_font(canvas, "MS Sans Serif", 24, true);
  EXPECT_NE(canvas.font.get(), first);
  EXPECT_EQ(canvas.font->char_height(), 32);
}

TEST(CanvasText, SizeIsTheCellOfTheText) {
  Canvas canvas;
  start_canvas(canvas);
  if (!has_label_font(canvas)) GTEST_SKIP() << "no fonts on this machine";
  const TextSize x = text_size(canvas, "X");
  EXPECT_GT(x.width, 0);
  EXPECT_EQ(x.height, canvas.font->line_height());
  EXPECT_GE(x.height, 16);
  EXPECT_EQ(text_size(canvas, "XX").width, 2 * x.width);
  EXPECT_EQ(text_size(canvas, "").width, 0);
  EXPECT_GT(text_size(canvas, "Time (minutes)").width, text_size(canvas, "Time").width);
}

TEST(CanvasText, PrintsGlyphsOnAnOpaqueCellAndMovesToTheNextLine) {
  Canvas canvas;
  start_canvas(canvas);
  if (!has_label_font(canvas)) GTEST_SKIP() << "no fonts on this machine";
  const Colour ink = rgb(200, 0, 0);
  const Colour paper = rgb(0, 0, 100);
  set_foreground(canvas, ink);
  set_background(canvas, paper);
  const std::string label = "Time (minutes) -4";
  const TextSize size = text_size(canvas, label);
  const int w = static_cast<int>(size.width), h = static_cast<int>(size.height);
  move_to(canvas, 30, 50);
  print_text(canvas, label);

  int ink_pixels = 0, paper_pixels = 0;
  for (int y = 0; y < canvas_h; ++y) {
    for (int x = 0; x < canvas_w; ++x) {
      const bool in_cell = x >= 30 && x < 30 + w && y >= 50 && y < 50 + h;
      const Colour c = at(canvas, x, y);
      if (!in_cell) {
        ASSERT_EQ(c, white) << x << ' ' << y;
      } else if (c == ink) {
        ++ink_pixels;
      } else {
        ASSERT_EQ(c, paper) << x << ' ' << y;  // glyph pixels are exactly one of the colours
        ++paper_pixels;
      }
    }
  }
  EXPECT_GT(ink_pixels, 100);
  EXPECT_GT(paper_pixels, ink_pixels);
  EXPECT_EQ(canvas.pos_x, 0);
  EXPECT_EQ(canvas.pos_y, 50 + h);

  // The next print starts at the left edge of the following line.
  print_text(canvas, "X");
  bool below = false;
  for (int x = 0; x < static_cast<int>(text_size(canvas, "X").width); ++x) {
    below = below || at(canvas, x, 50 + h + h / 2) == ink;
  }
  EXPECT_TRUE(below);
}

TEST(CanvasText, TextFarOffTheCanvasDrawsNothing) {
  Canvas canvas;
  start_canvas(canvas);
  if (!has_label_font(canvas)) GTEST_SKIP() << "no fonts on this machine";
  const auto blank = canvas.pixels;
  const std::pair<long double, long double> places[] = {{1e99L, 10},  {-1e99L, 10}, {10, 1e99L},
                                                        {-inf, -inf}, {-1000, 10},  {10, 424}};
  for (const auto& [x, y] : places) {
    move_to(canvas, x, y);
    print_text(canvas, "40");
    EXPECT_EQ(canvas.pixels, blank) << x << ' ' << y;
  }
}

TEST(CanvasText, WithoutAFontTextIsSkipped) {
  Canvas canvas;
  start_canvas(canvas);
  ASSERT_EQ(canvas.font, nullptr);
  const auto blank = canvas.pixels;
  move_to(canvas, 10, 20);
  print_text(canvas, "Y");
  EXPECT_EQ(canvas.pixels, blank);
  EXPECT_EQ(canvas.pos_x, 10);
  EXPECT_EQ(canvas.pos_y, 20);
  const TextSize size = text_size(canvas, "Y");
  EXPECT_EQ(size.width, 0);
  EXPECT_EQ(size.height, 0);
}

// ---- Bitmap file --------------------------------------------------------------------------

class BitmapFile : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return scratch_.file(name); }

  testing::ScratchDir scratch_;
  const std::filesystem::path& dir_ = scratch_.path();
};

std::vector<unsigned char> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const std::string& path, std::size_t count, unsigned char value) {
  std::ofstream out(path, std::ios::binary);
  const std::vector<char> bytes(count, static_cast<char>(value));
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

unsigned long field(const std::vector<unsigned char>& bytes, std::size_t offset, int size) {
  unsigned long v = 0;
  for (int k = size - 1; k >= 0; --k) v = v * 256 + bytes.at(offset + static_cast<std::size_t>(k));
  return v;
}

TEST_F(BitmapFile, HeadersDescribeAnUncompressed24BitBottomUpImage) {
  Canvas canvas;
  start_canvas(canvas);
  save_bitmap(canvas, path("picture.bmp"));
  const auto bytes = read_bytes(path("picture.bmp"));
  ASSERT_EQ(bytes.size(), 559734u);
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  struct Field {
    std::size_t offset;
    int size;
    unsigned long value;
  };
  const Field fields[] = {{2, 4, 559734}, {6, 4, 0},  {10, 4, 54}, {14, 4, 40}, {18, 4, 440},
                          {22, 4, 424},   {26, 2, 1}, {28, 2, 24}, {30, 4, 0},  {34, 4, 0},
                          {38, 4, 0},     {42, 4, 0}, {46, 4, 0},  {50, 4, 0}};
  for (const Field& f : fields) EXPECT_EQ(field(bytes, f.offset, f.size), f.value) << f.offset;
}

TEST_F(BitmapFile, PixelsAreStoredBlueGreenRedFromTheBottomRowUp) {
  struct Case {
    int width, height, x, y;
  };
  // 440 pixels make rows of 1320 bytes, no padding; 5 pixels make 15 bytes padded to 16.
  const Case cases[] = {{440, 424, 0, 0}, {440, 424, 439, 423}, {440, 424, 17, 300},
                        {5, 3, 0, 0},     {5, 3, 4, 2},         {5, 3, 2, 1}};
  for (const Case& c : cases) {
    Canvas canvas;
    start_canvas(canvas, c.width, c.height);
    set_pixel(canvas, c.x, c.y, rgb(0x12, 0x34, 0x56));
    save_bitmap(canvas, path("pixels.bmp"));
    const auto bytes = read_bytes(path("pixels.bmp"));
    const std::size_t row_bytes = (3 * static_cast<std::size_t>(c.width) + 3) / 4 * 4;
    ASSERT_EQ(bytes.size(), 54 + row_bytes * c.height) << c.width;
    const std::size_t offset = 54 + (c.height - 1 - c.y) * row_bytes + 3 * c.x;
    EXPECT_EQ(bytes[offset], 0x56) << c.x << ' ' << c.y;
    EXPECT_EQ(bytes[offset + 1], 0x34);
    EXPECT_EQ(bytes[offset + 2], 0x12);
    // Everything else is white, and the padding zero.
    std::size_t other = 0;
    for (std::size_t row = 0; row < static_cast<std::size_t>(c.height); ++row) {
      for (std::size_t k = 0; k < row_bytes; ++k) {
        const std::size_t i = 54 + row * row_bytes + k;
        if (i >= offset && i < offset + 3) continue;
        EXPECT_EQ(bytes[i], k < 3 * static_cast<std::size_t>(c.width) ? 0xFF : 0x00) << i;
        ++other;
      }
    }
    EXPECT_EQ(other, row_bytes * c.height - 3);
  }
}

TEST_F(BitmapFile, ALongerFileIsCutToTheNewLength) {
  write_bytes(path("old.bmp"), 800000, 0xAA);
  Canvas canvas;
  start_canvas(canvas);
  save_bitmap(canvas, path("old.bmp"));
  const auto bytes = read_bytes(path("old.bmp"));
  ASSERT_EQ(bytes.size(), 559734u);
  EXPECT_EQ(field(bytes, 2, 4), 559734u);
  EXPECT_TRUE(
      std::all_of(bytes.begin() + 54, bytes.end(), [](unsigned char b) { return b == 0xFF; }));
}

TEST_F(BitmapFile, FailuresAreSilentAndCutNothing) {
  Canvas canvas;
  start_canvas(canvas);
  save_bitmap(canvas, path("missing/dir/picture.bmp"));
  EXPECT_FALSE(std::filesystem::exists(path("missing")));
  std::filesystem::create_directory(path("a directory"));
  save_bitmap(canvas, path("a directory"));
  EXPECT_TRUE(std::filesystem::is_directory(path("a directory")));

  save_bitmap(canvas, "");
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 1u);

  if (scratch_.permissions_bind()) {
    write_bytes(path("locked.bmp"), 600000, 0xAA);
    std::filesystem::permissions(path("locked.bmp"), std::filesystem::perms::owner_read);
    save_bitmap(canvas, path("locked.bmp"));
    EXPECT_EQ(std::filesystem::file_size(path("locked.bmp")), 600000u);
  }
}

// ---- Redraw across threads ----------------------------------------------------------------

// A window that, like the real one, copies each frame over to a thread of its own and returns
// only once that thread has taken it.
class RecordingWindow : public Window {
 public:
  RecordingWindow(int width, int height) : size_(static_cast<std::size_t>(width) * height) {
    ui_ = std::thread([this] { run(); });
  }
  ~RecordingWindow() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    ui_.join();
  }

  void present(const std::int32_t* pixels) override {
    std::unique_lock lock(mutex_);
    pending_.assign(pixels, pixels + size_);
    const std::uint64_t frame = ++handed_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return taken_ >= frame; });
  }

  std::vector<std::vector<std::int32_t>> frames() {
    std::lock_guard lock(mutex_);
    return frames_;
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return stopping_ || handed_ > taken_; });
      if (handed_ > taken_) {
        frames_.push_back(pending_);
        taken_ = handed_;
        changed_.notify_all();
      } else if (stopping_) {
        return;
      }
    }
  }

  const std::size_t size_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::int32_t> pending_;
  std::vector<std::vector<std::int32_t>> frames_;
  std::uint64_t handed_ = 0;
  std::uint64_t taken_ = 0;
  bool stopping_ = false;
  std::thread ui_;
};

TEST(CanvasRedraw, ReturnsOnceTheWindowHasTheFrame) {
  const testing::Deadline deadline;  // a frame never taken would wait for ever
  RecordingWindow window(canvas_w, canvas_h);
  Canvas canvas;
  init_canvas(canvas, canvas_w, canvas_h, &window);
  redraw(canvas);
  set_pixel(canvas, 3, 4, rgb(9, 8, 7));
  redraw(canvas);
  const auto frames = window.frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0][4 * canvas_w + 3], dialog_grey);
  EXPECT_EQ(frames[1], canvas.pixels);
}

TEST(CanvasRedraw, FramesAreNeverTornByDrawingOnAnotherThread) {
  const testing::Deadline deadline;  // a frame never taken would wait for ever
  RecordingWindow window(canvas_w, canvas_h);
  Canvas canvas;
  init_canvas(canvas, canvas_w, canvas_h, &window);
  std::atomic<bool> done{false};
  std::thread painter([&] {
    for (int k = 1; !done.load(); k = k % 250 + 1) {
      set_background(canvas, rgb(k, k, k));
      clear_canvas(canvas);
    }
  });
  for (int i = 0; i < 40; ++i) redraw(canvas);
  done = true;
  painter.join();
  const auto frames = window.frames();
  ASSERT_EQ(frames.size(), 40u);
  for (const auto& frame : frames) {
    const auto odd = std::find_if(frame.begin(), frame.end(),
                                  [&](std::int32_t c) { return c != frame.front(); });
    EXPECT_EQ(odd, frame.end()) << "a frame mixes two pictures";
  }
}

}  // namespace
}  // namespace lyap
