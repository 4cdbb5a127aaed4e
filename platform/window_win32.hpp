// What the Windows window backend shows of itself beyond platform/window.hpp: its window handle,
// so a test can look at the window from outside.
#pragma once

#include "platform/window.hpp"

namespace lyap {

// The HWND of a window made by create_window with the Windows backend, as a pointer; null for
// any other.
void* win32_window_handle(const Window& window);

}  // namespace lyap
