#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "extended_near.hpp"
#include "graphics/plots.hpp"
#include "numerics/trig.hpp"
#include "picture_checks.hpp"

namespace lyap {
namespace {

using testing::canvas_h;
using testing::canvas_w;
using testing::grey;
using testing::pixel;
using testing::start_canvas;

constexpr Colour shadow_grey = 14474460;
constexpr long double nan = std::numeric_limits<long double>::quiet_NaN();
constexpr long double inf = std::numeric_limits<long double>::infinity();

// ---- Axis scaling -------------------------------------------------------------------------

struct TicksCase {
  long long r;
  int intervals;
  long long length;
};

TEST(AxisTicks, FollowsTheIntervalTableAcrossEveryBoundary) {
  const TicksCase cases[] = {
      {0, 10, 0},        {1, 10, 1},        {2, 10, 2},
      {3, 3, 3},         {7, 7, 7},         {20, 20, 20},
      {21, 11, 22},      {23, 12, 24},      {40, 20, 40},
      {41, 9, 45},       {57, 12, 60},      {100, 20, 100},
      {101, 11, 110},    {250, 25, 250},    {1000, 100, 1000},
      {1001, 100, 1100}, {1234, 100, 1300}, {4294967295LL, 100, 4294967300LL},
  };
  for (const TicksCase& c : cases) {
    const AxisTicks t = axis_ticks(c.r);
    EXPECT_EQ(t.intervals, c.intervals) << "r = " << c.r;
    EXPECT_EQ(t.length, c.length) << "r = " << c.r;
  }
}

struct ScaleCase {
  long double v_min, v_max;
  int lo, hi, intervals;
};

TEST(ScaleAxis, PadsWidensAndCentres) {
  const ScaleCase cases[] = {
      // Padded to -3..20 (r = 23), widened to 24 and centred: -3.5 goes to the even -4.
      {-1.9L, 18.9L, -4, 20, 12},
      // Padded to 1..24: (24 + 1 - 24) / 2 = 0.5 goes down to 0.
      {2.1L, 22.9L, 0, 24, 12},
      // Padded to 2..25: 1.5 goes up to 2.
      {3.1L, 23.9L, 2, 26, 12},
      // Short axes keep their length and get ten intervals.
      {0.2L, 0.8L, 0, 1, 10},
      {0, 10, -1, 11, 12},
      // The trajectory the portrait tests draw: padded to 0..6 and -2..2.
      {1.14517L, 5.17993L, 0, 6, 6},
      {-1.41248L, 1.41247L, -2, 2, 4},
      // The top of the 32-bit range is still an axis.
      {2147483646.2L, 2147483646.4L, 2147483646, 2147483647, 10},
      {-2147483647.8L, -2147483647.6L, -2147483648, -2147483647, 10},
  };
  for (const ScaleCase& c : cases) {
    AxisScale axis{};
    ASSERT_TRUE(scale_axis(c.v_min, c.v_max, axis)) << c.v_min << " .. " << c.v_max;
    EXPECT_EQ(axis.lo, c.lo) << c.v_min << " .. " << c.v_max;
    EXPECT_EQ(axis.hi, c.hi) << c.v_min << " .. " << c.v_max;
    EXPECT_EQ(axis.intervals, c.intervals) << c.v_min << " .. " << c.v_max;
  }
}

TEST(ScaleAxis, RefusesAxesThatCannotBeDrawn) {
  const std::pair<long double, long double> cases[] = {
      {2, 2},         // padded ends meet
      {-7, -7},       //
      {1e6L, -1e6L},  // a pass that saw no point at all
      {nan, 1},
      {0, nan},  // a state that went bad
      {-inf, 1},
      {0, inf},                          //
      {0, 1e99L},                        // the failure mark of a step
      {2147483646.6L, 2147483647.2L},    // the padded top end passes 2^31 - 1
      {-2147483648.2L, -2147483647.9L},  // the padded bottom end passes -2^31
      {-3e9L, 3e9L},                     //
  };
  for (const auto& [v_min, v_max] : cases) {
    AxisScale axis{7, 8, 9};
    EXPECT_FALSE(scale_axis(v_min, v_max, axis)) << v_min << " .. " << v_max;
    EXPECT_EQ(axis.lo, 7);
    EXPECT_EQ(axis.hi, 8);
    EXPECT_EQ(axis.intervals, 9);
  }
}

TEST(ScaleAxis, RefusesAnAxisThatCentringPushesOutOfRange) {
  // Padded to 2147483006..2147483647 (r = 641) and widened to 650: centring would end the
  // axis at 2^31 + 4.
  AxisScale axis{};
  EXPECT_FALSE(scale_axis(2147483035.5L, 2147483617.5L, axis));
}

// ---- Step rule ------------------------------------------------------------------------------

struct StepCase {
  long double f1, f2;
  int x_span0, y_span0;
  long double expected;
};

TEST(PlotStep, KeepsEveryStepUnderHalfAPixel) {
  const StepCase cases[] = {
      {0, 0, 1, 1, 0.1L},                 // at rest: the full step
      {1e-4L, 0, 1, 1, 0.1L},             // slow: 1 / s = 12.5 is longer than dt
      {1, 0, 1, 1, 1 / 800.0L},           // s = 2 x 1 x 400 / 1
      {0, -2, 1, 4, 1 / 400.0L},          // s = |2 x -2 x 400 / 4|
      {3, -1, 5, 3, 3 / 2240.0L},         // s = 800 / 3 + 480
      {-3, 1, 5, 3, 3 / 2240.0L},         //
      {3, -1, -2000000, -2000000, 0.1L},  // the spans of a pass that saw nothing
  };
  for (const StepCase& c : cases) {
    const State f{0, c.f1, c.f2, 0, 0};
    const long double h = plot_step(f, 0.1L, 400, 400, c.x_span0, c.y_span0);
    EXPECT_NEAR(h, c.expected, c.expected * 1e-15L) << c.f1 << ", " << c.f2;
    const long double pixels =
        std::fabs(c.f1) * h * 400 / c.x_span0 + std::fabs(c.f2) * h * 400 / c.y_span0;
    EXPECT_LE(pixels, 0.5L + 1e-15L) << c.f1 << ", " << c.f2;
  }
}

TEST(PlotStep, RatesThatAreNotNumbersKeepTheFullStep) {
  EXPECT_EQ(plot_step(State{0, nan, 0, 0, 0}, 0.1L, 400, 400, 3, 3), 0.1L);
  EXPECT_EQ(plot_step(State{0, 1, nan, 0, 0}, 0.1L, 400, 400, 3, 3), 0.1L);
  EXPECT_EQ(plot_step(State{0, inf, 0, 0, 0}, 0.1L, 400, 400, 3, 3), 0);
}

// ---- Point projection ---------------------------------------------------------------------

struct PlaneCase {
  State x;
  int x_lo, x_hi, y_lo, y_hi;
  long double z_min, z_max;
  long double px, py, shade;
};

TEST(ProjectPoint, PlaneMapsTheBoundsOntoThePlotArea) {
  const PlaneCase cases[] = {
      {{0, -4, 7, 1, 0}, -4, 20, -2, 7, 1, 3, 40, 0, 0},
      {{0, 20, -2, 3, 0}, -4, 20, -2, 7, 1, 3, 440, 400, 255},
      {{0, 8, 2.5L, 2, 0}, -4, 20, -2, 7, 1, 3, 240, 200, 127.5L},
      // Outside the bounds the mapping simply extends.
      {{0, 32, 16, 5, 0}, -4, 20, -2, 7, 1, 3, 640, -400, 510},
  };
  for (const PlaneCase& c : cases) {
    long double px = -1, py = -1, shade = -1;
    project_point(c.x, c.x_lo, c.x_hi, c.y_lo, c.y_hi, c.z_min, c.z_max, 40, 400, 400, px, py,
                  shade, "plane");
    EXPECT_EQ(px, c.px) << "x1 = " << c.x[1];
    EXPECT_EQ(py, c.py) << "x2 = " << c.x[2];
    EXPECT_EQ(shade, c.shade) << "x3 = " << c.x[3];
  }
}

TEST(ProjectPoint, PlaneWithoutSpreadInX3GivesNoShade) {
  long double px = 0, py = 0, shade = 0;
  project_point(State{0, 1, 1, 0.5L, 0}, 0, 2, 0, 2, 0.5L, 0.5L, 40, 400, 400, px, py, shade,
                "plane");
  EXPECT_TRUE(std::isnan(shade));
  EXPECT_EQ(px, 240);
  EXPECT_EQ(py, 200);
}

TEST(ProjectPoint, CylinderTurnsTheFirstComponentAroundTheAxis) {
  long double px = 0, py = 0, shade = 0;
  // The turn angle is 0.7854 held in single precision, 0.785399973392486572265625, so a is
  // -2.66075134e-8 here; the width factor 0.9 is 0.89999997615814208984375.
  project_point(State{0, -0.7854L, 3, 0, 0}, 0, 10, 0, 10, 0, 1, 40, 400, 400, px, py, shade,
                "cylinder");
  EXPECT_EXT_NEAR(px, 399.99999046325677L, 1e-9L);
  EXPECT_EXT_NEAR(py, 251.99999332427979L, 1e-9L);
  EXPECT_EXT_NEAR(shade, 127.50000339245796L, 1e-9L);

  // Quarter turns from there: across the front to the left edge and round the back.
  struct Turn {
    long double a, px, shade;
  };
  const long double half_pi = 1.57079632679489661923L;
  const Turn turns[] = {{half_pi, 40 + 179.99999523162842L, 0},
                        {2 * half_pi, 40, 127.5L},
                        {3 * half_pi, 40 + 179.99999523162842L, 255}};
  for (const Turn& t : turns) {
    project_point(State{0, t.a - 0.785399973392486572265625L, 0, 0, 0}, 0, 10, 0, 10, 0, 1, 40, 400,
                  400, px, py, shade, "cylinder");
    EXPECT_EXT_NEAR(px, t.px, 1e-9L) << t.a;
    EXPECT_EXT_NEAR(shade, t.shade, 1e-9L) << t.a;
  }

  // The turn and width constants are held in single precision.
  project_point(State{0, 0, 0, 0, 0}, 0, 10, 0, 10, 0, 1, 0, 400, 400, px, py, shade, "cylinder");
  long double sin_a, cos_a;
  model_sincos(static_cast<long double>(0.7854f), sin_a, cos_a);
  EXPECT_EQ(px, 400 * static_cast<long double>(0.9f) * (cos_a + 1) / 2);
  EXPECT_EQ(shade, (1 - sin_a) * 255 / 2);

  for (long double x1 = -10; x1 <= 10; x1 += 0.37L) {
    project_point(State{0, x1, 0, 0, 0}, 0, 10, 0, 10, 0, 1, 40, 400, 400, px, py, shade,
                  "cylinder");
    EXPECT_GE(px, 40);
    EXPECT_LE(px, 40 + 0.9L * 400 + 1e-12L);
    EXPECT_GE(shade, 0);
    EXPECT_LE(shade, 255);
  }
}

TEST(ProjectPoint, UnknownGeometryLeavesTheOutputs) {
  for (const char* geometry : {"Plane", "CYLINDER", "", "plane ", "sphere"}) {
    long double px = 11, py = 22, shade = 33;
    project_point(State{0, 1, 2, 3, 4}, 0, 10, 0, 10, 0, 5, 40, 400, 400, px, py, shade, geometry);
    EXPECT_EQ(px, 11) << '"' << geometry << '"';
    EXPECT_EQ(py, 22) << '"' << geometry << '"';
    EXPECT_EQ(shade, 33) << '"' << geometry << '"';
  }
}

// ---- One point and its shadow -------------------------------------------------------------

struct PointCase {
  const char* name;
  long double px, py, shade;
  int origin_x, origin_y;
  int x, y;                // the pixel (X, Y)
  int g11, g10, g01, g00;  // expected grey levels on white paper
};

TEST(PlotPoint, SplitsTheShadeOverFourPixels) {
  const PointCase cases[] = {
      {"on a pixel corner", 100, 50, 255, 0, 0, 100, 50, 180, 180, 180, 0},
      {"in the middle", 100.5L, 50.5L, 255, 0, 0, 100, 50, 116, 116, 116, 116},
      {"a quarter in, halves to even", 100.25L, 50.75L, 200, 0, 0, 100, 50, 142, 168, 68, 142},
      {"shade 0", 100.3L, 50.6L, 0, 0, 0, 100, 50, 180, 180, 180, 180},
      {"no spread in x3", 100.3L, 50.6L, nan, 0, 0, 100, 50, 0, 0, 0, 0},
      {"shifted by the origin", 100, 50, 255, 7, 9, 107, 59, 180, 180, 180, 0},
  };
  for (const PointCase& c : cases) {
    Canvas canvas;
    start_canvas(canvas);
    plot_point(canvas, c.px, c.py, c.shade, c.origin_x, c.origin_y);
    EXPECT_EQ(pixel(canvas, c.x + 1, c.y + 1), grey(c.g11)) << c.name;
    EXPECT_EQ(pixel(canvas, c.x + 1, c.y), grey(c.g10)) << c.name;
    EXPECT_EQ(pixel(canvas, c.x, c.y + 1), grey(c.g01)) << c.name;
    EXPECT_EQ(pixel(canvas, c.x, c.y), grey(c.g00)) << c.name;
    int touched = 0;
    for (const Colour p : canvas.pixels) touched += p != white;
    EXPECT_EQ(touched, 4) << c.name;
  }
}

TEST(PlotPoint, OnlyEverDarkens) {
  Canvas canvas;
  start_canvas(canvas);
  set_pixel(canvas, 101, 51, black);
  set_pixel(canvas, 100, 51, grey(100));
  set_pixel(canvas, 101, 50, grey(200));
  set_pixel(canvas, 100, 50, rgb(0, 0, 255));  // pure red: below every grey but black
  plot_point(canvas, 100, 50, 255, 0, 0);
  EXPECT_EQ(pixel(canvas, 101, 51), black);
  EXPECT_EQ(pixel(canvas, 100, 51), grey(100));
  EXPECT_EQ(pixel(canvas, 101, 50), grey(180));
  EXPECT_EQ(pixel(canvas, 100, 50), black);

  // A lighter point over a darker one changes nothing.
  const std::vector<Colour> before = canvas.pixels;
  plot_point(canvas, 100, 50, 10, 0, 0);
  EXPECT_EQ(canvas.pixels, before);
}

TEST(PlotPoint, PixelsOffTheCanvasAreLeftOut) {
  Canvas canvas;
  start_canvas(canvas);
  plot_point(canvas, -0.5L, canvas_h - 0.5L, 255, 0, 0);
  EXPECT_EQ(pixel(canvas, 0, canvas_h - 1), grey(116));
  int touched = 0;
  for (const Colour p : canvas.pixels) touched += p != white;
  EXPECT_EQ(touched, 1);

  const std::vector<Colour> before = canvas.pixels;
  plot_point(canvas, 1e30L, -1e30L, 255, 0, 0);
  plot_point(canvas, canvas_w, 10, 255, 0, 0);
  plot_point(canvas, 10, 10, 255, std::numeric_limits<int>::max(), 0);
  EXPECT_EQ(canvas.pixels, before);
}

TEST(PlotShadow, FallsOnTheUndarkenedPointForShadeZero) {
  struct Case {
    const char* name;
    long double px, py;
    int plot_w, plot_h, origin_x, origin_y;
    bool drawn;
    int x, y;
  };
  const Case cases[] = {
      {"inside", 100.3L, 50.6L, 400, 400, 0, 0, true, 100, 51},
      {"shifted by the origin", 100.3L, 50.6L, 400, 400, 5, 6, true, 105, 57},
      {"halves go to even", 100.5L, 51.5L, 400, 400, 0, 0, true, 100, 52},
      {"at the right edge", 140, 50, 100, 400, 0, 0, false, 140, 50},
      {"just left of it", 139.9L, 50, 100, 400, 0, 0, true, 140, 50},
      {"at the bottom edge", 100, 100, 400, 100, 0, 0, false, 100, 100},
      {"just above it", 100, 99.9L, 400, 100, 0, 0, true, 100, 100},
  };
  for (const Case& c : cases) {
    Canvas canvas;
    start_canvas(canvas);
    Rng rng = make_rng(3);
    plot_shadow(canvas, c.px, c.py, 0, c.plot_w, c.plot_h, 40, c.origin_x, c.origin_y, rng);
    EXPECT_EQ(rng.draws, 24u) << c.name;
    EXPECT_EQ(pixel(canvas, c.x, c.y), c.drawn ? shadow_grey : white) << c.name;
    int touched = 0;
    for (const Colour p : canvas.pixels) touched += p != white;
    EXPECT_EQ(touched, c.drawn ? 1 : 0) << c.name;
  }
}

TEST(PlotShadow, FallsOnlyOnWhite) {
  for (const Colour under : {black, grey(180), grey(219), grey(221), rgb(255, 255, 254)}) {
    Canvas canvas;
    start_canvas(canvas);
    set_pixel(canvas, 100, 51, under);
    Rng rng = make_rng(3);
    plot_shadow(canvas, 100.3L, 50.6L, 0, 400, 400, 40, 0, 0, rng);
    EXPECT_EQ(pixel(canvas, 100, 51), under) << under;
  }

  // A point of shade 0 lands on its own darkened pixel, so it casts no shadow.
  Canvas canvas;
  start_canvas(canvas);
  Rng rng = make_rng(3);
  plot_point(canvas, 100.3L, 50.6L, 0, 0, 0);
  const std::vector<Colour> before = canvas.pixels;
  plot_shadow(canvas, 100.3L, 50.6L, 0, 400, 400, 40, 0, 0, rng);
  EXPECT_EQ(canvas.pixels, before);
}

TEST(PlotShadow, DarkerPointsThrowItFurtherDownAndRight) {
  // The reach is shade x plot_w / 600 across and shade x plot_h / 600 down, each divided by a
  // sum of 12 numbers below 1. With the same draws, half the shade reaches half as far, and a
  // plot of half the width and twice the height half as far across and twice as far down.
  auto shadow_of = [](long double shade, int plot_w, int plot_h) {
    Canvas canvas;
    start_canvas(canvas);
    Rng rng = make_rng(0.75L);
    plot_shadow(canvas, 100, 50, shade, plot_w, plot_h, 40, 0, 0, rng);
    std::pair<int, int> at{-1, -1};
    int drawn = 0;
    for (int y = 0; y < canvas_h; ++y) {
      for (int x = 0; x < canvas_w; ++x) {
        if (pixel(canvas, x, y) == white) continue;
        EXPECT_EQ(pixel(canvas, x, y), shadow_grey);
        at = {x, y};
        ++drawn;
      }
    }
    EXPECT_EQ(drawn, 1) << shade;
    return std::pair{at.first - 100, at.second - 50};
  };
  const auto [dx, dy] = shadow_of(255, 600, 300);
  const auto [half_dx, half_dy] = shadow_of(127.5L, 600, 300);
  const auto [narrow_dx, tall_dy] = shadow_of(255, 300, 600);
  // More than 255 / 12 across and 127.5 / 12 down.
  EXPECT_GT(dx, 21);
  EXPECT_GT(dy, 10);
  // Each reach rounded: twice a half is within a pixel of the whole.
  EXPECT_LE(std::abs(2 * half_dx - dx), 1);
  EXPECT_LE(std::abs(2 * half_dy - dy), 1);
  EXPECT_LE(std::abs(2 * narrow_dx - dx), 1);
  EXPECT_LE(std::abs(tall_dy - 2 * dy), 1);
}

TEST(PlotShadow, NoShadeMeansNoShadowButTheSameDraws) {
  Canvas canvas;
  start_canvas(canvas);
  Rng rng = make_rng(3);
  plot_shadow(canvas, 100, 50, nan, 400, 400, 40, 0, 0, rng);
  EXPECT_EQ(rng.draws, 24u);
  for (const Colour p : canvas.pixels) ASSERT_EQ(p, white);
}

// ---- Whole portraits ----------------------------------------------------------------------

constexpr Params chaotic_params = {0, 1.000136L, 0.5L, 2.55L, 0.58L, 0.47L};
constexpr int k_steps = 53333;  // 400 x 400 / 3

struct UnscalableCase {
  const char* name;
  Params p;
  State x;
};

TEST(PlotPortrait, AnUnscalableTrajectoryIsMarkedAndLeavesTheCanvas) {
  const UnscalableCase cases[] = {
      // With p1 = p2, p5 = 0 and x4 = p3 + 2 p4^2 x1^2 every derivative is exactly zero: x1
      // stays at 2, so its padded ends meet.
      {"fixed point", {0, 0.5L, 0.5L, 0, 0.5L, 0}, {0, 2, 0, 0, 2}},
      // So close to x1 = 0 the first step needs 100 substeps.
      {"failed step", chaotic_params, {0, 0.1L, 0, 0.1L, 1.1L}},
      // At x1 = 0 the derivatives divide by zero and the state turns to NaN, unmarked.
      {"not a number", chaotic_params, {0, 0, -1.1L, 0.1L, 1.1L}},
  };
  for (const UnscalableCase& c : cases) {
    Canvas canvas;
    start_canvas(canvas, false);  // still the start-up colour: nothing may clear it
    set_pixel(canvas, 200, 200, rgb(1, 2, 3));
    const std::vector<Colour> before = canvas.pixels;
    State x = c.x, f{};
    Rng rng = make_rng(0.5L);
    plot_portrait(canvas, 400, 400, 40, x, f, 0.1L, 0, 0, c.p, rng);
    EXPECT_EQ(x[1], failure_mark) << c.name;
    EXPECT_TRUE(canvas.pixels == before) << c.name;
  }
}

TEST(PlotPortrait, AFixedPointKeepsTheRestOfItsState) {
  State x{0, 2, 0, 0, 2}, f{};
  Canvas canvas;
  start_canvas(canvas);
  Rng rng = make_rng(0.5L);
  plot_portrait(canvas, 400, 400, 40, x, f, 0.1L, 0, 0, {0, 0.5L, 0.5L, 0, 0.5L, 0}, rng);
  EXPECT_EQ(x[1], failure_mark);
  EXPECT_EQ(x[4], 2);
  // x2 and x3 only ever move by the jitter of near-zero components.
  EXPECT_LT(std::fabs(x[2]), 1e-990L);
  EXPECT_LT(std::fabs(x[3]), 1e-990L);
}

// A bounded chaotic trajectory, drawn once for all the checks below, and the path its third
// pass should have drawn: 2 k + 1 full steps, then k steps under the step rule.
class BoundedPortrait : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    canvas_ = new Canvas;
    start_canvas(*canvas_, false);
    x_ = start;
    State f{};
    Rng rng = make_rng(0.25L);
    plot_portrait(*canvas_, 400, 400, 40, x_, f, 0.1L, 0, 0, chaotic_params, rng);
    draws_ = rng.draws;
    retrace();
  }
  static void TearDownTestSuite() {
    delete canvas_;
    canvas_ = nullptr;
    delete path_;
    path_ = nullptr;
  }
  static void retrace() {
    path_ = new std::vector<State>;
    State x = start, f{};
    Rng rng = make_rng(0.25L);
    long double x_min = 1e6L, x_max = -1e6L, y_min = 1e6L, y_max = -1e6L;
    for (int i = 0; i < 2 * k_steps + 1; ++i) {
      advance(x, f, 0.1L, x, chaotic_params, rng);
      if (i > k_steps) {
        x_min = std::min(x_min, x[1]);
        x_max = std::max(x_max, x[1]);
        y_min = std::min(y_min, x[2]);
        y_max = std::max(y_max, x[2]);
      }
    }
    x_span0_ = round_to_int32(std::floor(x_max - x_min) + 1);
    y_span0_ = round_to_int32(std::floor(y_max - y_min) + 1);
    long double h = 0.1L;
    for (int i = 0; i < k_steps; ++i) {
      advance(x, f, h, x, chaotic_params, rng);
      path_->push_back(x);
      h = plot_step(f, 0.1L, 400, 400, x_span0_, y_span0_);
    }
  }
  static bool in_frame(int x, int y) { return x >= 40 && x <= 439 && y >= 0 && y <= 400; }
  static bool inside_frame(int x, int y) { return x > 40 && x < 439 && y > 0 && y < 400; }

