// The complexity measure runs once per candidate draw, and draws are rejected many times per
// trial once the budget is small; it should cost far less than writing the values out.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "numerics/numerics.hpp"
#include "report/digit_sum.hpp"
#include "report/number_format.hpp"

namespace {

// Parameter sets as the draw makes them: the fixed pair, then three values around the
// centres rounded to 0..6 decimals.
std::vector<lyap::Params> drawn_sets() {
  std::mt19937_64 gen(2024);
  std::normal_distribution<double> normal;
  std::vector<lyap::Params> sets(1024);
  for (lyap::Params& p : sets) {
    p[1] = 1.000136L;
    p[2] = 0.5L;
    for (int i = 3; i <= lyap::n_params; ++i) {
      const long double centre = i == 3 ? 2.55L : 0.5L;
      const int d = static_cast<int>(gen() % 7);
      p[static_cast<std::size_t>(i)] =
          lyap::round_dec(centre + static_cast<long double>(normal(gen)), d);
    }
  }
  return sets;
}

void BM_digit_sum(benchmark::State& state) {
  const std::vector<lyap::Params> sets = drawn_sets();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(lyap::digit_sum(sets[i]));
    i = (i + 1) % sets.size();
  }
  state.SetLabel("per parameter set");
}
BENCHMARK(BM_digit_sum);

// The text route for the same sets: one number_str per parameter p(1..5).
void BM_number_str(benchmark::State& state) {
  const std::vector<lyap::Params> sets = drawn_sets();
  std::size_t i = 0;
  for (auto _ : state) {
    for (int k = 1; k <= lyap::n_params; ++k) {
      benchmark::DoNotOptimize(lyap::number_str(sets[i][static_cast<std::size_t>(k)]));
    }
    i = (i + 1) % sets.size();
  }
  state.SetLabel("five calls per parameter set");
}
BENCHMARK(BM_number_str);

void BM_format_number(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(lyap::format_number(-0.5678L, "   0.0000 ;  -0.0000 "));
  }
}
BENCHMARK(BM_format_number);

}  // namespace
