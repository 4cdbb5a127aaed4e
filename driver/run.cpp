#include "driver/run.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>
#include <vector>

#include "driver/closest_picture.hpp"
#include "driver/driver.hpp"
#include "driver/status.hpp"
#include "driver/unfinished.hpp"
#include "graphics/plots.hpp"
#include "platform/process.hpp"
#include "platform/shown_text.hpp"
#include "report/console_report.hpp"
#include "report/digit_sum.hpp"
#include "report/kept_files.hpp"
#include "report/number_format.hpp"
#include "report/results_file.hpp"

namespace lyap {

void plot_success(RunState& s, Canvas& canvas, Rng& rng) {
  plot_portrait(canvas, plot_w, plot_h, plot_margin, s.x, s.f, dt, 0, 0, s.p, rng);
}

namespace {

// The p1 setting after `lead` ("free" or the value), or nothing for the model's own p1 when
// `lead` is not empty.
std::string p1_shown(const P1Setting& p1, std::string_view lead) {
  if (!lead.empty() && p1 == P1Setting{}) return {};
  std::string text(lead);
  if (p1.free) return text + "free";
  return text + without_sign_space(number_str(p1.value));
}

// The temporaries that an interrupted whole-file write of any of the search's files may have
// left.
void remove_temporaries(const RunEnv& env) {
  remove_stale_temporaries(
      {env.results_path(), env.progress_path(), env.bitmap_path(), env.state_path()});
}

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
                                                   s.n_found, run_time_now(s.clock, env.clock)) +
                                           p1_shown(s.p1, " \xB7 p1 "));
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

std::uint64_t time_of_day_seed(long double time_of_day_s) {
  return static_cast<std::uint64_t>(round_to_long(time_of_day_s * 1e6L));
}

// The first screen of a search says what the digits that fill it are, and how to stop.
constexpr std::string_view first_screen_hint[] = {
    "Each digit is a trial's end code (README: end codes).",
    "Escape finishes the search; Ctrl-C interrupts it, and the next start continues it."};

void start_up(RunState& s, RunEnv& env) {
  start_up(s, env, find_unfinished(env.state_path(), env.progress_path(), env.clock.unix_time_s()));
}

void start_up(RunState& s, RunEnv& env, const Unfinished& unfinished) {
  s.max_digit_sum = (3 + s.max_decimals) * n_params;
  s.eps_sq = eps * eps;

  remove_temporaries(env);
  const bool continuing = unfinished.kind == Unfinished::sound;
  // A continued search draws on from where its last counted trial left the generator; one
  // saved before the generator was kept goes on from a fresh seed.
  const bool exact_continuation = continuing && unfinished.state.has_generator;
  if (!exact_continuation) {
    s.seed = env.options.seed ? *env.options.seed : time_of_day_seed(env.clock.time_of_day_s());
    env.rng = seeded_rng(s.seed);
  }
  KeptUnfinished kept_unfinished;
  if (unfinished.kind == Unfinished::unsound) kept_unfinished = keep_unfinished_aside(env);
  const ResultsStart results = start_results_file(env.base_name, continuing);
  WriteOutcome progress;
  if (continuing) {
    continue_from(s, unfinished.state);
    if (exact_continuation) env.rng = s.generator;
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
    s.p1 = env.options.p1 ? *env.options.p1 : P1Setting{};
    progress = start_progress_file(env.progress_path(), s.max_digit_sum, s.clock, env.clock);
  }

  env.console.set_title(env.base_name, status_text(s.trial_no, 0, s.n_found, s.clock.elapsed_s) +
                                           p1_shown(s.p1, " \xB7 p1 "));
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
    report_line(env.console,
                "Continuing the search begun " + local_minute_text(s.began_unix_s) + ": " +
                    std::to_string(s.trial_no) + " trials, " + std::to_string(s.n_found) +
                    " finds, complexity " + std::to_string(s.max_digit_sum) +
                    p1_shown(s.p1, ", p1 ") +
                    (exact_continuation ? ", seed " + std::to_string(s.seed)
                                        : ", with a fresh seed " + std::to_string(s.seed) +
                                              " (its state kept no generator)"));
  } else {
    report_line(env.console, "Seed " + std::to_string(s.seed));
  }
  for (const std::string_view line : first_screen_hint) report_line(env.console, line);
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
  s.generator = env.rng;
  save_state(s, env, s.clock.elapsed_s);
  if (s.n_found == 0) show_closest_approach(env.canvas, s.closest);
  const long double now_s = env.clock.monotonic_s();
  env.standing.rate.add(now_s, s.trial_no);
  env.standing.next_title_s = now_s + 1;
}

