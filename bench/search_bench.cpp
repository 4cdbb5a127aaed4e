// The search as a whole: trials drawn at the start-up budget from a fixed seed and taken back
// in draw order, on 1, 2, ... worker threads, against the one-thread loop that draws a trial
// and runs it before drawing the next. items_per_second is trials per second of wall time.
#include <benchmark/benchmark.h>
#include <limits>

#include <chrono>
#include <memory>

#include "driver/search.hpp"
#include "driver/trial_pool.hpp"
#include "platform/clock.hpp"
#include "platform/process.hpp"

namespace {

using lyap::RunState;

// The run state as start-up leaves it, and the generator seeded as start-up would.
std::unique_ptr<RunState> start_up_state(lyap::Rng& rng) {
  auto s = std::make_unique<RunState>();
  s->eps_sq = lyap::eps * lyap::eps;
  s->max_decimals = 2;
  s->max_digit_sum = (3 + s->max_decimals) * lyap::n_params;
  rng = lyap::make_rng(45296.25L);
  for (int i = 1; i <= lyap::n_dims; ++i) s->x_centre[i] = lyap::rnd(rng) - 0.5L;
  for (int i = 1; i <= lyap::n_params; ++i) {
    s->p_centre[i] = 1;
    s->p_decimals[i] = s->max_decimals;
  }
  return s;
}

// The same draws (a jitter seed per trial included) with no threads at all.
void BM_search_one_thread(benchmark::State& state) {
  lyap::Rng rng;
  auto s = start_up_state(rng);
  long successes = 0;
  for (auto _ : state) {
    lyap::draw_candidate(*s, rng);
    lyap::Rng jitter = lyap::make_rng(lyap::rnd(rng));
    lyap::run_trial(*s, jitter);
    successes += s->step >= 10;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["successes"] = static_cast<double>(successes);
}

void BM_search(benchmark::State& state) {
  lyap::Rng rng;
  auto s = start_up_state(rng);
  lyap::TrialPool pool(static_cast<int>(state.range(0)), lyap::run_trial, *s);
  lyap::TrialJob job;
  lyap::TrialOutcome outcome;
  long successes = 0;
  for (auto _ : state) {
    while (!pool.full()) {
      lyap::draw_trial(*s, rng, job, std::numeric_limits<long>::max());
      pool.submit(job);
    }
    // What the search's loop does with every trial besides: it waits at most a second,
    // counts the trial and looks at the clock for the title and the state file.
    while (!pool.take_oldest(job, outcome, std::chrono::seconds(1))) {
    }
    lyap::count_trial(*s, outcome);
    benchmark::DoNotOptimize(lyap::system_clock().monotonic_s());
    successes += outcome.step >= 10;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["successes"] = static_cast<double>(successes);
}

// Enough trials for the long ones (a few in a hundred, up to the step limit) to average out;
// every variant runs the same trials.
constexpr int trials = 1500;

BENCHMARK(BM_search_one_thread)->Iterations(trials)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_search)
    ->ArgName("workers")
    ->Apply([](benchmark::internal::Benchmark* b) {
      const int most = std::max(2, lyap::usable_processors());
      for (int workers = 1; workers <= most; workers *= 2) b->Arg(workers);
      if ((most & (most - 1)) != 0) b->Arg(most);
    })
    ->Iterations(trials)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
