#pragma once

#include <string>

#include "driver/command_line.hpp"

namespace lyap {

// The whole search: start-up, the search until Escape (or the planned number of trials), the
// end of run. `base_name` (the executable's, see program_base_name) names the files and the
// windows. Returns the exit status.
int run_program(std::string base_name, const SearchOptions& options = {});

}  // namespace lyap
