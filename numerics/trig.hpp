// Sine and cosine for the equations of motion. The model takes both of one angle in every
// call, so they come from this one place, where a faster pair can replace the library's.
#pragma once

namespace lyap {

// s = sin(a), c = cos(a), a in radians: fast_sincos, or the C library's sinl and cosl when
// the build sets LYAPSEARCH_REFERENCE_TRIG, so that runs can be reproduced against the system
// library.
void model_sincos(long double a, long double& s, long double& c);

// Both of one angle from one argument reduction and two short series, several times faster
// than sinl plus cosl. Each result is within 1 ulp of the correctly rounded value (the
// largest error seen is about 0.8 ulp). Arguments beyond 10^6 in size, infinities and NaN go
// to sinl and cosl, so those results are exactly the library's.
void fast_sincos(long double a, long double& s, long double& c);

}  // namespace lyap
