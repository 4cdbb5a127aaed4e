#include "driver/run.hpp"

#include <cmath>
#include <utility>

#include "driver/driver.hpp"
#include "graphics/plots.hpp"
#include "platform/process.hpp"
#include "report/console_report.hpp"
#include "report/digit_sum.hpp"
#include "report/results_file.hpp"

namespace lyap {

void plot_success(RunState& s, Canvas& canvas, Rng& rng) {
  plot_portrait(canvas, plot_w, plot_h, plot_margin, s.x, s.f, dt, 0, 0, s.p, rng);
}

namespace {

// Reports a failed write to a file once, and again only after a write to it has worked.
void watch_write(RunEnv& env, bool& alarmed, const std::string& path, const WriteOutcome& write) {
  if (write.kind == WriteOutcome::written) alarmed = false;
  if (write.kind != WriteOutcome::failed || alarmed) return;
  alarmed = true;
  report_write_failure(env.console, path, write.reason);
}

}  // namespace

void start_up(RunState& s, RunEnv& env) {
  s.max_digit_sum = (3 + s.max_decimals) * n_params;
  s.eps_sq = eps * eps;
  env.rng = make_rng(env.clock.time_of_day_s());

  const ResultsStart results = start_results_file(env.base_name);
  const WriteOutcome progress =
      start_progress_file(env.progress_path(), s.max_digit_sum, s.clock, env.clock);

  env.console.set_title(env.base_name, {});
  env.console.move_window(plot_margin + plot_w + 6, 0);
  env.console.clear();
  // Said after the console is cleared, so that they stay on screen.
  if (!results.kept_as.empty())
    report_line(env.console, "Earlier results kept in ", results.kept_as);
  if (!results.not_kept.empty()) {
    report_write_failure(env.console, env.results_path(),
                         "the earlier results could not be kept aside (" + results.not_kept +
                             "), so new finds follow them in this file");
  }
  watch_write(env, env.write_alarms.results, env.results_path(), results.created);
  watch_write(env, env.write_alarms.progress, env.progress_path(), progress);

  env.window = env.open_window(env.base_name, plot_margin + plot_w, plot_h + 24);
  init_canvas(env.canvas, plot_margin + plot_w, plot_h + 24, env.window.get());
  set_foreground(env.canvas, black);
  set_background(env.canvas, white);
  env.console.bring_to_front();

  for (int i = 1; i <= n_dims; ++i) s.x_centre[i] = rnd(env.rng) - 0.5L;
  for (int i = 1; i <= n_params; ++i) {
    s.p_centre[i] = 1.0L;
    s.p_decimals[i] = s.max_decimals;
  }
  s.trial_no = 0;
  s.n_found = 0;
}

namespace {

// Everything an accepted success does, in order, unless the plot drops it.
void handle_success(RunState& s, RunEnv& env, const TrialOutcome& found) {
  report_success_start(env.console);
  env.plot(s, env.canvas, env.rng);
  // Not scaled, or carried off to infinity or NaN by the plot: drop the success.
  if (!(std::fabs(s.x[1]) <= x_limit)) return;
  s.n_found += 1;
  watch_write(env, env.write_alarms.bitmap, env.bitmap_path(),
              save_bitmap(env.canvas, env.bitmap_path()));

  s.max_digit_sum = digit_sum(s.p);
  success_signal(env.console, s.max_digit_sum, s.prev_digit_sum);
  s.prev_digit_sum = s.max_digit_sum;
  s.zeros_str.assign(static_cast<std::size_t>(s.max_decimals), '0');

  s.k_aux = k_aux(s.p);
  s.invariant_end = invariant(s.x, s.p) / s.invariant_start;

  watch_write(
      env, env.write_alarms.results, env.results_path(),
      append_result(env.results_path(), found, s.max_digit_sum, s.zeros_str, s.invariant_end));
  report_success_lines(env.console, s.n_found, found, s.zeros_str, s.invariant_end,
                       s.max_digit_sum);
  s.x_centre = found.x_start;

  adapt_centres(s);
  watch_write(env, env.write_alarms.progress, env.progress_path(),
              append_progress(env.progress_path(), s.max_digit_sum, s.clock, env.clock));
}

}  // namespace

void search_until_escape(RunState& s, RunEnv& env) {
  TrialPool pool(env.workers, env.trial, s);
  TrialJob job;
  TrialOutcome outcome;
  for (;;) {
    while (!pool.full()) {
      draw_trial(s, env.rng, job);
      pool.submit(job);
    }
    pool.take_oldest(job, outcome);
    s.trial_no += 1;
    // The keyboard is looked at once per trial, after it: a trial is never interrupted. The
    // trials still running are dropped when the pool goes.
    if (env.console.read_key() == 27) return;
    if (outcome.step < 10) {
      report_failure(env.console, outcome.step);
    } else if (outcome.le > le_threshold) {
      // The trials drawn ahead were drawn around the old centres, and the plot draws from the
      // generator: they go without a trace, and the generator goes back to where this trial's
      // draw left it, so the next draw is the one a single thread would make.
      pool.drop_all();
      env.rng = job.rng_after_draw;
      take_outcome(s, outcome);
      handle_success(s, env, outcome);
    }
  }
}

void end_of_run(RunState& s, RunEnv& env) {
  env.console.new_line();
  env.console.print_text("Trials =");
  console_print_number(env.console, s.trial_no);
  env.console.new_line();
  env.console.new_line();
  plot_progress(env.canvas, env.progress_path(), plot_w, plot_h);
  watch_write(env, env.write_alarms.bitmap, env.bitmap_path(),
              save_bitmap(env.canvas, env.bitmap_path()));
  remove_file(env.progress_path());
  env.console.wait_key();
}

int run_in_folder(RunState& s, RunEnv& env) {
  // The files are named relative to the current folder.
  std::string folder = current_folder();
  if (folder.empty()) folder = ".";
  std::string reason;
  switch (lock_folder(folder, reason)) {
    case FolderLock::held:
      break;
    case FolderLock::taken:
      report_line(env.console, "A search is already running in ", folder);
      return 1;
    case FolderLock::unavailable:
      // Never a search without the lock: a second one could not tell that this one runs.
      reason.insert(0, "cannot be locked for a search (");
      reason += ')';
      report_write_failure(env.console, folder, reason);
      return 1;
  }
  start_up(s, env);
  search_until_escape(s, env);
  end_of_run(s, env);
  return 0;
}

int run_program(std::string base_name) {
  survive_file_size_limit();
  auto console = open_terminal_console();
  RunEnv env{*console, system_clock(), std::move(base_name)};
  env.workers = usable_processors();
  auto state = std::make_unique<RunState>();
  return run_in_folder(*state, env);
}

}  // namespace lyap
