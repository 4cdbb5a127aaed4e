// Everything the run knows: the constants, the run state that lives for the whole run, and the
// trial state recomputed for every trial. The driver owns one RunState for the whole run and
// hands its parts to the other subsystems.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <string>

#include "numerics/numerics.hpp"
#include "report/progress_file.hpp"
#include "report/state_file.hpp"

namespace lyap {

// ---- Constants --------------------------------------------------------------------------

inline constexpr long double eps = 1e-8L;  // companion distance, difference step, code-1 limit
inline constexpr long double dt = 0.1L;    // time per step
inline constexpr long n_window = 10000;    // transient, history length, check spacing
inline constexpr long double le_threshold = 0.005L;
inline constexpr long double le_band_divisor = 0.1L;  // band half-width = le_range / this
inline constexpr long max_steps = 200000;
inline constexpr long double x_limit = 1000;
inline constexpr long double perturb_scale = 1.0L;
inline constexpr long double zero_pull = 0.5L;
inline constexpr int plot_w = 400;
inline constexpr int plot_h = 400;
inline constexpr int plot_margin = 40;
inline constexpr long double fixed_p2 = 0.5L;

// Thresholds of the trial's tests.
inline constexpr long double x1_lower_bound = 0.1L;
inline constexpr long double min_x1_range = widen(0.1f);
inline constexpr long double min_speed = widen(1e-4f);
inline constexpr int renormalise_decimals = 18;

using History = std::array<long double, n_window>;

// Tells a running trial that its result is no longer wanted. Trials are dropped a generation
// at a time: those drawn ahead of a success, and all of them at the end of the run.
struct TrialCancel {
  const std::atomic<long>* generation = nullptr;  // the generation still wanted
  long trial_generation = 0;                      // the running trial's
  bool requested() const {
    return generation != nullptr && generation->load(std::memory_order_relaxed) != trial_generation;
  }
};

struct RunState {
  // Set once at start-up.
  long double eps_sq = 0;

  // Run state. The counts are 64-bit on every system (long is 32 bits on Windows): a search
  // that continues for days on many cores passes 2^31 trials.
  std::int64_t began_unix_s = 0;  // when the search first began
  std::int64_t trial_no = 0;
  std::int64_t n_found = 0;
  Tally tally;              // how every trial of the search ended
  ClosestApproach closest;  // the nearest any trial has come to a find
  long max_decimals = 2;
  long max_digit_sum = 0;  // (3 + max_decimals) x n_params at start-up
  long prev_digit_sum = 0;
  Params p_centre{};
  std::array<long, n_params + 1> p_decimals{};
  State x_centre{};
  RunClock clock;  // last_timer, tick_s, elapsed_s
  std::string zeros_str;
  // The seed the search began from, and its generator as the last counted trial left it: the
  // trials drawn ahead of the count are drawn again by a continued search.
  std::uint64_t seed = 0;
  Rng generator;
  P1Setting p1;  // the model's own p1, another value, or p1 drawn like p3..p5

  // Trial state.
  Params p{};
  State x_start{};
  State x{};
  State x_near{};
  State f{};
  State dx{};
  long step = 0;  // end code 1..9, or the step count of a success
  long double le_sum = 0;
  long double div_sum = 0;
  long n_samples = 0;
  long double le = 0;
  long double div_mean = 0;
  long double le_range = 0;
  long double x1_range = 0;
  long double growth = 0;
  long double k_aux = 0;
  long double invariant_start = 0;
  long double invariant_end = 0;
  History le_hist{};
  History x1_hist{};
  long double radial_rate = 0;
  // The highest le - le_range / le_band_divisor this trial's checks reached.
  long double best_edge = -std::numeric_limits<long double>::infinity();
  long steps = 0;           // the steps a trial took, kept when a failure puts its code in step
  long checks_run = 0;      // statistical checks that judged the histories
  long checks_skipped = 0;  // and those passed over while the state moved outwards
  TrialCancel cancel;       // set by whoever runs the trial
};

}  // namespace lyap
