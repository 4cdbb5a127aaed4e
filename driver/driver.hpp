#pragma once

namespace lyap {

// The whole program: start-up, the search until Escape, the end of run. Returns the exit
// status.
int run_program(int argc, char** argv);

}  // namespace lyap
