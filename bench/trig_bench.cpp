// The model's sine-cosine pair against the C library's, over angles of the size a trial
// produces (2 p4 x3 reaches thousands of radians as x3 drifts).
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <random>

#include "numerics/trig.hpp"

namespace {

constexpr std::size_t n_angles = 4096;

const std::array<long double, n_angles>& angles() {
  static const auto values = [] {
    std::array<long double, n_angles> a{};
    std::mt19937_64 gen(42);
    std::uniform_real_distribution<double> spread(-5000.0, 5000.0);
    for (auto& v : a) v = spread(gen) + std::ldexp(static_cast<long double>(gen()), -64);
    return a;
  }();
  return values;
}

void BM_sincos_fast(benchmark::State& state) {
  const auto& a = angles();
  std::size_t i = 0;
  for (auto _ : state) {
    long double s, c;
    lyap::fast_sincos(a[i++ % n_angles], s, c);
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(c);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_sincos_fast);

void BM_sincos_libm(benchmark::State& state) {
  const auto& a = angles();
  std::size_t i = 0;
  for (auto _ : state) {
    const long double angle = a[i++ % n_angles];
    long double s = std::sin(angle);
    long double c = std::cos(angle);
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(c);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_sincos_libm);

}  // namespace
