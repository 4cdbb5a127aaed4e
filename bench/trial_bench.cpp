// Whole trials: the program's run_trial against the plain yardstick on the same undecided
// trial (all 200001 steps), and the candidate draw at the start-up budget and at a tight one.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "bench/plain_trial.hpp"
#include "bench/trial_cases.hpp"
#include "driver/search.hpp"
#include "report/digit_sum.hpp"

namespace {

using lyap::RunState;

using lyap::trial_cases::drifting_start;
using lyap::trial_cases::trial_from;
using lyap::trial_cases::undecided_p;
using lyap::trial_cases::undecided_start;

// Items are steps. The end code and the steps of the last run are reported, so that the
// program's trial and the yardstick can be seen to agree.
template <void (*trial)(RunState&, lyap::Rng&)>
void run_from(benchmark::State& state, const lyap::State& start) {
  lyap::Rng rng = lyap::make_rng(1.5L);
  long steps = 0;
  long end_code = 0, end_step = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto s = trial_from(start);
    state.ResumeTiming();
    trial(*s, rng);
    // A failure leaves its code in step; after the transient the samples give the step.
    end_code = s->step < 10 ? s->step : 0;
    end_step = s->step == 5   ? lyap::max_steps + 1
               : s->step < 10 ? (s->n_samples > 0 ? s->n_samples + lyap::n_window - 1 : 0)
                              : s->step;
    steps += end_step;
  }
  state.counters["end_code"] = static_cast<double>(end_code);
  state.counters["end_step"] = static_cast<double>(end_step);
  state.SetItemsProcessed(steps);
}

void BM_trial_full(benchmark::State& state) {
  run_from<lyap::run_trial>(state, undecided_start);
}
BENCHMARK(BM_trial_full)->Unit(benchmark::kMillisecond);

void BM_trial_full_plain(benchmark::State& state) {
  run_from<lyap::plain::run_trial>(state, undecided_start);
}
BENCHMARK(BM_trial_full_plain)->Unit(benchmark::kMillisecond);

void BM_trial_drifting(benchmark::State& state) {
  run_from<lyap::run_trial>(state, drifting_start);
}
BENCHMARK(BM_trial_drifting)->Unit(benchmark::kMillisecond);

void BM_trial_drifting_plain(benchmark::State& state) {
  run_from<lyap::plain::run_trial>(state, drifting_start);
}
BENCHMARK(BM_trial_drifting_plain)->Unit(benchmark::kMillisecond);

// The model as the trial and the integrator call it: the parameter factors worked out once
// per trial (BM_model_derivs works them out from p in every call).
void BM_model_derivs_trial(benchmark::State& state) {
  const lyap::ModelCoeffs m = lyap::model_coeffs(undecided_p);
  lyap::State x = undecided_start;
  lyap::State f{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(x);
    lyap::model_derivs(x, f, m);
    benchmark::DoNotOptimize(f);
  }
}
BENCHMARK(BM_model_derivs_trial);

// The run state at a budget: 25 is the start-up state (centres 1, two decimals); 17 is the
// state after a success with p = (1.000136, 0.5, 2, 1, 2), whose digit sum is 17, started
// from (2, -1.1, 0.1, 1.1).
std::unique_ptr<RunState> search_at_budget(long budget) {
  auto s = std::make_unique<RunState>();
  s->eps_sq = lyap::eps * lyap::eps;
  if (budget == 25) {
    s->max_decimals = 2;
    s->max_digit_sum = (3 + s->max_decimals) * lyap::n_params;
    for (int i = 1; i <= lyap::n_params; ++i) {
      s->p_centre[i] = 1;
      s->p_decimals[i] = s->max_decimals;
    }
    s->x_centre = {0, 0.3L, -0.2L, 0.1L, 0.4L};
  } else {
    s->p = {0, 1.000136L, 0.5L, 2, 1, 2};
    s->max_digit_sum = lyap::digit_sum(s->p);
    lyap::adapt_centres(*s);
    s->x_centre = undecided_start;
  }
  return s;
}

void BM_draw_candidate(benchmark::State& state) {
  auto s = search_at_budget(state.range(0));
  if (s->max_digit_sum != state.range(0)) state.SkipWithError("budget not as intended");
  lyap::Rng rng = lyap::make_rng(7.25L);
  long drawn = 0;
  const std::uint64_t draws_before = rng.draws;
  for (auto _ : state) drawn += lyap::draw_candidate(*s, rng);
  const auto trials = static_cast<double>(state.iterations());
  state.counters["draws_per_trial"] = benchmark::Counter(static_cast<double>(drawn) / trials);
  state.counters["uniforms_per_trial"] =
      benchmark::Counter(static_cast<double>(rng.draws - draws_before) / trials);
}
BENCHMARK(BM_draw_candidate)->Arg(25)->Arg(17);

// Whole trials as the search runs them at a budget: draw, then trial. Most end within a few
// steps, a few run long, so the median and the mean tell different stories; both are
// reported, with the draw's share of the median.
void BM_trial_drawn(benchmark::State& state) {
  auto s = search_at_budget(state.range(0));
  lyap::Rng rng = lyap::make_rng(3.75L);
  std::vector<double> trial_us;
  double draw_us = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    lyap::draw_candidate(*s, rng);
    const auto t1 = std::chrono::steady_clock::now();
    lyap::run_trial(*s, rng);
    const auto t2 = std::chrono::steady_clock::now();
    draw_us += std::chrono::duration<double, std::micro>(t1 - t0).count();
    trial_us.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
  }
  std::sort(trial_us.begin(), trial_us.end());
  const double n = static_cast<double>(trial_us.size());
  double total_us = 0;
  for (const double t : trial_us) total_us += t;
  const double median_us = trial_us[trial_us.size() / 2];
  state.counters["median_trial_us"] = median_us;
  state.counters["mean_trial_us"] = total_us / n;
  state.counters["draw_us"] = draw_us / n;
  state.counters["draw_share_of_median"] = draw_us / n / median_us;
}
BENCHMARK(BM_trial_drawn)->Arg(25)->Arg(17)->Iterations(400)->Unit(benchmark::kMicrosecond);

}  // namespace
