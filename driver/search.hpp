// One trial of the search and the random walk through parameter space around it.
#pragma once

#include "driver/run_state.hpp"

namespace lyap {

// Draws p(3..5) around the centres until a set passes the budget and the domain tests, then
// the initial condition x_start around x_centre, with x and the companion x_near set up.
// Returns the number of parameter sets drawn, the accepted one included.
long draw_candidate(RunState& s, Rng& rng);
// The same, giving up after `most_sets` sets rejected: then it returns 0 and leaves the start
// alone, and a call with the generator as it was left goes on with the next set.
long draw_candidate(RunState& s, Rng& rng, long most_sets);

// Runs the two-trajectory Lyapunov test from x and x_near. Leaves the end code 1..9 in
// s.step, or the step count of a success (29998 + 10000 k). A trial cancelled through
// s.cancel stops within 1024 steps, with step 0.
void run_trial(RunState& s, Rng& rng);

enum class Check { go_on, success, failed };
// The statistical check on the two full histories, with f the derivative of the divergence
// estimate: skipped while the state moves outwards (radial_rate > 0); otherwise it may end the
// trial with code 8, 2 or 3 (left in step) or as a success.
Check judge_histories(RunState& s);

// The parameter centres move to the found values and each gets the fewest decimals (0..6)
// that represent it; max_decimals becomes the largest of them, at least 1.
void adapt_centres(RunState& s);
// The fewest decimals, 0..6, giving the same value as 6 decimals.
long decimals_needed(long double v);

}  // namespace lyap
