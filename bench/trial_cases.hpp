// The whole trials that the benchmarks time: BM_trial_full's and BM_trial_drifting's, and
// scripts/compare-trials' (which includes this file beside its own, with each side's sources).
#pragma once

#include <memory>

#include "driver/search.hpp"

namespace lyap::trial_cases {

// A bounded trajectory whose exponent never settles: the trial runs to code 5.
inline const Params undecided_p = {0, 1.000136L, 0.5L, 2.55L, 0.58L, 0.47L};
inline const State undecided_start = {0, 2, -1.1L, 0.1L, 1.1L};

// On this orbit x3 drifts, and the angle 2 p4 x3 passes 100 radians before the trial ends
// with code 6 at step 11133: the sine and cosine need their argument reduction here, where
// the undecided orbit above keeps the angle below 0.26.
inline const State drifting_start = {0, 1.5L, 0.3L, 0, 3};

// The trial state as the candidate draw leaves it.
inline std::unique_ptr<RunState> trial_from(const State& start) {
  auto s = std::make_unique<RunState>();
  s->eps_sq = eps * eps;
  s->p = undecided_p;
  s->x_start = start;
  s->x = start;
  for (int j = 1; j <= n_dims; ++j) s->x_near[j] = s->x[j] + 5e-9L;
  return s;
}

}  // namespace lyap::trial_cases