  static constexpr State start{0, 2, -1.1L, 0.1L, 1.1L};
  static Canvas* canvas_;
  static State x_;
  static std::uint64_t draws_;
  static std::vector<State>* path_;
  static int x_span0_, y_span0_;
};
Canvas* BoundedPortrait::canvas_ = nullptr;
State BoundedPortrait::x_{};
std::uint64_t BoundedPortrait::draws_ = 0;
std::vector<State>* BoundedPortrait::path_ = nullptr;
int BoundedPortrait::x_span0_ = 0;
int BoundedPortrait::y_span0_ = 0;

TEST_F(BoundedPortrait, EndsWhereTheSecondPassEnded) {
  EXPECT_EQ(x_span0_, 5);
  EXPECT_EQ(y_span0_, 3);
  for (int i = 1; i <= n_dims; ++i) EXPECT_EQ(x_[i], path_->back()[i]) << "x(" << i << ")";
}

TEST_F(BoundedPortrait, KeepsTheStateAndDraws24RandomValuesPerPoint) {
  EXPECT_NE(x_[1], failure_mark);
  EXPECT_LE(std::fabs(x_[1]), 1000);
  // Pass 3 retraces pass 2 inside the padded bounds, so no point is skipped; the integrator
  // draws nothing on a trajectory that never comes near zero.
  EXPECT_EQ(draws_, 24u * k_steps);
}

