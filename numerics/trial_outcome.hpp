// What one trial found, handed back by whoever ran it: the parameters and start it ran from,
// its end, and the estimates it made.
#pragma once

#include <limits>

#include "numerics/numerics.hpp"

namespace lyap {

struct TrialOutcome {
  Params p{};
  State x_start{};
  State x{};      // the final state of the reference trajectory
  State f{};      // the derivative last evaluated there
  long step = 0;  // end code 1..9, or the step count of a success
  long double le = 0;
  long double le_range = 0;
  long double div_mean = 0;
  long n_samples = 0;
  long double invariant_start = 0;
  // The highest lower band edge le - le_range / le_band_divisor its checks reached; -inf when
  // no check judged it.
  long double best_edge = -std::numeric_limits<long double>::infinity();
};

}  // namespace lyap
