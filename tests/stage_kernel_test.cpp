#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <utility>

#include <gtest/gtest.h>

#include "numerics/model_eval.hpp"
#include "tests/model_as_written.hpp"

namespace {

using lyap::Params;
using lyap::State;
using limits = std::numeric_limits<long double>;

// Where the kernels must give way to the C++ code: a negative x4, or an angle outside
// [tiny_angle, small_angle] in size (NaN included).
bool kernel_should_apply(long double x3, long double x4, const lyap::ModelCoeffs& m) {
  const long double a = lyap::model_detail::factor<true>(m, lyap::ModelCoeffs::two_p4) * x3;
  const long double size = std::fabs(a);
  return !(x4 < 0) && size >= lyap::trig_detail::tiny_angle &&
         size <= lyap::trig_detail::small_angle;
}

long double nudged(long double v, int ulps) {
  const long double toward = ulps < 0 ? -limits::infinity() : limits::infinity();
  for (int i = 0; i < std::abs(ulps); ++i) v = std::nextafter(v, toward);
  return v;
}

// A random stage: parameters with p1 > 1 and p4 of either sign, and a state whose angle and
// x4 fall on, next to, or either side of where the kernels stop applying.
struct Draw {
  std::mt19937_64 gen{24};
  long double uniform(long double lo, long double hi) {
    return lo + (hi - lo) * std::uniform_real_distribution<long double>(0, 1)(gen);
  }
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(gen); }

  Params params() {
    const long double p4 = uniform(0.05L, 3) * (pick(2) ? 1 : -1);
    const long double p2 = pick(4) == 0 ? uniform(-2, 3) : 0.5L;
    return {0, 1 + uniform(0, 3), p2, uniform(-3, 3), p4, uniform(-2, 2)};
  }

  // An angle near a boundary of the kernels' range, inside it, beyond it, or odd.
  long double angle() {
    using namespace lyap::trig_detail;
    const long double sign = pick(2) ? 1 : -1;
    switch (pick(8)) {
      case 0:
        return sign * nudged(tiny_angle, pick(9) - 4);
      case 1:
        return sign * nudged(small_angle, pick(9) - 4);
      case 2:
        return sign * uniform(small_angle, no_reduction);
      case 3:
        return sign * uniform(0, tiny_angle);
      case 4:
        return pick(4) == 0 ? 0 : sign * uniform(1, 2e6L);
      default:
        return sign * uniform(0, 0.3L);
    }
  }

  long double x4() {
    switch (pick(8)) {
      case 0:
        return -uniform(0, 1);
      case 1:
        return pick(2) ? 0.0L : -0.0L;
      case 2:
        return uniform(0, 1e-30L);
      default:
        return uniform(0, 4);
    }
  }
};

// Fills the stage y + hk k so that its x3 and x4 land about where the draw chose.
void stage_for(Draw& draw, const lyap::ModelCoeffs& m, State& y, State& k, long double& hk) {
  const long double two_p4 = lyap::model_detail::factor<true>(m, lyap::ModelCoeffs::two_p4);
  hk = draw.pick(4) == 0 ? 0 : draw.uniform(-0.1L, 0.1L);
  for (int i = 1; i <= lyap::n_dims; ++i) k[i] = draw.uniform(-2, 2);
  y[1] = draw.pick(16) == 0 ? draw.uniform(-1e-3L, 1e-3L) : draw.uniform(0.1L, 5);
  y[2] = draw.uniform(-3, 3);
  // Small k3 and k4 keep the stage within a few ulps of the drawn values.
  k[3] = draw.pick(2) ? 0 : k[3] * 1e-22L;
  k[4] = draw.pick(2) ? 0 : k[4] * 1e-40L;
  y[3] = draw.angle() / two_p4;
  y[4] = draw.x4();
  if (draw.pick(200) == 0) y[draw.pick(4) + 1] = limits::quiet_NaN();
  // A component beyond the doubles' range: next to zero, as the integrator's nudge leaves
  // it, or huge.
  if (draw.pick(32) == 0) {
    const int i = std::array{1, 2, 4}[draw.pick(3)];
    y[i] = draw.uniform(-1, 1) * (draw.pick(2) ? 1e-1000L : 1e400L);
    k[i] = 0;
  }
}

// The kernels keep values they set aside as two doubles, and decline where one of them would not
// split exactly: zero, below 2^-959 in size, or not finite.
bool unsplittable(long double v) {
  return !(std::fabs(v) >= 0x1p-959L) || !std::isfinite(v);
}

