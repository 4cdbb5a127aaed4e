// The program's main line, split so tests can run it in-process: start-up, the trial loop
// until Escape, the end of run. The trial and the plot of a success are seams that tests may
// replace, since real chaotic finds are hours apart.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "driver/command_line.hpp"
#include "driver/run_state.hpp"
#include "driver/search.hpp"
#include "driver/status.hpp"
#include "driver/trial_pool.hpp"
#include "driver/unfinished.hpp"
#include "graphics/canvas.hpp"
#include "platform/clock.hpp"
#include "platform/console.hpp"
#include "platform/window.hpp"

namespace lyap {

using PlotFn = std::function<void(RunState&, Canvas&, Rng&)>;
using WindowFn = std::function<std::unique_ptr<Window>(std::string_view, int, int)>;

// The phase portrait of a success, carrying s.x on.
void plot_success(RunState& s, Canvas& canvas, Rng& rng);

struct RunEnv {
  RunEnv(Console& console_, Clock& clock_, std::string base_name_)
      : console(console_), clock(clock_), base_name(std::move(base_name_)) {}

  Console& console;
  Clock& clock;
  // The system's text: names the files (in the current folder) and the windows.
  std::string base_name;
  TrialFn trial = run_trial;
  // Threads that run the trials; with none, each trial runs on the main thread in its turn.
  int workers = 0;
  SearchOptions options;  // the seed and the planned number of trials, when given
  PlotFn plot = plot_success;
  WindowFn open_window = create_window;

  // Whether a failed write to each file has been reported, and not yet followed by one that
  // worked: a full disk says so once per file rather than after every find.
  struct WriteAlarms {
    bool results = false;
    bool progress = false;
    bool bitmap = false;
    bool state = false;
  } write_alarms;

  // Where the search stands, shown in the title about once a second, and when the state file
  // is next due.
  struct Standing {
    TrialRate rate;
    long double next_title_s = 0;
    long double next_state_s = 0;
  } standing;

  // Made by start_up.
  Rng rng;
  std::unique_ptr<Window> window;
  Canvas canvas;

  std::string results_path() const { return base_name + ".txt"; }
  std::string progress_path() const { return base_name + ".dat"; }
  std::string bitmap_path() const { return base_name + ".bmp"; }
  std::string state_path() const { return base_name + ".state"; }
};

// The whole run in the current folder: the folder's search lock (exit status 1, with no file
// touched, when another search holds it or it cannot be taken), start-up, the search until
// Escape, the end of run.
int run_in_folder(RunState& s, RunEnv& env);

// Continues the unfinished search in the folder when its state and progress files are sound;
// otherwise begins a new one (keeping an untrusted search's files aside), from the seed of
// env.options or else one from the time of day.
void start_up(RunState& s, RunEnv& env);
void start_up(RunState& s, RunEnv& env, const Unfinished& unfinished);

// The seed a search takes from the time of day when none is given: the microseconds since local
// midnight.
std::uint64_t time_of_day_seed(long double time_of_day_s);

enum class SearchEnd { escape, planned_trials };
// Runs trials until a trial ends with Escape pending, or until the search has counted the
// planned number of trials (env.options.trials). The console, the files and the pictures are
// the same whatever the number of workers.
SearchEnd search_until_escape(RunState& s, RunEnv& env);
// Escape finishes the search: the trial count, how the trials ended and the closest approach,
// the plot of the budget against time and its bitmap, the progress and state files removed,
// and a wait for one last key; a search that has run its planned trials finishes the same way
// without that wait.
void end_of_run(RunState& s, RunEnv& env, SearchEnd how = SearchEnd::escape);

}  // namespace lyap
