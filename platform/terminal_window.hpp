// The window of the terminal emulator we run in, found through the WINDOWID variable that
// xterm-like terminals export. Both calls quietly do nothing without a display, without
// WINDOWID, or when the window server refuses.
#pragma once

namespace lyap {

// Moves the terminal's top-level window so its top-left corner is at screen pixel (x, y),
// keeping its size and stacking order.
void move_terminal_window(int x, int y);

// Raises the terminal's window and gives it the keyboard focus.
void raise_terminal_window();

}  // namespace lyap
