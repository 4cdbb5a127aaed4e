#include "driver/closest_picture.hpp"

#include <cmath>
#include <memory>

#include "driver/run.hpp"
#include "driver/search.hpp"
#include "report/console_report.hpp"

namespace lyap {

void show_closest_approach(Canvas& canvas, const ClosestApproach& closest) {
  if (!closest.reached) return;
  // A run state is large (its histories): made for the picture alone, which is rare.
  auto s = std::make_unique<RunState>();
  s->eps_sq = eps * eps;
  s->p = closest.p;
  for (int j = 1; j <= n_dims; ++j) {
    s->x_start[j] = closest.x_start[j];
    s->x[j] = closest.x_start[j];
    s->x_near[j] = s->x[j] + eps / std::sqrt(static_cast<long double>(n_dims));
  }
  Rng jitter = seeded_rng(0);
  run_trial(*s, jitter);
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
