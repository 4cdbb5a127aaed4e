#include "driver/closest_picture.hpp"

#include <cmath>
#include <memory>

#include "driver/check.hpp"
#include "driver/run.hpp"
#include "driver/search.hpp"
#include "report/console_report.hpp"

namespace lyap {

void show_closest_approach(Canvas& canvas, const ClosestApproach& closest) {
  if (!closest.reached) return;
  // A run state is large (its histories): made for the picture alone, which is rare.
  const std::unique_ptr<RunState> s = run_trial_again(closest.p, closest.x_start);
  Rng shading = seeded_rng(1);
  plot_success(*s, canvas, shading);
  // An orbit that cannot be scaled leaves the canvas as it was.
  if (!(std::fabs(s->x[1]) <= x_limit)) return;
  // In the plot's top right corner: the strip below holds the axis labels.
  const std::string caption =
      "closest approach, no find yet (edge " + band_edge_text(closest.edge) + ")";
  set_font(canvas, "MS Sans Serif", 10, false);
  const TextSize size = text_size(canvas, caption);
  move_to(canvas, plot_margin + plot_w - size.width - 4, 2);
  print_text(canvas, caption);
  redraw(canvas);
}

}  // namespace lyap
