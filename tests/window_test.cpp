// The X11 window, checked from outside through a connection of the test's own: what the X
// server holds in the window after a redraw must be exactly the canvas.
#include "platform/window.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "deadline.hpp"
#include "graphics/canvas.hpp"
#include "platform/window_x11.hpp"

// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace lyap {
namespace {

constexpr int canvas_w = 440;
constexpr int canvas_h = 424;

// The canvas colour value of a pixel as the X server stores it for `visual`.
Colour colour_of(unsigned long pixel, const Visual* visual) {
  const auto component = [pixel](unsigned long mask) -> Colour {
    if (mask == 0) return 0;
    const unsigned long v = (pixel & mask) >> std::countr_zero(mask);
    const int bits = std::popcount(mask);
    return static_cast<Colour>(bits >= 8 ? v >> (bits - 8) : v << (8 - bits));
  };
  return component(visual->red_mask) + 256 * component(visual->green_mask) +
         65536 * component(visual->blue_mask);
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') GTEST_SKIP() << "no DISPLAY";
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) GTEST_SKIP() << "cannot open display " << name;
    XVisualInfo info;
    if (XMatchVisualInfo(display_, DefaultScreen(display_), 24, TrueColor, &info) == 0) {
      GTEST_SKIP() << "the display has no 24-bit true-colour visual";
    }
  }
  void TearDown() override {
    if (display_ != nullptr) XCloseDisplay(display_);
  }

  // The window's contents as canvas colour values, rows top first; empty when unreadable.
  std::vector<Colour> screenshot(const Window& window) {
    const ::Window id = x11_window_id(window);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_, id, &attributes) == 0) return {};
    XImage* image = XGetImage(display_, id, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) return {};
    std::vector<Colour> pixels;
    for (int y = 0; y < attributes.height; ++y) {
      for (int x = 0; x < attributes.width; ++x) {
        pixels.push_back(colour_of(XGetPixel(image, x, y), attributes.visual));
      }
    }
    XDestroyImage(image);
    return pixels;
  }

  // Waits up to a few seconds for the window to show `expected`, for repaints the window does
  // on its own.
  bool eventually_shows(const Window& window, const std::vector<Colour>& expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      if (screenshot(window) == expected) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Lays a window of the test's own over the whole window and takes it away again, which
  // leaves the window's contents for it to repaint.
  void cover_and_uncover() {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(display_, DefaultScreen(display_));
    const ::Window cover = XCreateWindow(
        display_, DefaultRootWindow(display_), 0, 0, canvas_w + 50, canvas_h + 50, 0,
        CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(display_, cover);
    XSync(display_, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    XDestroyWindow(display_, cover);
    XSync(display_, False);
  }

  // Declared first, so it also covers TearDown: the window's thread or the X server could
  // leave a test waiting.
  testing::Deadline deadline_;
  Display* display_ = nullptr;
};

// A picture with every kind of content: a colour ramp, lines, a frame and text.
void draw_pattern(Canvas& canvas, int seed) {
  set_foreground(canvas, black);
  set_background(canvas, white);
  clear_canvas(canvas);
  for (int y = 0; y < canvas_h; y += 1) {
    for (int x = 0; x < canvas_w; x += 1) {
      if ((x + y + seed) % 3 == 0) set_pixel(canvas, x, y, rgb(x + seed, y, (x * y) % 256));
    }
  }
  set_font(canvas, "MS Sans Serif", 12, true);
  set_foreground(canvas, rgb(seed, 0, 255 - seed));
  move_to(canvas, 60, 60);
  print_text(canvas, "Time (minutes) " + std::to_string(seed));
  set_line_width(canvas, 2);
  move_to(canvas, 40, 300);
  line_to(canvas, 400, 20 + seed);
  set_line_width(canvas, 1);
  draw_box(canvas, 40, 0, 440, 401);
}

TEST_F(WindowTest, ShowsTheCanvasAfterRedraw) {
  const auto window = create_window("window_test", canvas_w, canvas_h);
  ASSERT_NE(window, nullptr);
  Canvas canvas;
  init_canvas(canvas, canvas_w, canvas_h, window.get());
  redraw(canvas);
  EXPECT_EQ(screenshot(*window), canvas.pixels);  // the dialog-face grey of a new canvas

  draw_pattern(canvas, 7);
  redraw(canvas);
  EXPECT_EQ(screenshot(*window), canvas.pixels);
}

TEST_F(WindowTest, RepaintsWhenUncoveredAndKeepsTheLatestFrame) {
  const auto window = create_window("window_test", canvas_w, canvas_h);
  ASSERT_NE(window, nullptr);
  Canvas canvas;
  init_canvas(canvas, canvas_w, canvas_h, window.get());
  draw_pattern(canvas, 11);
  redraw(canvas);
  const auto first = canvas.pixels;

  cover_and_uncover();
  EXPECT_TRUE(eventually_shows(*window, first));

  draw_pattern(canvas, 99);
  redraw(canvas);
  EXPECT_EQ(screenshot(*window), canvas.pixels);
  cover_and_uncover();
  EXPECT_TRUE(eventually_shows(*window, canvas.pixels));
}

TEST_F(WindowTest, IsAFixedSizeTitledWindowThatStaysOpen) {
  const auto window = create_window("window_test title", canvas_w, canvas_h);
  ASSERT_NE(window, nullptr);
  const ::Window id = x11_window_id(*window);

  char* name = nullptr;
  ASSERT_NE(XFetchName(display_, id, &name), 0);
  EXPECT_EQ(std::string(name), "window_test title");
  XFree(name);

  XWindowAttributes attributes;
  ASSERT_NE(XGetWindowAttributes(display_, id, &attributes), 0);
  EXPECT_EQ(attributes.width, canvas_w);
  EXPECT_EQ(attributes.height, canvas_h);
  EXPECT_EQ(attributes.map_state, IsViewable);

  XSizeHints hints{};
  long supplied = 0;
  ASSERT_NE(XGetWMNormalHints(display_, id, &hints, &supplied), 0);
  EXPECT_TRUE((hints.flags & PMinSize) && (hints.flags & PMaxSize));
  EXPECT_EQ(hints.min_width, canvas_w);
  EXPECT_EQ(hints.max_width, canvas_w);
  EXPECT_EQ(hints.min_height, canvas_h);
  EXPECT_EQ(hints.max_height, canvas_h);

  // A close request from the window manager is refused: the window still shows new frames.
  XEvent close{};
  close.xclient.type = ClientMessage;
  close.xclient.window = id;
  close.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  close.xclient.format = 32;
  close.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  close.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, id, False, NoEventMask, &close);
  XSync(display_, False);
  Canvas canvas;
  init_canvas(canvas, canvas_w, canvas_h, window.get());
  draw_pattern(canvas, 3);
  redraw(canvas);
  ASSERT_NE(XGetWindowAttributes(display_, id, &attributes), 0);
  EXPECT_EQ(attributes.map_state, IsViewable);
  EXPECT_EQ(screenshot(*window), canvas.pixels);
}

// Restores DISPLAY as it was when the test ends.
class DisplayVariable {
 public:
  DisplayVariable() {
    if (const char* v = std::getenv("DISPLAY")) saved_ = v;
  }
  ~DisplayVariable() {
    if (saved_) {
      setenv("DISPLAY", saved_->c_str(), 1);
    } else {
      unsetenv("DISPLAY");
    }
  }

 private:
  std::optional<std::string> saved_;
};

TEST(WindowWithoutDisplay, IsNotCreated) {
  DisplayVariable keep;
  for (const char* display : {":4093", ""}) {
    setenv("DISPLAY", display, 1);
    EXPECT_EQ(create_window("window_test", canvas_w, canvas_h), nullptr) << display;
  }
  unsetenv("DISPLAY");
  EXPECT_EQ(create_window("window_test", canvas_w, canvas_h), nullptr);
}

}  // namespace
}  // namespace lyap
