// The on-screen graphics window. It only shows pictures: all drawing happens in the in-memory
// canvas (graphics/canvas.hpp), which hands finished frames to the window.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace lyap {

struct Window {
  virtual ~Window() = default;
  // Shows the given frame (width x height colour values red + 256 green + 65536 blue, rows
  // top first) and returns once the window has repainted with it. The window keeps its own
  // copy, from which it repaints on exposure on its own thread.
  virtual void present(const std::int32_t* pixels) = 0;
};

// Creates the window with its own event-loop thread, client area width x height at screen
// (0, 0), not resizable. Returns null when there is no display, or the display refuses the
// connection; the program then runs on without a window.
std::unique_ptr<Window> create_window(std::string_view title, int width, int height);

}  // namespace lyap