TEST_F(BoundedPortrait, FrameIsWholeAndBlack) {
  for (int y = 0; y <= 400; ++y) {
    ASSERT_EQ(pixel(*canvas_, 40, y), black) << "left edge, row " << y;
    ASSERT_EQ(pixel(*canvas_, 439, y), black) << "right edge, row " << y;
  }
  for (int x = 40; x <= 439; ++x) {
    ASSERT_EQ(pixel(*canvas_, x, 0), black) << "top edge, column " << x;
    ASSERT_EQ(pixel(*canvas_, x, 400), black) << "bottom edge, column " << x;
  }
}

TEST_F(BoundedPortrait, HoldsOnlyPaperGreyPointsAndShadowsInside) {
  for (int y = 0; y < canvas_h; ++y) {
    for (int x = 0; x < canvas_w; ++x) {
      const Colour c = pixel(*canvas_, x, y);
      if (c == white) continue;
      if (c == shadow_grey) {
        ASSERT_TRUE(inside_frame(x, y)) << "shadow at " << x << ", " << y;
        continue;
      }
      const int level = c & 255;
      ASSERT_EQ(c, grey(level)) << "colour " << c << " at " << x << ", " << y;
      ASSERT_LE(level, 180) << "at " << x << ", " << y;
      if (level > 0) {
        ASSERT_TRUE(inside_frame(x, y)) << "point at " << x << ", " << y;
      }
    }
  }
}

