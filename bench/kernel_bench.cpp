// What bounds the model's stage kernel: its chains of dependent operations, or the number of
// instructions it issues. BM_stage_kernel/1 runs one chain of stages, each from the last;
// /2 runs two independent chains, a stage of each in turn. Bound by latency, /2 would take
// little more than /1, the second chain filling the first one's waits; bound by throughput,
// it takes twice as long. The x87 cases give the price of the 10-byte loads and stores the
// kernel spills through, against loads of doubles.
#include <benchmark/benchmark.h>

#include "numerics/model_eval.hpp"

namespace {

const lyap::Params typical_params = {0, 1.000136L, 0.5L, 2.55L, 0.58L, 0.47L};

void BM_stage_kernel(benchmark::State& state) {
  if (!lyap::model_detail::kernel_applies<true>) {
    state.SkipWithError("reference build: no kernel");
    return;
  }
  const lyap::ModelCoeffs m = lyap::model_coeffs(typical_params);
  const lyap::State y_a = {0, 2, -1.1L, 0.1L, 1.1L};
  const lyap::State y_b = {0, 2.0001L, -1.1L, 0.1L, 1.1L};
  const long double hk_a = 0.001L;
  const long double hk_b = 0.0005L;
  // 0.125 and 0.0078125 as pairs of doubles, as the stages hand them on.
  const lyap::kernel_detail::SplitState k0 = {{0, 0, 0.125, 0, 0.125, 0, 0.0078125, 0, 0.125, 0}};
  // Each stage reads the last one's derivative from one buffer and writes the other.
  lyap::kernel_detail::SplitState a[2] = {k0, k0};
  lyap::kernel_detail::SplitState b[2] = {k0, k0};
  const bool two = state.range(0) == 2;
  unsigned i = 0;
  for (auto _ : state) {
    bool done = lyap::kernel_detail::stage_pairs_kernel(y_a, hk_a, a[i & 1], m, a[(i + 1) & 1]);
    if (two) {
      done &= lyap::kernel_detail::stage_pairs_kernel(y_b, hk_b, b[i & 1], m, b[(i + 1) & 1]);
    }
    if (!done) {
      state.SkipWithError("the kernel declined the stage");
      return;
    }
    ++i;
  }
  benchmark::DoNotOptimize(a);
  benchmark::DoNotOptimize(b);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_stage_kernel)->Arg(1)->Arg(2);

alignas(64) long double ext_values[8] = {1, 2, 3, 4, 5, 6, 7, 8};
alignas(64) double double_values[16] = {1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4, 5, 6, 7, 8};
alignas(64) long double ext_slots[8];

#define LYAP_X87_ALL "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)", "cc"

// Eight independent 10-byte loads (fldt), popped in pairs.
void BM_x87_load_ext(benchmark::State& state) {
  for (auto _ : state) {
    asm volatile(
        "fldt (%0)\n\tfldt 16(%0)\n\tfldt 32(%0)\n\tfldt 48(%0)\n\t"
        "fldt 64(%0)\n\tfldt 80(%0)\n\tfldt 96(%0)\n\tfldt 112(%0)\n\t"
        "fcompp\n\tfcompp\n\tfcompp\n\tfcompp" ::"r"(ext_values)
        : LYAP_X87_ALL);
  }
  state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_x87_load_ext);

// The same eight values as pairs of doubles, the way the kernel loads the model's factors.
void BM_x87_load_double_pair(benchmark::State& state) {
  for (auto _ : state) {
    asm volatile(
        "fldl (%0)\n\tfaddl 8(%0)\n\tfldl 16(%0)\n\tfaddl 24(%0)\n\t"
        "fldl 32(%0)\n\tfaddl 40(%0)\n\tfldl 48(%0)\n\tfaddl 56(%0)\n\t"
        "fldl 64(%0)\n\tfaddl 72(%0)\n\tfldl 80(%0)\n\tfaddl 88(%0)\n\t"
        "fldl 96(%0)\n\tfaddl 104(%0)\n\tfldl 112(%0)\n\tfaddl 120(%0)\n\t"
        "fcompp\n\tfcompp\n\tfcompp\n\tfcompp" ::"r"(double_values)
        : LYAP_X87_ALL);
  }
  state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_x87_load_double_pair);

// Eight 10-byte stores (fstpt) of a constant.
void BM_x87_store_ext(benchmark::State& state) {
  for (auto _ : state) {
    asm volatile(
        "fld1\n\tfstpt (%0)\n\tfld1\n\tfstpt 16(%0)\n\tfld1\n\tfstpt 32(%0)\n\t"
        "fld1\n\tfstpt 48(%0)\n\tfld1\n\tfstpt 64(%0)\n\tfld1\n\tfstpt 80(%0)\n\t"
        "fld1\n\tfstpt 96(%0)\n\tfld1\n\tfstpt 112(%0)" ::"r"(ext_slots)
        : "st", "memory");
  }
  state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_x87_store_ext);

// Eight stores of doubles, for comparison.
void BM_x87_store_double(benchmark::State& state) {
  for (auto _ : state) {
    asm volatile(
        "fld1\n\tfstpl (%0)\n\tfld1\n\tfstpl 16(%0)\n\tfld1\n\tfstpl 32(%0)\n\t"
        "fld1\n\tfstpl 48(%0)\n\tfld1\n\tfstpl 64(%0)\n\tfld1\n\tfstpl 80(%0)\n\t"
        "fld1\n\tfstpl 96(%0)\n\tfld1\n\tfstpl 112(%0)" ::"r"(ext_slots)
        : "st", "memory");
  }
  state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_x87_store_double);

}  // namespace
