#include "driver/check.hpp"

#include <cmath>
#include <limits>
#include <memory>

#include "driver/run.hpp"
#include "driver/search.hpp"
#include "graphics/canvas.hpp"
#include "report/end_codes.hpp"
#include "report/real_text.hpp"

namespace lyap {

std::string check_text(const RunState& s) {
  std::string text;
  const auto line = [&](const char* name, const std::string& value) {
    text += name;
    text += ": ";
    text += value;
    text += '\n';
  };
  line("p", shortest_texts(s.p));
  line("x_start", shortest_texts(s.x_start));
  if (s.step >= 10) {
    line("end", "chaotic");
  } else {
    line("end", std::to_string(s.step) + " (" + std::string(end_code_meaning(s.step)) + ")");
  }
  line("steps", std::to_string(s.step >= 10 ? s.step : s.steps));
  line("le", shortest_text(s.le));
  line("le_range", shortest_text(s.le_range));
  line("band_edge", shortest_text(s.le - s.le_range / le_band_divisor) +
                        " (le - 10 le_range; a find needs above 0.005)");
  line("best_band_edge", s.best_edge > -std::numeric_limits<long double>::infinity()
                             ? shortest_text(s.best_edge)
                             : "none (no check judged the trial)");
  line("div_mean", shortest_text(s.div_mean));
  line("n_samples", std::to_string(s.n_samples));
  line("invariant_ratio", shortest_text(invariant(s.x, s.p) / s.invariant_start));
  line("checks_run", std::to_string(s.checks_run));
  line("checks_skipped", std::to_string(s.checks_skipped));
  line("x", shortest_texts(s.x));
  return text;
}

std::unique_ptr<RunState> run_trial_again(const Params& p, const State& x_start) {
  auto s = std::make_unique<RunState>();
  s->eps_sq = eps * eps;
  s->p = p;
  // The trial as the draw leaves it: the companion eps away along the diagonal.
  for (int j = 1; j <= n_dims; ++j) {
    s->x_start[j] = x_start[j];
    s->x[j] = s->x_start[j];
    s->x_near[j] = s->x[j] + eps / std::sqrt(static_cast<long double>(n_dims));
  }
  // The search seeds each trial's jitter from its generator; the jitter only touches components
  // below 1e-1000 in size, so any seed gives the trial the search ran.
  Rng jitter = seeded_rng(0);
  run_trial(*s, jitter);
  return s;
}

CheckReport run_check(const CheckOptions& check) {
  Params p = check.p;
  p[2] = fixed_p2;
  const std::unique_ptr<RunState> s = run_trial_again(p, check.x_start);

  CheckReport report;
  report.text = check_text(*s);
  if (!check.picture.empty()) {
    Canvas canvas;
    init_canvas(canvas, plot_margin + plot_w, plot_h + 24, nullptr);
    set_foreground(canvas, black);
    set_background(canvas, white);
    // The shading draws from a generator of its own.
    Rng shading = seeded_rng(0);
    plot_success(*s, canvas, shading);
    const WriteOutcome saved = save_bitmap(canvas, check.picture);
    if (saved.kind != WriteOutcome::written) {
      report.complaint =
          check.picture + ": the picture could not be saved (" + saved.reason + ")\n";
    }
  }
  return report;
}

}  // namespace lyap
