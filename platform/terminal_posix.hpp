// The terminal console on explicit descriptors, for callers that are not the program's main
// line: open_terminal_console() is this on standard input and output.
#pragma once

#include <memory>

#include "platform/console.hpp"

namespace lyap {

// Keys come from `input_fd` (raw keyboard mode while the console lives when it is a terminal;
// its bytes otherwise), text goes to `output_fd` (colours and titles only when that is a
// terminal and TERM is set and not "dumb"). Neither descriptor is closed.
std::unique_ptr<Console> open_terminal_console(int input_fd, int output_fd);

}  // namespace lyap
