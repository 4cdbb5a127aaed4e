// The Windows window, looked at from outside through its handle: its size and place, and what
// it shows once present() has returned.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "deadline.hpp"
#include "platform/window_win32.hpp"

namespace lyap {
namespace {

constexpr int canvas_w = 440;
constexpr int canvas_h = 424;

// The window's client area as colour values red + 256 green + 65536 blue, rows top first.
std::vector<std::int32_t> screenshot(HWND window) {
  std::vector<std::int32_t> pixels;
  HDC screen = GetDC(window);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = canvas_w;
  info.bmiHeader.biHeight = -canvas_h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap != nullptr) {
    const HGDIOBJ old = SelectObject(memory, bitmap);
    if (BitBlt(memory, 0, 0, canvas_w, canvas_h, screen, 0, 0, SRCCOPY)) {
      GdiFlush();
      const auto* p = static_cast<const std::uint32_t*>(bits);
      for (int i = 0; i < canvas_w * canvas_h; ++i) {
        pixels.push_back(static_cast<std::int32_t>(((p[i] >> 16) & 0xFF) | (p[i] & 0xFF00) |
                                                   ((p[i] & 0xFF) << 16)));
      }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(window, screen);
  return pixels;
}

TEST(Win32Window, ShowsEachFrameBeforePresentReturns) {
  const testing::Deadline deadline;
  const auto window = create_window("lyapsearch", canvas_w, canvas_h);
  if (window == nullptr) GTEST_SKIP() << "no window station to make windows on";
  const HWND handle = static_cast<HWND>(win32_window_handle(*window));
  ASSERT_NE(handle, nullptr);

  RECT client{}, outer{};
  ASSERT_TRUE(GetClientRect(handle, &client));
  EXPECT_EQ(client.right - client.left, canvas_w);
  EXPECT_EQ(client.bottom - client.top, canvas_h);
  ASSERT_TRUE(GetWindowRect(handle, &outer));
  EXPECT_EQ(outer.left, 0);
  EXPECT_EQ(outer.top, 0);
  EXPECT_EQ(GetWindowLongW(handle, GWL_STYLE) & WS_THICKFRAME, 0) << "resizable";

  // Frames that differ in every pixel, each one on the screen as soon as present() returns.
  std::vector<std::int32_t> frame(canvas_w * canvas_h);
  for (int round = 0; round < 3; ++round) {
    for (int y = 0; y < canvas_h; ++y) {
      for (int x = 0; x < canvas_w; ++x) {
        frame[y * canvas_w + x] = (x + round * 85) % 256 + 256 * (y % 256) + 65536 * (round * 97);
      }
    }
    window->present(frame.data());
    EXPECT_EQ(screenshot(handle), frame) << "round " << round;
  }
}

}  // namespace
}  // namespace lyap
