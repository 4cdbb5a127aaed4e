// The program's logarithm against the C library's logl, over the arguments the program takes
// it of: the trial's growth factors next to 1, and the polar method's s in (0, 1).
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <random>

#include "numerics/numerics.hpp"

namespace {

constexpr std::size_t n_arguments = 4096;

// Argument set 0: 1 + d with |d| < 1e-8; set 1: u^2 + w^2 for u, w uniform in (-1, 1),
// kept below 1.
const std::array<long double, n_arguments>& arguments(int set) {
  static const auto values = [] {
    std::array<std::array<long double, n_arguments>, 2> a{};
    std::mt19937_64 gen(42);
    const auto uniform = [&gen] { return static_cast<long double>(gen()) * 0x1p-64L; };
    for (auto& v : a[0]) v = 1 + 1e-8L * (2 * uniform() - 1);
    for (auto& v : a[1]) {
      do {
        const long double u = 2 * uniform() - 1, w = 2 * uniform() - 1;
        v = u * u + w * w;
      } while (!(v < 1 && v > 0));
    }
    return a;
  }();
  return values[static_cast<std::size_t>(set)];
}

const char* label(int set) {
  return set == 0 ? "growth factors" : "polar s";
}

void BM_ext_ln(benchmark::State& state) {
  const auto& a = arguments(static_cast<int>(state.range(0)));
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(lyap::ext_ln(a[i++ % n_arguments]));
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(label(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_ext_ln)->Arg(0)->Arg(1);

void BM_logl(benchmark::State& state) {
  const auto& a = arguments(static_cast<int>(state.range(0)));
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(std::log(a[i++ % n_arguments]));
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(label(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_logl)->Arg(0)->Arg(1);

}  // namespace
