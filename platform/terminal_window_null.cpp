// Built without X11: the terminal's window cannot be reached.
#include "platform/terminal_window.hpp"

namespace lyap {

void move_terminal_window(int, int) {}
void raise_terminal_window() {}

}  // namespace lyap
