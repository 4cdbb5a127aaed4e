// The innermost routines at a typical state of a trial: the model's derivative, one
// Runge-Kutta step and one output interval of the integrator.
#include <benchmark/benchmark.h>

#include "numerics/numerics.hpp"

namespace {

const lyap::Params typical_params = {0, 1.000136L, 0.5L, 2.55L, 0.58L, 0.47L};
const lyap::State typical_state = {0, 2, -1.1L, 0.1L, 1.1L};

void BM_model_derivs(benchmark::State& state) {
  lyap::State x = typical_state;
  lyap::State f{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(x);
    lyap::model_derivs(x, f, typical_params);
    benchmark::DoNotOptimize(f);
  }
}
BENCHMARK(BM_model_derivs);

void BM_rk4_step(benchmark::State& state) {
  lyap::State y = typical_state;
  lyap::State dydx{};
  lyap::State y_out{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(y);
    lyap::rk4_step(y, dydx, 0.1L, y_out, typical_params);
    benchmark::DoNotOptimize(y_out);
  }
}
BENCHMARK(BM_rk4_step);

// Always from the same start, so every iteration does the same number of substeps.
void BM_advance(benchmark::State& state) {
  lyap::Rng rng = lyap::make_rng(12345.678L);
  lyap::State f{};
  lyap::State x{};
  for (auto _ : state) {
    x = typical_state;
    benchmark::DoNotOptimize(x);
    lyap::advance(x, f, 0.1L, x, typical_params, rng);
    benchmark::DoNotOptimize(x);
  }
}
BENCHMARK(BM_advance);

// The uniform source alone: with the count of numbers a draw consumes (BM_draw_candidate's
// uniforms_per_trial) it gives the least a draw can cost, whatever else it does.
void BM_rnd(benchmark::State& state) {
  lyap::Rng rng = lyap::make_rng(12345.678L);
  for (auto _ : state) benchmark::DoNotOptimize(lyap::rnd(rng));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_rnd);

// One Runge-Kutta step as the integrator takes it, the parameter factors worked out once
// (BM_rk4_step works them out in every call), each step from the last.
void BM_rk4_step_trial(benchmark::State& state) {
  const lyap::ModelCoeffs m = lyap::model_coeffs(typical_params);
  lyap::State y = typical_state, dydx{};
  for (auto _ : state) lyap::rk4_step(y, dydx, 0.01L, y, m);
  benchmark::DoNotOptimize(y);
}
BENCHMARK(BM_rk4_step_trial);

}  // namespace
