// Whole trials: the program's run_trial against the plain yardstick on the same undecided
// trial (all 200001 steps), and the candidate draw at the start-up budget and at a tight one.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/plain_trial.hpp"
#include "driver/search.hpp"

namespace {

using lyap::RunState;

// A bounded trajectory whose exponent never settles: the trial runs to code 5.
const lyap::Params undecided_p = {0, 1.000136L, 0.5L, 2.55L, 0.58L, 0.47L};
const lyap::State undecided_start = {0, 2, -1.1L, 0.1L, 1.1L};

// The trial state as the candidate draw leaves it.
std::unique_ptr<RunState> undecided_trial() {
  auto s = std::make_unique<RunState>();
  s->eps_sq = lyap::eps * lyap::eps;
  s->p = undecided_p;
  s->x_start = undecided_start;
  s->x = undecided_start;
  for (int j = 1; j <= lyap::n_dims; ++j) s->x_near[j] = s->x[j] + 5e-9L;
  return s;
}

template <void (*trial)(RunState&, lyap::Rng&)>
void run_undecided(benchmark::State& state) {
  lyap::Rng rng = lyap::make_rng(1.5L);
  long steps = 0;
  long end_code = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto s = undecided_trial();
    state.ResumeTiming();
    trial(*s, rng);
    end_code = s->step;
    steps += lyap::max_steps + 1;
  }
  if (end_code != 5) state.SkipWithError("the trial did not run to code 5");
  state.counters["end_code"] = static_cast<double>(end_code);
  state.SetItemsProcessed(steps);
}

void BM_trial_full(benchmark::State& state) {
  run_undecided<lyap::run_trial>(state);
}
BENCHMARK(BM_trial_full)->Unit(benchmark::kMillisecond);

void BM_trial_full_plain(benchmark::State& state) {
  run_undecided<lyap::plain::run_trial>(state);
}
BENCHMARK(BM_trial_full_plain)->Unit(benchmark::kMillisecond);

}  // namespace
