#include "driver/run.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>
#include <vector>

#include "driver/driver.hpp"
#include "driver/status.hpp"
#include "driver/unfinished.hpp"
#include "graphics/plots.hpp"
#include "platform/process.hpp"
#include "report/console_report.hpp"
#include "report/digit_sum.hpp"
#include "report/kept_files.hpp"
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

// The state file is written every quarter of a minute while the search runs, so an interruption
// loses little of its counts.
constexpr long double state_interval_s = 15;

void save_state(RunState& s, RunEnv& env, long long elapsed_s) {
  watch_write(env, env.write_alarms.state, env.state_path(),
              write_state_file(env.state_path(), search_state_of(s, elapsed_s)));
  env.standing.next_state_s = env.clock.monotonic_s() + state_interval_s;
}

void show_standing(RunState& s, RunEnv& env, long double now_s) {
  env.standing.rate.add(now_s, s.trial_no);
  env.console.set_title(env.base_name, status_text(s.trial_no, env.standing.rate.per_second(),
                                                   s.n_found, run_time_now(s.clock, env.clock)));
  env.standing.next_title_s = now_s + 1;
}

// About once a second the title, and every quarter of a minute the state file.
void keep_up(RunState& s, RunEnv& env) {
  const long double now_s = env.clock.monotonic_s();
  if (now_s >= env.standing.next_title_s) show_standing(s, env, now_s);
  if (now_s >= env.standing.next_state_s) save_state(s, env, run_time_now(s.clock, env.clock));
}

// "yyyy-mm-dd hh:mm" in local time.
std::string local_minute_text(std::int64_t unix_s) {
  const LocalTime t = local_time_of(unix_s);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute);
  return text;
}

// An unfinished search that cannot be trusted keeps its progress and state beside the new
// search, under dated names.
struct KeptUnfinished {
  std::string names;                                        // where they went, ", " between
  std::vector<std::pair<std::string, std::string>> stayed;  // file and reason, for those that stay
};
KeptUnfinished keep_unfinished_aside(RunEnv& env) {
  KeptUnfinished kept;
  for (const std::string& path : {env.progress_path(), env.state_path()}) {
    if (!look_at_file(path).exists) continue;
    const KeptAside aside = keep_aside(env.base_name, path.substr(path.rfind('.') + 1));
    if (aside.name.empty()) {
      kept.stayed.emplace_back(path, "could not be kept aside (" + aside.failure + ")");
      continue;
    }
    if (!kept.names.empty()) kept.names += ", ";
    kept.names += aside.name;
  }
  return kept;
}

}  // namespace

void start_up(RunState& s, RunEnv& env) {
  s.max_digit_sum = (3 + s.max_decimals) * n_params;
  s.eps_sq = eps * eps;
  env.rng = make_rng(env.clock.time_of_day_s());

  remove_stale_temporaries(
      {env.results_path(), env.progress_path(), env.bitmap_path(), env.state_path()});
  const Unfinished unfinished = find_unfinished(env.state_path(), env.progress_path());
  const bool continuing = unfinished.kind == Unfinished::sound;
  KeptUnfinished kept_unfinished;
  if (unfinished.kind == Unfinished::unsound) kept_unfinished = keep_unfinished_aside(env);
  const ResultsStart results = start_results_file(env.base_name, continuing);
  WriteOutcome progress;
  if (continuing) {
    continue_from(s, unfinished.state);
    // The run time goes on from where it stopped, and never goes back behind a record.
    const long long recorded = round_to_long(unfinished.progress.last_time_s);
    resume_run_clock(s.clock, std::max(unfinished.state.elapsed_s, recorded), env.clock);
    // An interruption between the state and the record of a find kept the record out.
    if (unfinished.progress.records <= s.n_found) {
      progress = append_progress_record(env.progress_path(), s.clock.elapsed_s, s.max_digit_sum);
    }
  } else {
    s.began_unix_s = env.clock.unix_time_s();
    s.trial_no = 0;
    s.n_found = 0;
    s.tally = {};
    s.closest = {};
    progress = start_progress_file(env.progress_path(), s.max_digit_sum, s.clock, env.clock);
  }

  env.console.set_title(env.base_name, status_text(s.trial_no, 0, s.n_found, s.clock.elapsed_s));
  env.console.move_window(plot_margin + plot_w + 6, 0);
  env.console.clear();
  // Said after the console is cleared, so that they stay on screen.
  if (unfinished.kind == Unfinished::unsound) {
    report_write_failure(env.console, env.state_path(),
                         "the unfinished search cannot be continued, as " + unfinished.why +
                             "; a new search begins");
  }
  if (!kept_unfinished.names.empty()) {
    report_line(env.console, "The unfinished search's files kept in ", kept_unfinished.names);
  }
  for (const auto& [path, reason] : kept_unfinished.stayed) {
    report_write_failure(env.console, path, reason);
  }
  if (continuing) {
    env.console.set_colour(colour_complexity);
    report_line(env.console, "Continuing the search begun " + local_minute_text(s.began_unix_s) +
                                 ": " + std::to_string(s.trial_no) + " trials, " +
                                 std::to_string(s.n_found) + " finds, complexity " +
                                 std::to_string(s.max_digit_sum));
  }
  if (!results.kept_as.empty()) {
    report_line(env.console, "Earlier results kept in ", results.kept_as);
  }
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

  if (!continuing) {
    for (int i = 1; i <= n_dims; ++i) s.x_centre[i] = rnd(env.rng) - 0.5L;
    for (int i = 1; i <= n_params; ++i) {
      s.p_centre[i] = 1.0L;
      s.p_decimals[i] = s.max_decimals;
    }
  }
  save_state(s, env, s.clock.elapsed_s);
  const long double now_s = env.clock.monotonic_s();
  env.standing.rate.add(now_s, s.trial_no);
  env.standing.next_title_s = now_s + 1;
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
  // The state before the record, so that the progress file never runs ahead of the state.
  advance_run_clock(s.clock, env.clock);
  save_state(s, env, s.clock.elapsed_s);
  watch_write(env, env.write_alarms.progress, env.progress_path(),
              append_progress_record(env.progress_path(), s.clock.elapsed_s, s.max_digit_sum));
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
    // While a long trial holds the head (or a busy machine the workers), the title and the
    // state file still keep up.
    if (!pool.take_oldest(job, outcome, std::chrono::seconds(1))) {
      keep_up(s, env);
      continue;
    }
    count_trial(s, outcome);
    keep_up(s, env);
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
  console_print_number(env.console, static_cast<long double>(s.trial_no));
  env.console.new_line();
  report_search_summary(env.console, s.tally, s.closest);
  env.console.new_line();
  plot_progress(env.canvas, env.progress_path(), plot_w, plot_h);
  watch_write(env, env.write_alarms.bitmap, env.bitmap_path(),
              save_bitmap(env.canvas, env.bitmap_path()));
  // Escape finishes the search: nothing is left to continue from.
  remove_file(env.progress_path());
  remove_file(env.state_path());
  remove_stale_temporaries(
      {env.results_path(), env.progress_path(), env.bitmap_path(), env.state_path()});
  env.console.wait_key();
}

int run_in_folder(RunState& s, RunEnv& env) {
  // The lock and the files go by the current folder itself, which works at any depth; its name
  // is only for the messages.
  std::string folder = current_folder();
  if (folder.empty()) folder = ".";
  std::string reason;
  switch (lock_folder(".", reason)) {
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
