#pragma once

#include "numerics/numerics.hpp"

namespace lyap {

// How long the parameter set is to write: for each non-zero element of p(0..5), 1 when its
// magnitude is exactly 1, else the length of its trimmed number_str plus one.
long digit_sum(const Params& p);
// One element's share of that sum, so a set can be measured value by value as it is drawn.
long digit_sum_term(long double v);

}  // namespace lyap
