// The phase portrait of a bounded chaotic trajectory on the in-memory canvas, against the
// integration alone with the same step sequence, to show what the drawing costs on top.
#include <benchmark/benchmark.h>

#include <cmath>

#include "graphics/canvas.hpp"
#include "graphics/plots.hpp"
#include "numerics/numerics.hpp"

namespace {

const lyap::Params chaotic_params = {0, 1.000136L, 0.5L, 2.55L, 0.58L, 0.47L};
const lyap::State chaotic_start = {0, 2, -1.1L, 0.1L, 1.1L};
constexpr int plot_w = 400;
constexpr int plot_h = 400;
constexpr int plot_margin = 40;
constexpr long double dt = 0.1L;

void BM_plot_portrait(benchmark::State& state) {
  lyap::Canvas canvas;
  lyap::init_canvas(canvas, plot_margin + plot_w, plot_h + 24, nullptr);
  lyap::set_foreground(canvas, lyap::black);
  lyap::set_background(canvas, lyap::white);
  lyap::Rng rng = lyap::make_rng(0.25L);
  for (auto _ : state) {
    lyap::State x = chaotic_start;
    lyap::State f{};
    lyap::plot_portrait(canvas, plot_w, plot_h, plot_margin, x, f, dt, 0, 0, chaotic_params, rng);
    benchmark::DoNotOptimize(x);
  }
}
BENCHMARK(BM_plot_portrait)->Unit(benchmark::kMillisecond);

// The 4 k + 1 steps of a portrait: 2 k + 1 at the full step, then twice k under the step
// rule, with nothing drawn.
void BM_plot_integration_only(benchmark::State& state) {
  const int k_steps = lyap::round_to_int32(static_cast<long double>(plot_w) * plot_h / 3);
  lyap::Rng rng = lyap::make_rng(0.25L);
  for (auto _ : state) {
    lyap::State x = chaotic_start;
    lyap::State f{};
    long double x_lo = 1e6L, x_hi = -1e6L, y_lo = 1e6L, y_hi = -1e6L;
    for (long i = 0; i < 2L * k_steps + 1; ++i) {
      lyap::advance(x, f, dt, x, chaotic_params, rng);
      if (i > k_steps) {
        x_lo = std::fmin(x_lo, x[1]);
        x_hi = std::fmax(x_hi, x[1]);
        y_lo = std::fmin(y_lo, x[2]);
        y_hi = std::fmax(y_hi, x[2]);
      }
    }
    const int x_span0 = lyap::round_to_int32(std::floor(x_hi - x_lo) + 1);
    const int y_span0 = lyap::round_to_int32(std::floor(y_hi - y_lo) + 1);
    const lyap::State saved_x = x;
    for (int pass = 0; pass < 2; ++pass) {
      x = saved_x;
      long double plot_dt = dt;
      for (int i = 0; i < k_steps; ++i) {
        lyap::advance(x, f, plot_dt, x, chaotic_params, rng);
        const long double s =
            std::fabs(2 * f[2] * plot_h / y_span0) + std::fabs(2 * f[1] * plot_w / x_span0);
        plot_dt = 1 / s < dt ? 1 / s : dt;
      }
    }
    benchmark::DoNotOptimize(x);
  }
}
BENCHMARK(BM_plot_integration_only)->Unit(benchmark::kMillisecond);

}  // namespace
