#pragma once

#include <string>

namespace lyap {

// The running executable's file name without directory and extension (from /proc/self/exe,
// falling back to argv0). It names the output files and titles both windows.
std::string program_base_name(const char* argv0);

}  // namespace lyap
