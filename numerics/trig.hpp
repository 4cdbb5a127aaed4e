// Sine and cosine for the equations of motion. The model takes both of one angle in every
// call, so they come from this one place, where a faster pair can replace the library's.
#pragma once

namespace lyap {

// s = sin(a), c = cos(a), a in radians.
void model_sincos(long double a, long double& s, long double& c);

}  // namespace lyap