// Whether one of the values a kernel may set aside is unsplittable at this stage; a component
// beyond 2^500 makes squares and products of it unsplittable too.
bool has_unsplittable(const State& y, long double hk, const State& k, bool at_point,
                      const lyap::ModelCoeffs& m) {
  using F = lyap::ModelCoeffs;
  auto c = [&m](F::Factor i) { return lyap::model_detail::factor<true>(m, i); };
  State x{};
  for (int i = 1; i <= lyap::n_dims; ++i) x[i] = at_point ? y[i] : y[i] + hk * k[i];
  const long double values[] = {
      x[1], x[2], x[4], std::sqrt(x[4]), c(F::k) * x[1], c(F::p4) * x[1], c(F::p3) - x[4]};
  for (const long double v : values) {
    if (unsplittable(v) || std::fabs(v) > 0x1p500L) return true;
  }
  return false;
}

bool same_derivative(const State& a, const State& b) {
  for (int i = 1; i <= lyap::n_dims; ++i) {
    if (std::memcmp(&a[i], &b[i], 10) != 0) return false;
  }
  return true;
}

// A stage kernel's derivative, written as pairs of doubles, as 80-bit values.
State joined(const lyap::kernel_detail::SplitState& pairs) {
  State v{};
  for (int i = 1; i <= lyap::n_dims; ++i) v[i] = pairs[i];
  return v;
}

// The kernels hand a derivative on as pairs; the draw's k splits exactly, as theirs do.
lyap::kernel_detail::SplitState as_pairs(const State& k) {
  lyap::kernel_detail::SplitState pairs{};
  for (int i = 1; i <= lyap::n_dims; ++i) {
    pairs.v[2 * i] = static_cast<double>(k[i]);
    pairs.v[2 * i + 1] = static_cast<double>(k[i] - pairs.v[2 * i]);
  }
  return pairs;
}