namespace {

// Everything an accepted success does, in order, unless the plot drops it.
void handle_success(RunState& s, RunEnv& env, const TrialOutcome& found) {
  report_success_start(env.console);
  env.plot(s, env.canvas, env.rng);
  // The plot draws from the generator: a continued search goes on from after it.
  s.generator = env.rng;
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

SearchEnd search_until_escape(RunState& s, RunEnv& env) {
  const auto planned_done = [&] { return env.options.trials && s.trial_no >= *env.options.trials; };
  if (planned_done()) return SearchEnd::planned_trials;
  TrialPool pool(env.workers, env.trial, s);
  TrialJob job;
  TrialOutcome outcome;
  // A few milliseconds of drawing between looks at the keys, the title and the state file: a
  // budget that a draw around the centres meets only rarely never freezes the search.
  constexpr long sets_per_look = 20000;
  bool drawing_slowly = false;
  for (;;) {
    bool drawn = true;
    while (!pool.full() && (drawn = draw_trial(s, env.rng, job, sets_per_look))) pool.submit(job);
    if (!drawn && pool.empty()) {
      // Nothing runs while the draw goes on: the main thread draws at the workers' priority.
      if (!drawing_slowly) lower_thread_priority();
      drawing_slowly = true;
      keep_up(s, env);
      if (env.console.read_key() == 27) return SearchEnd::escape;
      continue;
    }
    // While a long trial holds the head (or a busy machine the workers), the title and the
    // state file still keep up.
    if (!pool.take_oldest(job, outcome, std::chrono::seconds(1))) {
      keep_up(s, env);
      continue;
    }
    const long double closest_before =
        s.closest.reached ? s.closest.edge : -std::numeric_limits<long double>::infinity();
    count_trial(s, outcome);
    // The trials drawn ahead are not counted yet: a continued search draws them again.
    s.generator = job.rng_after_draw;
    // The keyboard is looked at once per trial, after it: a trial is never interrupted. The
    // trials still running are dropped when the pool goes.
    if (env.console.read_key() == 27) return SearchEnd::escape;
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
    if (s.n_found == 0 && s.closest.reached && s.closest.edge > closest_before) {
      show_closest_approach(env.canvas, s.closest);
    }
    // Only after a success is handled: a state saved between its count and its handling would
    // continue past a find that never happened.
    keep_up(s, env);
    if (planned_done()) return SearchEnd::planned_trials;
  }
}

void end_of_run(RunState& s, RunEnv& env, SearchEnd how) {
  env.console.new_line();
  env.console.print_text("Trials =");
  console_print_number(env.console, static_cast<long double>(s.trial_no));
  env.console.new_line();
  report_search_summary(env.console, s.tally, s.closest, env.base_name);
  env.console.new_line();
  // Drawn to the end, not written: the file is removed just below, and it records only budgets.
  plot_progress(env.canvas, env.progress_path(), plot_w, plot_h, run_time_now(s.clock, env.clock));
  watch_write(env, env.write_alarms.bitmap, env.bitmap_path(),
              save_bitmap(env.canvas, env.bitmap_path()));
  // Escape finishes the search: nothing is left to continue from.
  remove_file(env.progress_path());
  remove_file(env.state_path());
  remove_temporaries(env);
  if (how == SearchEnd::escape) {
    env.console.print_text("Press any key to leave.");
    env.console.wait_key();
  }
}

int run_in_folder(RunState& s, RunEnv& env) {
  // The lock and the files go by the current folder itself, which works at any depth; its name
  // is only for the messages.
  std::string folder = current_folder();
  if (folder.empty()) folder.assign(1, '.');
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
  const Unfinished unfinished =
      find_unfinished(env.state_path(), env.progress_path(), env.clock.unix_time_s());
  // Another seed would not continue this search but begin another: refused before anything is
  // touched.
  const auto refuse = [&](const char* what, const std::string& had, const std::string& given) {
    std::fprintf(stderr,
                 "%s: the unfinished search in this folder has %s %s, not %s (finish it with "
                 "Escape, or search in another folder)\n",
                 shown_text(env.base_name).c_str(), what, had.c_str(), given.c_str());
    return 2;
  };
  if (unfinished.kind == Unfinished::sound && env.options.p1 &&
      *env.options.p1 != unfinished.state.p1) {
    return refuse("p1", p1_shown(unfinished.state.p1, ""), p1_shown(*env.options.p1, ""));
  }
  if (unfinished.kind == Unfinished::sound && unfinished.state.has_generator && env.options.seed &&
      *env.options.seed != unfinished.state.seed) {
    return refuse("seed", std::to_string(unfinished.state.seed), std::to_string(*env.options.seed));
  }
  start_up(s, env, unfinished);
  const SearchEnd how = search_until_escape(s, env);
  end_of_run(s, env, how);
  return 0;
}

int run_program(std::string base_name, const SearchOptions& options) {
  survive_file_size_limit();
  auto console = open_terminal_console();
  RunEnv env{*console, system_clock(), std::move(base_name)};
  env.workers = usable_processors();
  env.options = options;
  auto state = std::make_unique<RunState>();
  return run_in_folder(*state, env);
}

}  // namespace lyap
