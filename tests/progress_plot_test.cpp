#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "graphics/plots.hpp"
#include "picture_checks.hpp"
#include "scratch.hpp"

namespace lyap {
namespace {

using testing::canvas_h;
using testing::canvas_w;
using testing::pixel;
using testing::start_canvas;
using testing::text_mismatches;

// One record as the program writes it: the time, spaces up to column 14, the budget.
std::string record(long t, long v) {
  std::string line(" ");
  line += std::to_string(t);
  line += ' ';
  line.resize(std::max<std::size_t>(line.size(), 14), ' ');
  line += ' ';
  line += std::to_string(v);
  line += " \r\n";
  return line;
}

bool on_frame(int x, int y) {
  return ((x == 40 || x == 439) && y <= 400) || ((y == 0 || y == 400) && x >= 40 && x <= 439);
}

class ProgressPlot : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    path_ = scratch_.file("run.dat");
    start_canvas(canvas_, false);  // the plot itself clears it
  }

  void write_file(const std::string& bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  void plot(long long end_s = 0) { plot_progress(canvas_, path_, 400, 400, end_s); }

  // Every pixel of the plot area away from the ticks (11 pixels in from the frame).
  bool interior_is_white() {
    for (int y = 12; y <= 388; ++y) {
      for (int x = 52; x <= 427; ++x) {
        if (pixel(canvas_, x, y) != white) return false;
      }
    }
    return true;
  }
  bool frame_is_drawn() {
    for (int y = 0; y <= 400; ++y) {
      for (int x = 40; x <= 439; ++x) {
        if (on_frame(x, y) && pixel(canvas_, x, y) != black) return false;
      }
    }
    return true;
  }
  long double width_of(const std::string& text) {
    Canvas probe;
    start_canvas(probe);
    set_font(probe, "MS Sans Serif", 12, true);
    return text_size(probe, text).width;
  }

  lyap::testing::ScratchDir scratch_;
  std::string path_;
  Canvas canvas_;
};

TEST_F(ProgressPlot, WorkedExampleMatchesItsDrawingPixelForPixel) {
  write_file(record(0, 25) + record(300, 19) + record(900, 14));
  plot();

  // The picture the three records describe: a 20-minute axis with one time tick, the
  // budget held at 25 until 5 minutes, at 19 until 15 minutes, then 14.
  Canvas expected;
  start_canvas(expected);
  set_font(expected, "MS Sans Serif", 12, true);
  const std::pair<const char*, std::pair<long double, long double>> labels[] = {
      {"40", {12, 0}},
      {"IE", {16, 188}},
      {"0", {22, 380}},
      {"0", {40, 400}},
      {"Time (minutes)", {170, 400}},
      {"20", {440 - width_of("20"), 400}},
  };
  for (const auto& [text, at] : labels) {
    move_to(expected, at.first, at.second);
    print_text(expected, text);
  }
  const std::vector<std::vector<long double>> lines_1px = {
      {240, 0, 240, 400 / 36.0L},       {240, 400, 240, 400 - 400 / 36.0L},
      {40, 100, 40 + 400 / 36.0L, 100}, {439, 100, 439 - 400 / 36.0L, 100},
      {40, 200, 40 + 400 / 36.0L, 200}, {439, 200, 439 - 400 / 36.0L, 200},
      {40, 300, 40 + 400 / 36.0L, 300}, {439, 300, 439 - 400 / 36.0L, 300},
  };
  for (const auto& l : lines_1px) {
    move_to(expected, l[0], l[1]);
    line_to(expected, l[2], l[3]);
  }
  draw_box(expected, 40, 0, 440, 401);
  set_line_width(expected, 2);
  const std::vector<std::vector<long double>> curve = {
      {40, 150, 140, 150}, {140, 150, 140, 210}, {140, 210, 340, 210}, {340, 210, 340, 260}};
  for (const auto& l : curve) {
    move_to(expected, l[0], l[1]);
    line_to(expected, l[2], l[3]);
  }

  int mismatches = 0;
  for (int y = 0; y < canvas_h; ++y) {
    for (int x = 0; x < canvas_w; ++x) {
      if (pixel(canvas_, x, y) != pixel(expected, x, y)) {
        if (++mismatches <= 10) ADD_FAILURE() << "pixel " << x << ", " << y << " differs";
      }
    }
  }
  EXPECT_EQ(mismatches, 0);

  // On the curve and beside it, whatever the pen does with a width of 2.
  for (const auto& [x, y] : std::vector<std::pair<int, int>>{
           {41, 150}, {90, 150}, {139, 150}, {140, 180}, {240, 210}, {339, 210}, {340, 259}}) {
    EXPECT_EQ(pixel(canvas_, x, y), black) << x << ", " << y;
  }
  for (const auto& [x, y] : std::vector<std::pair<int, int>>{
           {90, 170}, {200, 150}, {300, 240}, {380, 260}, {340, 270}}) {
    EXPECT_EQ(pixel(canvas_, x, y), white) << x << ", " << y;
  }
  EXPECT_EQ(canvas_.line_width, 2);
}

TEST_F(ProgressPlot, TwentyOneMinutesGiveThreeTicksAndThirtyMinutes) {
  write_file(record(0, 25) + record(1250, 20));
  plot();
  for (const int t : {173, 307}) {
    for (int y = 0; y <= 10; ++y) EXPECT_EQ(pixel(canvas_, t, y), black) << t << ", " << y;
    for (int y = 390; y <= 400; ++y) EXPECT_EQ(pixel(canvas_, t, y), black) << t << ", " << y;
    EXPECT_EQ(pixel(canvas_, t, 11), white) << t;
    EXPECT_EQ(pixel(canvas_, t, 389), white) << t;
    EXPECT_EQ(pixel(canvas_, t + 1, 5), white) << t;
    EXPECT_EQ(pixel(canvas_, t - 1, 5), white) << t;
  }
  EXPECT_EQ(pixel(canvas_, 240, 5), white);
  // 1250 s of 1800 lies at x = 317.8: the drop from 25 to 20 is there.
  EXPECT_EQ(pixel(canvas_, 300, 150), black);
  EXPECT_EQ(pixel(canvas_, 318, 175), black);
  EXPECT_EQ(pixel(canvas_, 330, 150), white);
}

TEST_F(ProgressPlot, TheBudgetIsHeldToTheEndOfTheRun) {
  struct Case {
    const char* name;
    std::string bytes;
    long long end_s;
    int held_y;        // the last budget's level
    int from_x, to_x;  // where the line runs at that level
    int past_x;        // beyond the end: nothing
  };
  const Case cases[] = {
      // 7500 s on a 130-minute axis ends at x = 424.6.
      {"no find in 2 h 5 min", record(0, 25), 7500, 150, 41, 423, 428},
      // The worked example's last record at 15 minutes, held to the end at 19 minutes.
      {"held after the last find", record(0, 25) + record(300, 19) + record(900, 14), 1140, 260,
       341, 418, 424},
      // Ended before its first full minute: still a 10-minute axis, and 30 s of line.
      {"no find in half a minute", record(0, 25), 30, 150, 41, 58, 62},
  };
  for (const Case& c : cases) {
    write_file(c.bytes);
    start_canvas(canvas_, false);
    plot(c.end_s);
    for (int x = c.from_x; x <= c.to_x; ++x) {
      ASSERT_EQ(pixel(canvas_, x, c.held_y), black) << c.name << " " << x;
    }
    EXPECT_EQ(pixel(canvas_, c.past_x, c.held_y), white) << c.name;
    EXPECT_EQ(pixel(canvas_, (c.from_x + c.to_x) / 2, c.held_y - 5), white) << c.name;
    EXPECT_TRUE(frame_is_drawn()) << c.name;
  }
}

TEST_F(ProgressPlot, ValuesAboveFortyRunAboveTheFrame) {
  // Held at 50 (y = -100, off the canvas) for 5 of 10 minutes, then down to 20 at x = 240.
  write_file(record(0, 50) + record(300, 20));
  plot();
  EXPECT_EQ(pixel(canvas_, 240, 50), black);
  EXPECT_EQ(pixel(canvas_, 240, 199), black);
  EXPECT_EQ(pixel(canvas_, 240, 201), white);
  EXPECT_EQ(pixel(canvas_, 100, 5), white);
  EXPECT_EQ(pixel(canvas_, 300, 200), white);
  EXPECT_TRUE(frame_is_drawn());
}

TEST_F(ProgressPlot, WithoutElapsedTimeThereIsNoCurve) {
  struct Case {
    const char* name;
    const char* bytes;  // null: no file at all
  };
  const Case cases[] = {
      {"only the start-up record", " 0             25 \r\n"},
      {"the start-up record twice", " 0             25 \r\n 0             23 \r\n"},
      {"an empty file", ""},
      {"no file", nullptr},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(path_);
    if (c.bytes) write_file(c.bytes);
    start_canvas(canvas_, false);  // the previous plot left the pen 2 pixels wide
    plot();
    EXPECT_TRUE(interior_is_white()) << c.name;
    EXPECT_TRUE(frame_is_drawn()) << c.name;
    // The value ticks, and no time tick.
    EXPECT_EQ(pixel(canvas_, 45, 100), black) << c.name;
    EXPECT_EQ(pixel(canvas_, 434, 300), black) << c.name;
    for (int x = 41; x <= 438; ++x) ASSERT_EQ(pixel(canvas_, x, 5), white) << c.name << " " << x;
  }
}

TEST_F(ProgressPlot, AnAbsurdTimeSaturatesAndTicksEveryColumn) {
  // 1e30 s is held as 2^31 - 1: 3579140 ten-minute ticks, at least one in every column.
  write_file(" 1e30 5 \r\n");
  plot();
  for (int x = 40; x <= 439; ++x) {
    for (const int y : {0, 10, 390, 400}) ASSERT_EQ(pixel(canvas_, x, y), black) << x << ", " << y;
    ASSERT_EQ(pixel(canvas_, x, 11) == black, x == 40 || x == 439) << x;
  }
}

TEST_F(ProgressPlot, LabelsTheAxesAndTheLengthOfTheTimeAxis) {
  if (!testing::fonts_available()) GTEST_SKIP() << "no fonts on this machine";
  struct Case {
    const char* name;
    std::string bytes;
    const char* minutes;
    long long end_s = 0;
  };
  const Case cases[] = {
      {"21 minutes", record(0, 25) + record(1250, 20), "30"},
      {"only the start-up record", record(0, 25), "0"},
      {"no find in 2 h 5 min", record(0, 25), "130", 7500},
      {"an absurd time, held as 2^31 - 1 s", " 1e30 5 \r\n", "35791400"},
  };
  for (const Case& c : cases) {
    write_file(c.bytes);
    start_canvas(canvas_, false);
    plot(c.end_s);
    EXPECT_EQ(text_mismatches(canvas_, c.minutes, 440 - width_of(c.minutes), 400, on_frame), 0)
        << c.name;
    EXPECT_EQ(text_mismatches(canvas_, "40", 12, 0), 0) << c.name;
    EXPECT_EQ(text_mismatches(canvas_, "IE", 16, 188), 0) << c.name;
    EXPECT_EQ(text_mismatches(canvas_, "0", 22, 380), 0) << c.name;
    EXPECT_EQ(text_mismatches(canvas_, "0", 40, 400, on_frame), 0) << c.name;
    EXPECT_EQ(text_mismatches(canvas_, "Time (minutes)", 170, 400, on_frame), 0) << c.name;
  }
}

TEST_F(ProgressPlot, DamagedFilesStillGiveAFramedPicture) {
  const std::string cases[] = {
      "garbage\r\n",
      std::string("\x01\x02\xff,,,\r\n 300 7", 14),
      " 600 , 12 , 900\r\n",
      " -500            -3 \r\n",
      // Saturated into 32 bits: the budget curve runs far above the canvas.
      " 0 1e30 \r\n 600 -1e30 \r\n",
      " 600             99999999999999999999999 \r\n",
  };
  for (const std::string& bytes : cases) {
    write_file(bytes);
    start_canvas(canvas_, false);
    plot();
    EXPECT_TRUE(frame_is_drawn()) << bytes;
    EXPECT_EQ(pixel(canvas_, 45, 200), black) << bytes;
  }
}

}  // namespace
}  // namespace lyap
