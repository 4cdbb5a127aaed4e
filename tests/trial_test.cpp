#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <tuple>

#include "driver/search.hpp"
#include "tests/extended_near.hpp"
#include "tests/model_as_written.hpp"

namespace lyap {
namespace {

// A trial state as the candidate draw leaves it: x = x_start, the companion eps away.
std::unique_ptr<RunState> trial_from(const Params& p, const State& x_start) {
  auto s = std::make_unique<RunState>();
  s->eps_sq = eps * eps;
  s->p = p;
  s->x_start = x_start;
  s->x = x_start;
  for (int j = 1; j <= n_dims; ++j) s->x_near[j] = s->x[j] + eps / 2;
  return s;
}

const Params model_p = {0, 1.000136L, 0.5L, 2.55L, 0.58L, 0.47L};
const State bounded_x = {0, 2, -1.1L, 0.1L, 1.1L};
const Params uncoupled_p = {0, 0.5L, 0.5L, 0, 1, 0};

struct CodeCase {
  const char* what;
  Params p;
  State x;
  long code;
};

TEST(RunTrial, EndCodesFromStatesBuiltForThem) {
  const CodeCase cases[] = {
      {"x(1) below 0.1", model_p, {0, -1, 0, 0.1L, 1.1L}, 9},
      {"x(4) negative", model_p, {0, 2, -1.1L, 0.1L, -1}, 9},
      {"x(3) beyond the bound", model_p, {0, 2, -1.1L, 5000, 1.1L}, 6},
      // With p1 = p2 the coupling vanishes, x(4) stays put and (1, 0, x3, p3 + 2) is an
      // equilibrium.
      {"x(2) beyond the bound", uncoupled_p, {0, 1, 1500, 0, 2}, 6},
      {"fixed point", uncoupled_p, {0, 1, 0, 0, 2}, 7},
      {"x(4) is not bounded", {0, 0.5L, 0.5L, 5000, 1, 0}, {0, 1, 0, 0, 5002}, 7},
  };
  Rng rng = make_rng(5.0L);
  for (const auto& c : cases) {
    auto s = trial_from(c.p, c.x);
    run_trial(*s, rng);
    EXPECT_EQ(s->step, c.code) << c.what;
  }
}

TEST(RunTrial, SpeedJustUnderTheLimitAfterTheFirstStepGivesCode7) {
  // The uncoupled model (p1 = p2) at rest in x(1), x(2) and x(4) while x(3) drifts towards 0
  // at a constant rate c: f3 does not depend on x3, and p5 holds f2 at 0. The speed after the
  // first step is then c / (|x3| - 0.1 c + 1), and c makes it the given share of the limit.
  // Under the limit the trial ends there; over it the speed only grows as x(3) nears 0, and the
  // trial runs on to the first check, where x(1) is frozen. With |x3| = 10, a denominator of
  // |x(3)| or of 1 would make the speed 10% or 11 times larger.
  struct SpeedCase {
    long double x3, share;
    long code;
  };
  const SpeedCase cases[] = {{10, 0.99L, 7}, {10, 1.01L, 8}, {-10, 0.99L, 7}, {-10, 1.01L, 8}};
  for (const auto& c : cases) {
    const long double target = c.share * min_speed;
    const long double rate = target * (std::fabs(c.x3) + 1) / (1 + dt * target);
    const long double f3 = c.x3 > 0 ? -rate : rate;
    const long double d = -2 - 8 * f3;  // p3 - x4, from f3 = (-2 - d) / 8
    const Params p = {0, 0.5L, 0.5L, 0, 1, (d * d - 4) / 16};
    auto s = trial_from(p, {0, 1, 0, c.x3, -d});
    Rng rng = make_rng(5.0L);
    run_trial(*s, rng);
    EXPECT_EQ(s->step, c.code) << c.x3 << " at " << c.share << " of the limit";
  }
}

TEST(RunTrial, CompanionTooFarGivesCode1) {
  auto s = trial_from(model_p, bounded_x);
  s->x_near[1] = s->x[1] + 1e-3L;
  Rng rng = make_rng(5.0L);
  run_trial(*s, rng);
  EXPECT_EQ(s->step, 1);
}

TEST(RunTrial, CoincidingTrajectoriesGiveCode4) {
  auto s = trial_from(model_p, bounded_x);
  s->x_near = s->x;
  Rng rng = make_rng(5.0L);
  run_trial(*s, rng);
  EXPECT_EQ(s->step, 4);
}

TEST(RunTrial, CompanionGoesBackEpsAwayOnTheSideOppositeToItsMove) {
  // At the equilibrium of the uncoupled model the trial ends at the speed test of its first
  // step, just after the companion, which started eps/2 above x in every component, was put
  // back.
  auto s = trial_from(uncoupled_p, {0, 1, 0, 0, 2});
  Rng rng = make_rng(5.0L);
  run_trial(*s, rng);
  ASSERT_EQ(s->step, 7);
  long double moved = 0;
  for (int i = 1; i <= n_dims; ++i) moved += s->dx[i] * s->dx[i];
  moved = std::sqrt(moved);
  for (int i = 1; i <= n_dims; ++i) {
    EXPECT_GT(s->dx[i], eps / 4) << i;
    EXPECT_EXT_NEAR(s->x_near[i] - s->x[i], -s->dx[i] * eps / moved, 2e-18L) << i;
  }
}

TEST(RunTrial, BoundedRegularOrbitRunsToTheStepLimit) {
  // Every check on this orbit is either skipped or undecided, so it runs all steps.
  auto s = trial_from(model_p, bounded_x);
  Rng rng = make_rng(5.0L);
  run_trial(*s, rng);
  ASSERT_EQ(s->step, 5);
  EXPECT_EQ(s->n_samples, (max_steps + 1) - n_window + 1);
  EXPECT_EQ(s->invariant_start, invariant(bounded_x, model_p));
  // The companion was put back at distance eps after the last step.
  long double sep = 0;
  for (int i = 1; i <= n_dims; ++i) {
    const long double d = s->x_near[i] - s->x[i];
    sep += d * d;
  }
  EXPECT_NEAR(static_cast<double>(sep / (eps * eps)), 1.0, 1e-6);
  // The energy is conserved along the orbit to the integrator's accuracy.
  EXPECT_NEAR(static_cast<double>(invariant(s->x, model_p) / s->invariant_start), 1.0, 1e-4);
}

TEST(RunTrial, FrozenX1EndsAtTheFirstCheckWithCode8) {
  // The uncoupled model resting in x(1), x(2) while x(3) drifts slowly back towards 0:
  // the speed stays above the limit, the radial rate is negative, and x(1) does not vary.
  const Params p = {0, 0.5L, 0.5L, 0, 1, -0.003984L};
  auto s = trial_from(p, {0, 1, 0, 10, 1.984L});
  Rng rng = make_rng(5.0L);
  run_trial(*s, rng);
  EXPECT_EQ(s->step, 8);
  EXPECT_EQ(s->n_samples, 19999);
  EXPECT_LT(s->x1_range, 0.1L);
}

TEST(RunTrial, RegularOrbitEndsWithCode2) {
  // A start the search drew: its exponent band lies below the threshold at a check.
  auto s = trial_from({0, 1.000136L, 0.5L, -0.15L, 0.01L, 1.39L}, {0, 3.3L, 1.2L, -1.3L, 0.1L});
  Rng rng = make_rng(5.0L);
  run_trial(*s, rng);
  EXPECT_EQ(s->step, 2);
  EXPECT_EQ(s->n_samples % n_window, n_window - 1);
  EXPECT_LT(s->le + s->le_range / le_band_divisor, le_threshold);
}

// A state at a check, moving inwards (radial rate -1): x(1) alternates between 1 and
// 1 + x1_step, and le between le and le + wobble. Each third of such a history holds 1667 of the
// higher values, so the trend estimate is the plain mean le + wobble / 2 and le_range is wobble;
// the band is ten times wobble.
std::unique_ptr<RunState> at_check(long double le, long double wobble, long double div_mean,
                                   long double x1_step = 1) {
  auto s = std::make_unique<RunState>();
  s->x = {0, 1, 0, 0, 1};
  s->f = {0, -1, 0, 0, 0};
  for (long i = 0; i < n_window; ++i) {
    s->x1_hist[i] = 1 + ((i % 2) ? x1_step : 0);
    s->le_hist[i] = le + ((i % 2) ? wobble : 0);
  }
  s->div_mean = div_mean;
  return s;
}

constexpr long go_on = 0;
constexpr long success = -1;

struct CheckCase {
  const char* what;
  long double le, wobble, div_mean, x1_step;
  long outcome;  // go_on, success or the end code
};

TEST(JudgeHistories, EndConditionsThatHoldTogetherEndWithTheFirstInOrder) {
  const long double nan = std::numeric_limits<long double>::quiet_NaN();
  const CheckCase cases[] = {
      // One condition at a time.
      {"band above the threshold", 0.02L, 0.0001L, 0, 1, success},
      {"band below the threshold", 0.001L, 0.0001L, 0, 1, 2},
      {"divergence too large", 0.02L, 0.0001L, 0.0052L, 1, 3},
      {"x(1) spread 0.1 is under the single-precision 0.1", 0.02L, 0.0001L, 0, 0.1L, 8},
      {"x(1) spread just over it", 0.02L, 0.0001L, 0, 0.1000001L, success},
      // The band is ten times le_range: estimate 0.0031 + 0.002 reaches the threshold, and
      // 0.0061 - 0.002 falls below it, so neither is decided.
      {"band reaches up over the threshold", 0.003L, 0.0002L, 0, 1, go_on},
      {"band reaches down under the threshold", 0.006L, 0.0002L, 0, 1, go_on},
      // The divergence is allowed le_range beyond the threshold: 0.0055 - 0.001 passes,
      // 0.0065 - 0.001 does not.
      {"divergence within le_range of the threshold", 0.02L, 0.001L, 0.0055L, 1, success},
      {"divergence beyond le_range", 0.02L, 0.001L, 0.0065L, 1, 3},
      // Several at once: x(1) frozen, then not chaotic, then the divergence.
      {"frozen, not chaotic and diverging", 0.001L, 0.0001L, 1, 0, 8},
      {"frozen and diverging", 0.02L, 0.0001L, 1, 0, 8},
      {"not chaotic and diverging", 0.001L, 0.0001L, 1, 1, 2},
      {"not chaotic, divergence not a number", 0.001L, 0.0001L, nan, 1, 2},
      {"chaotic band but diverging", 0.02L, 0.0001L, 1, 1, 3},
      {"undecided band but diverging", 0.005L, 0.0001L, 1, 1, 3},
      {"divergence not a number", 0.02L, 0.0001L, nan, 1, 3},
      {"exponent not a number", nan, 0, 0, 1, 3},
  };
  for (const auto& c : cases) {
    auto s = at_check(c.le, c.wobble, c.div_mean, c.x1_step);
    s->step = 29998;
    const Check result = judge_histories(*s);
    const long outcome = result == Check::go_on     ? go_on
                         : result == Check::success ? success
                                                    : s->step;
    EXPECT_EQ(outcome, c.outcome) << c.what;
    if (result != Check::failed) {
      EXPECT_EQ(s->step, 29998) << c.what;
    }
  }
}

TEST(JudgeHistories, OutwardMotionSkipsTheWholeCheck) {
  // Every end condition holds, but the state moves outwards; at a radial rate of exactly 0
  // the check runs.
  for (const long double f1 : {1.0L, 0.0L}) {
    auto s = at_check(0.001L, 0.0001L, 1, 0);
    s->f = {0, f1, 0, 0, 0};
    s->step = 29998;
    s->le = 42;
    s->x1_range = 42;
    const Check result = judge_histories(*s);
    if (f1 > 0) {
      EXPECT_EQ(result, Check::go_on);
      EXPECT_EQ(s->step, 29998);
      EXPECT_EQ(s->le, 42);
      EXPECT_EQ(s->x1_range, 42);
    } else {
      EXPECT_EQ(result, Check::failed);
      EXPECT_EQ(s->step, 8);
      EXPECT_EQ(s->le, 42);  // x(1) failed first: the exponent history was not looked at
    }
  }
}

// The trial loop as written, on the integrator and model as written: each trajectory advanced
// on its own, every derivative evaluated from p.
void trial_as_written(RunState& s, Rng& rng) {
  s.step = 0;
  s.le_sum = 0;
  s.div_sum = 0;
  s.n_samples = 0;
  s.k_aux = k_aux(s.p);
  s.invariant_start = invariant(s.x, s.p);
  for (;;) {
    s.step += 1;
    as_written::advance(s.x, s.f, dt, s.x, s.p, rng);
    as_written::advance(s.x_near, s.f, dt, s.x_near, s.p, rng);
    if (!(s.x[1] >= 0.1L) || !(s.x[4] > 0)) {
      s.step = 9;
      return;
    }
    long double sep = 0;
    for (int i = 1; i <= n_dims; ++i) {
      if (i < n_dims && std::fabs(s.x[i]) > x_limit) {
        s.step = 6;
        return;
      }
      s.dx[i] = s.x_near[i] - s.x[i];
      sep += s.dx[i] * s.dx[i];
    }
    if (sep > eps) {
      s.step = 1;
      return;
    }
    s.growth = ext_sqrt(sep / s.eps_sq);
    if (!(s.growth > 0)) {
      s.step = 4;
      return;
    }
    for (int i = 1; i <= n_dims; ++i) s.x_near[i] = round_dec(s.x[i] - s.dx[i] / s.growth, 18);
    if (s.step >= n_window) {
      s.le_sum += ext_ln(s.growth);
      s.n_samples += 1;
      for (int i = 1; i <= n_dims; ++i) {
        const long double saved = s.x[i];
        s.x[i] = s.x[i] - eps * 0.5L;
        as_written::model_derivs(s.x, s.f, s.p);
        const long double fm = s.f[i];
        s.x[i] = s.x[i] + eps;
        as_written::model_derivs(s.x, s.f, s.p);
        s.div_sum += (s.f[i] - fm) / eps;
        s.x[i] = saved;
      }
      s.le = s.le_sum / (s.n_samples * dt);
      s.div_mean = s.div_sum / s.n_samples;
      const long slot = s.n_samples % n_window;
      s.x1_hist[slot] = s.x[1];
      s.le_hist[slot] = s.le;
      if (s.n_samples >= n_window && slot == n_window - 1 && judge_histories(s) != Check::go_on) {
        return;
      }
    }
    if (s.step > max_steps) {
      s.step = 5;
      return;
    }
    as_written::model_derivs(s.x, s.f, s.p);
    long double speed = 0;
    for (int i = 1; i <= n_dims; ++i) speed += std::fabs(s.f[i]) / (std::fabs(s.x[i]) + 1);
    if (!(speed >= widen(1e-4f))) {
      s.step = 7;
      return;
    }
  }
}

bool same_value(long double a, long double b) {
  return std::memcmp(&a, &b, 10) == 0;
}

bool same_history(const History& a, const History& b) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!same_value(a[i], b[i])) return false;
  }
  return true;
}

