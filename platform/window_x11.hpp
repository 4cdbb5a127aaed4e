// What the X11 window backend shows of itself beyond platform/window.hpp: its window id, so a
// separate X connection (a test, a screenshot tool) can find and read the window.
#pragma once

#include "platform/window.hpp"

namespace lyap {

// The X window id of a window made by create_window with the X11 backend; 0 for any other.
unsigned long x11_window_id(const Window& window);

}  // namespace lyap