// Each kernel against the C++ code it stands in for, all ten bytes of every component, on a
// million stages and a million points; at a stage, the kernel that reads k as 80-bit values,
// the one that reads it as pairs, and the one that goes on to the step's result. Where a kernel
// declines, it must have had to: outside its range, where it has written nothing, or for a value
// it cannot set aside or write as a pair.
TEST(StageKernel, MatchesTheModelBitForBitOrDeclines) {
  if (!lyap::model_detail::kernel_applies<true>) GTEST_SKIP() << "reference build: no kernel";
  using lyap::kernel_detail::SplitState;
  Draw draw;
  long applied = 0, declined = 0;
  for (int n = 0; n < 1'000'000; ++n) {
    const lyap::ModelCoeffs m = lyap::model_coeffs(draw.params());
    if (!m.split) continue;
    State y{}, k{};
    long double hk = 0;
    stage_for(draw, m, y, k, hk);
    const bool at_point = n % 2 == 1;
    const long double x3 = at_point ? y[3] : y[3] + hk * k[3];
    const long double x4 = at_point ? y[4] : y[4] + hk * k[4];

    State expected{};
    if (at_point) {
      lyap::model_detail::evaluate_all<true, false>(y, m, expected);
    } else {
      lyap::model_detail::evaluate_stage<true>(y, hk, k, m, expected);
    }
    bool unsplittable_out = false;
    for (int i = 1; i <= lyap::n_dims; ++i) unsplittable_out |= unsplittable(expected[i]);
    // The step's result from this stage as its last, with k as the middle stage's derivative:
    // y + h/6 ((f + d) + 2 (k + t)), d and t drawn.
    State d{}, t{}, expected_sum{};
    const long double h_sixth = hk / 6;
    for (int i = 1; i <= lyap::n_dims; ++i) {
      d[i] = draw.uniform(-2, 2);
      t[i] = draw.uniform(-2, 2);
      const long double mid = k[i] + t[i];
      expected_sum[i] = y[i] + h_sixth * ((expected[i] + d[i]) + 2 * mid);
    }

    for (int kind = 0; kind < (at_point ? 1 : 3); ++kind) {
      State f{};
      f.fill(limits::signaling_NaN());
      SplitState pairs{};
      std::fill(std::begin(pairs.v), std::end(pairs.v), limits::signaling_NaN());
      const State f_untouched = f;
      const SplitState pairs_untouched = pairs;
      bool done;
      if (at_point) {
        done = lyap::kernel_detail::point_kernel(y, m, f);
      } else if (kind == 0) {
        done = lyap::kernel_detail::stage_to_pairs_kernel(y, hk, k, m, pairs);
      } else if (kind == 1) {
        done = lyap::kernel_detail::stage_pairs_kernel(y, hk, as_pairs(k), m, pairs);
      } else {
        done = lyap::kernel_detail::stage_sum_kernel(y, hk, as_pairs(k), as_pairs(t), d, h_sixth, m,
                                                     f);
      }
      const bool untouched = as_written::same_bits(f, f_untouched) &&
                             std::memcmp(&pairs, &pairs_untouched, sizeof pairs) == 0;
      if (kind < 2 && !at_point) f = joined(pairs);
      if (done) {
        ++applied;
        ASSERT_TRUE(kernel_should_apply(x3, x4, m)) << "case " << n;
        ASSERT_TRUE(same_derivative(f, kind == 2 ? expected_sum : expected))
            << "case " << n << ", kernel " << kind << " at x3 = " << x3;
      } else if (kernel_should_apply(x3, x4, m)) {
        // Only the kernels that write pairs may decline for what they write.
        ASSERT_TRUE(has_unsplittable(y, hk, k, at_point, m) ||
                    (!at_point && kind < 2 && unsplittable_out))
            << "case " << n << ", kernel " << kind;
        if (kind == 2) {
          ASSERT_TRUE(untouched) << "case " << n << ": y may be what it writes over";
        }
      } else {
        ++declined;
        ASSERT_TRUE(untouched) << "case " << n;
      }
    }
  }
  EXPECT_GT(applied, 650'000);
  EXPECT_GT(declined, 1'000'000);
}

// model_differences against the C++ code at each of its points, all ten bytes, on points drawn
// as above; where its kernel applies (every angle and x4 involved in range) and where it does
// not. h is the trial's difference step.
TEST(StageKernel, DifferencesMatchTheModelAtEachPoint) {
  using lyap::model_detail::evaluate_all;
  Draw draw;
  const long double h = 1e-8L;
  long in_range = 0;
  for (int n = 0; n < 300'000; ++n) {
    const lyap::ModelCoeffs m = lyap::model_coeffs(draw.params());
    State x{}, k{};
    long double hk = 0;
    stage_for(draw, m, x, k, hk);
    State f_x{};
    const lyap::ModelDifferences d = lyap::model_differences(x, h, m, f_x);

    // The C++ code, without the kernels.
    auto derivs_at = [&m](const State& at, State& f) {
      if (m.split) {
        evaluate_all<true, false>(at, m, f);
      } else {
        evaluate_all<false, false>(at, m, f);
      }
    };
    State expected{}, at = x, f{};
    derivs_at(x, expected);
    ASSERT_TRUE(same_derivative(f_x, expected)) << "case " << n;
    bool applies = kernel_should_apply(x[3], x[4], m);
    // The lower and upper points in x3, then in x4, each with the value taken there.
    const long double x3_lower = x[3] - h * 0.5L, x4_lower = x[4] - h * 0.5L;
    const std::array<std::pair<int, long double>, 4> points = {
        {{3, x3_lower}, {3, x3_lower + h}, {4, x4_lower}, {4, x4_lower + h}}};
    const long double values[] = {d.f3_lower, d.f3_upper, d.f4_lower, d.f4_upper};
    for (int j = 0; j < 4; ++j) {
      at = x;
      const int i = points[j].first;
      at[i] = points[j].second;
      derivs_at(at, f);
      ASSERT_EQ(std::memcmp(&values[j], &f[i], 10), 0) << "case " << n << ", value " << j;
      applies = applies && kernel_should_apply(at[3], at[4], m);
    }
    in_range += applies && m.split;
  }
  EXPECT_GT(in_range, 60'000);
}

// Long orbits through the integrator, which takes the kernels wherever they apply, against the
// integrator as written: one that keeps its angle small throughout, one whose angle drifts far
// beyond the kernels' range, and one at p1 = 3 from a small x4.
TEST(StageKernel, ChainedOrbitsMatchTheIntegratorAsWritten) {
  struct Orbit {
    Params p;
    State start;
    int steps;
  };
  const Orbit orbits[] = {
      {{0, 1.000136L, 0.5L, 2.55L, 0.58L, 0.47L}, {0, 2, -1.1L, 0.1L, 1.1L}, 20000},
      {{0, 1.000136L, 0.5L, 2.55L, 0.58L, 0.47L}, {0, 1.5L, 0.3L, 0, 3}, 5000},
      {{0, 3, 0.5L, -0.60L, 0.51L, 0.51L}, {0, 1.2L, 0.3L, 0.7L, 0.1L}, 5000},
  };
  for (const Orbit& o : orbits) {
    lyap::Rng rng = lyap::make_rng(5), rng_expected = rng;
    State x = o.start, x_expected = o.start, f{}, f_expected{};
    const lyap::ModelCoeffs m = lyap::model_coeffs(o.p);
    for (int step = 0; step < o.steps && x_expected[1] != lyap::failure_mark; ++step) {
      lyap::advance(x, f, 0.1L, x, m, rng);
      as_written::advance(x_expected, f_expected, 0.1L, x_expected, o.p, rng_expected);
      ASSERT_TRUE(as_written::same_bits(x, x_expected)) << "step " << step;
      ASSERT_TRUE(as_written::same_bits(f, f_expected)) << "step " << step;
    }
  }
}

}  // namespace