TEST(RunTrial, LeavesTheBitsOfTheTrialAsWritten) {
  // Trials ending with each kind of code, two of them after the first check (20000 samples
  // of the divergence estimate), compared in every value the trial leaves behind.
  struct Start {
    const char* what;
    Params p;
    State x;
    long double near_offset;
  };
  const Start starts[] = {
      {"code 2", {0, 1.000136L, 0.5L, -0.15L, 0.01L, 1.39L}, {0, 3.3L, 1.2L, -1.3L, 0.1L}, eps / 2},
      {"code 8", {0, 0.5L, 0.5L, 0, 1, -0.003984L}, {0, 1, 0, 10, 1.984L}, eps / 2},
      {"code 9", model_p, {0, -1, 0, 0.1L, 1.1L}, eps / 2},
      {"code 6", model_p, {0, 2, -1.1L, 5000, 1.1L}, eps / 2},
      {"code 7", uncoupled_p, {0, 1, 0, 0, 2}, eps / 2},
      {"code 1", model_p, bounded_x, 1e-3L},
      {"code 4", model_p, bounded_x, 0},
  };
  for (const Start& start : starts) {
    auto fast = trial_from(start.p, start.x);
    for (int j = 1; j <= n_dims; ++j) fast->x_near[j] = fast->x[j] + start.near_offset;
    auto plain = std::make_unique<RunState>(*fast);
    Rng rng_fast = make_rng(5.0L), rng_plain = rng_fast;
    run_trial(*fast, rng_fast);
    trial_as_written(*plain, rng_plain);

    EXPECT_EQ(fast->step, plain->step) << start.what;
    EXPECT_EQ(fast->n_samples, plain->n_samples) << start.what;
    for (const auto& [name, a, b] :
         {std::tuple{"le", fast->le, plain->le},
          {"le_range", fast->le_range, plain->le_range},
          {"le_sum", fast->le_sum, plain->le_sum},
          {"div_sum", fast->div_sum, plain->div_sum},
          {"div_mean", fast->div_mean, plain->div_mean},
          {"x1_range", fast->x1_range, plain->x1_range},
          {"growth", fast->growth, plain->growth},
          {"radial_rate", fast->radial_rate, plain->radial_rate},
          {"invariant_start", fast->invariant_start, plain->invariant_start}}) {
      EXPECT_TRUE(same_value(a, b)) << start.what << ": " << name << " " << a << " vs " << b;
    }
    EXPECT_TRUE(as_written::same_bits(fast->x, plain->x)) << start.what;
    EXPECT_TRUE(as_written::same_bits(fast->x_near, plain->x_near)) << start.what;
    EXPECT_TRUE(as_written::same_bits(fast->f, plain->f)) << start.what;
    EXPECT_TRUE(as_written::same_bits(fast->dx, plain->dx)) << start.what;
    EXPECT_TRUE(same_history(fast->le_hist, plain->le_hist)) << start.what;
    EXPECT_TRUE(same_history(fast->x1_hist, plain->x1_hist)) << start.what;
    EXPECT_EQ(rng_fast.s, rng_plain.s) << start.what;
  }
}

}  // namespace
}  // namespace lyap