// The path drawn again by the rule the portrait follows: x1 across on its axis 0 .. 6, x2 up
// on -2 .. 2, and each point darkening its four pixels from grey 180 by its share of
// 255 (x3 - min) / (max - min), so that high x3 is dark. Away from the frame and its ticks
// (11 pixels in) every pixel is the darkest point on it, or white or a shadow where there is
// none.
TEST_F(BoundedPortrait, EveryPixelIsTheDarkestPointOnItShadedByX3) {
  long double z_min = 1e6L, z_max = -1e6L;
  for (const State& x : *path_) {
    z_min = std::min(z_min, x[3]);
    z_max = std::max(z_max, x[3]);
  }
  std::vector<int> level(static_cast<std::size_t>(canvas_w * canvas_h), 255);
  auto darken = [&](long double x, long double y, long double g) {
    const int v = std::clamp(static_cast<int>(std::nearbyint(g)), 0, 255);
    int& at = level[static_cast<std::size_t>(y * canvas_w + x)];
    at = std::min(at, v);
  };
  for (const State& x : *path_) {
    const long double px = x[1] / 6 * 400 + 40;
    const long double py = (2 - x[2]) / 4 * 400;
    const long double shade = (x[3] - z_min) / (z_max - z_min) * 255;
    const long double X = std::floor(px), Y = std::floor(py), fx = px - X, fy = py - Y;
    darken(X, Y, 180 - (1 - fx) * (1 - fy) * shade);
    darken(X + 1, Y, 180 - fx * (1 - fy) * shade);
    darken(X, Y + 1, 180 - (1 - fx) * fy * shade);
    darken(X + 1, Y + 1, 180 - fx * fy * shade);
  }
  int wrong = 0, points = 0, shadows = 0;
  for (int y = 12; y <= 388; ++y) {
    for (int x = 52; x <= 427; ++x) {
      const int want = level[static_cast<std::size_t>(y * canvas_w + x)];
      const Colour got = pixel(*canvas_, x, y);
      shadows += got == shadow_grey;
      points += want < 255;
      // Rounding in another order may move a level by one.
      const bool right = want == 255 ? got == white || got == shadow_grey
                                     : got == grey(got & 255) && std::abs((got & 255) - want) <= 1;
      if (!right && ++wrong <= 10) {
        ADD_FAILURE() << "at " << x << ", " << y << ": " << (got & 255) << " for " << want;
      }
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(points, 5000);
  EXPECT_GT(shadows, 500);
}

// The trajectory spans x1 1.145 .. 5.180 and x2 -1.412 .. 1.412: its axes are 0 .. 6 in six
// intervals and -2 .. 2 in four.
TEST_F(BoundedPortrait, LabelsTheAxesAtTheirEnds) {
  if (!testing::fonts_available()) GTEST_SKIP() << "no fonts on this machine";
  Canvas probe;
  start_canvas(probe);
  set_font(probe, "MS Sans Serif", 12, true);
  auto width = [&](const char* text) { return text_size(probe, text).width; };
  const long double h = text_size(probe, "Y").height;
  const auto frame = [](int x, int y) { return in_frame(x, y) && !inside_frame(x, y); };
  struct Label {
    const char* text;
    long double x, y;
  };
  const Label labels[] = {
      {"2", 35 - width("2"), 0},        {"Y", 35 - width("Y"), 200 - h / 2},
      {"-2", 35 - width("-2"), 380},    {"0", 40, 400},
      {"X", 240 - width("X") / 2, 400}, {"6", 440 - width("6"), 400},
  };
  for (const Label& l : labels) {
    EXPECT_EQ(testing::text_mismatches(*canvas_, l.text, l.x, l.y, frame), 0) << l.text;
  }

  // Outside the frame there is nothing but these labels.
  auto in_label = [&](int x, int y) {
    for (const Label& l : labels) {
      const int lx = round_to_int32(l.x), ly = round_to_int32(l.y);
      if (x >= lx && x < lx + round_to_int32(width(l.text)) && y >= ly &&
          y < ly + round_to_int32(h)) {
        return true;
      }
    }
    return false;
  };
  for (int y = 0; y < canvas_h; ++y) {
    for (int x = 0; x < canvas_w; ++x) {
      if (in_frame(x, y) || in_label(x, y)) continue;
      ASSERT_EQ(pixel(*canvas_, x, y), white) << "at " << x << ", " << y;
    }
  }
}

TEST_F(BoundedPortrait, TicksDivideTheAxes) {
  // Rows 1 .. 10 and 390 .. 399 are out of the trajectory's reach: only ticks are black there.
  const std::vector<int> x_ticks = {107, 173, 240, 307, 373};  // 40 + 400 i / 6, rounded
  for (int x = 41; x <= 438; ++x) {
    const bool tick = std::find(x_ticks.begin(), x_ticks.end(), x) != x_ticks.end();
    for (const int y : {1, 10, 390, 399}) {
      EXPECT_EQ(pixel(*canvas_, x, y) == black, tick) << x << ", " << y;
    }
    EXPECT_EQ(pixel(*canvas_, x, 11), white) << x;
    EXPECT_EQ(pixel(*canvas_, x, 389), white) << x;
  }
  // Columns 41 .. 50 are left of every point; 429 .. 438 only ever catch a shadow.
  const std::vector<int> y_ticks = {100, 200, 300};
  for (int y = 1; y <= 399; ++y) {
    const bool tick = std::find(y_ticks.begin(), y_ticks.end(), y) != y_ticks.end();
    for (const int x : {41, 50, 429, 438}) {
      EXPECT_EQ(pixel(*canvas_, x, y) == black, tick) << x << ", " << y;
    }
    EXPECT_NE(pixel(*canvas_, 51, y), black) << y;
    EXPECT_NE(pixel(*canvas_, 428, y), black) << y;
  }
}

}  // namespace
}  // namespace lyap
