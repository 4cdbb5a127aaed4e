// A straightforward trial kept as the yardstick for the program's own: the model's formulas
// evaluated as written in every call, with the C library's sinl and cosl, and each trajectory
// integrated on its own. Same tests, same end codes, same use of the random source.
#pragma once

#include "driver/run_state.hpp"

namespace lyap::plain {

void model_derivs(const State& x, State& f, const Params& p);
void rk4_step(const State& y, State& dydx, long double h, State& y_out, const Params& p);
void advance(const State& y, State& dydx, long double h, State& y_out, const Params& p, Rng& rng);
void run_trial(RunState& s, Rng& rng);

}  // namespace lyap::plain
