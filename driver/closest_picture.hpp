// Until the first find, the window shows the phase portrait of the search's closest approach,
// so that it is never blank for the days a find may take.
#pragma once

#include "driver/run_state.hpp"
#include "graphics/canvas.hpp"

namespace lyap {

// Runs the closest approach's trial again and draws its portrait as a find's is drawn, with a
// caption that says what it is. The trial and the picture draw from generators of their own:
// the search's random sequence does not move. The canvas is shown, never saved as the bitmap.
void show_closest_approach(Canvas& canvas, const ClosestApproach& closest);

}  // namespace lyap
