#include <cmath>
#include <limits>

#include "driver/search.hpp"

namespace lyap {

namespace {

// The end codes of a failed trial.
enum : long {
  code_separation = 1,
  code_not_chaotic = 2,
  code_divergence = 3,
  code_no_separation = 4,
  code_undecided = 5,
  code_unbounded = 6,
  code_fixed_point = 7,
  code_x1_frozen = 8,
  code_left_domain = 9,
};

// Adds the phase-space divergence at x to div_sum term by term: for each i the central
// difference of f(i) across x(i), lowered by eps/2 and then raised by eps, so that the upper
// point is (x - eps/2) + eps as rounded. f1 does not depend on x1, nor f2 on x2, so those two
// terms difference a value with itself, the one at x (0, or NaN when it is not finite). The
// sums are those of full evaluations at every point, bit for bit. Leaves f_x at the derivative
// at x, and f(4) at the derivative's at the last upper point; with whole_f, the check's radial
// rate needs all of f there, and the other components are worked out too.
void add_divergence(const State& x, State& f, State& f_x, const ModelCoeffs& m,
                    long double& div_sum, bool whole_f) {
  const ModelDifferences d = model_differences(x, eps, m, f_x);
  div_sum += (f_x[1] - f_x[1]) / eps;
  div_sum += (f_x[2] - f_x[2]) / eps;
  div_sum += (d.f3_upper - d.f3_lower) / eps;
  div_sum += (d.f4_upper - d.f4_lower) / eps;
  if (whole_f) {
    State upper = x;
    upper[4] = (x[4] - eps * 0.5L) + eps;
    model_derivs(upper, f, m);
  } else {
    f[4] = d.f4_upper;
  }
}

// A failure puts its end code where the step count was; the count stays in steps.
void end_with(RunState& s, long code) {
  s.steps = s.step;
  s.step = code;
}

// round_dec(v, renormalise_decimals), inline. The call would take v and its result through
// 80-bit memory one component at a time, on the companion's path into its next step; inline,
// the four components' divisions and roundings overlap.
long double renormalised(long double v) {
  static_assert(renormalise_decimals == 18);
  constexpr long double scale = 1e18L;
  return std::rint(v * scale) / scale;
}

}  // namespace

Check judge_histories(RunState& s) {
  s.radial_rate = 0;
  for (int i = 1; i <= n_dims; ++i) s.radial_rate += s.x[i] * s.f[i];
  // Moving outwards: the histories are not judged this time.
  if (s.radial_rate > 0) {
    ++s.checks_skipped;
    return Check::go_on;
  }
  ++s.checks_run;

  long double x1_estimate = 0;
  trend_estimate(s.x1_hist, x1_estimate, s.x1_range);
  if (!(s.x1_range >= min_x1_range)) {
    end_with(s, code_x1_frozen);
    return Check::failed;
  }
  trend_estimate(s.le_hist, s.le, s.le_range);
  const long double band = s.le_range / le_band_divisor;
  // How close the trial came to a find, kept whatever the check decides.
  if (s.le - band > s.best_edge) s.best_edge = s.le - band;
  if (s.le + band < le_threshold) {
    end_with(s, code_not_chaotic);
    return Check::failed;
  }
  if (!(std::fabs(le_threshold) >= s.div_mean - s.le_range)) {
    end_with(s, code_divergence);
    return Check::failed;
  }
  if (!(le_threshold >= s.le - band)) return Check::success;
  return Check::go_on;
}

void run_trial(RunState& s, Rng& rng) {
  s.step = 0;
  s.steps = 0;
  s.checks_run = 0;
  s.checks_skipped = 0;
  s.best_edge = -std::numeric_limits<long double>::infinity();
  s.le_sum = 0;
  s.div_sum = 0;
  s.n_samples = 0;
  s.k_aux = k_aux(s.p);
  s.invariant_start = invariant(s.x, s.p);
  const ModelCoeffs m = model_coeffs(s.p);
  // At the top of every step f holds the derivative at x (later steps have it from the
  // speed test), which advancing x starts from.
  model_derivs(s.x, s.f, m);
  State f_x{};

  for (;;) {
    s.step += 1;
    // A trial runs up to a fifth of a second; one whose result is no longer wanted gives up
    // within a millisecond or so.
    if ((s.step & 1023) == 0 && s.cancel.requested()) {
      s.step = 0;
      return;
    }
    advance_pair(s.x, s.f, s.x, s.x_near, s.x_near, s.f, dt, m, rng);

    if (!(s.x[1] >= x1_lower_bound) || !(s.x[4] > 0)) {
      end_with(s, code_left_domain);
      return;
    }

    long double sep = 0;
    for (int i = 1; i <= n_dims; ++i) {
      if (i < n_dims && std::fabs(s.x[i]) > x_limit) {
        end_with(s, code_unbounded);
        return;
      }
      s.dx[i] = s.x_near[i] - s.x[i];
      sep += s.dx[i] * s.dx[i];
    }
    if (sep > eps) {
      end_with(s, code_separation);
      return;
    }
    s.growth = ext_sqrt(sep / s.eps_sq);
    if (!(s.growth > 0)) {
      end_with(s, code_no_separation);
      return;
    }
    // Back to distance eps, on the side opposite to where the companion went.
    for (int i = 1; i <= n_dims; ++i) {
      s.x_near[i] = renormalised(s.x[i] - s.dx[i] / s.growth);
    }

    if (s.step >= n_window) {
      s.le_sum += ext_ln(s.growth);
      s.n_samples += 1;
      const long slot = s.n_samples % n_window;
      const bool checking = s.n_samples >= n_window && slot == n_window - 1;
      add_divergence(s.x, s.f, f_x, m, s.div_sum, checking);
      s.le = s.le_sum / (s.n_samples * dt);
      s.div_mean = s.div_sum / s.n_samples;
      s.x1_hist[slot] = s.x[1];
      s.le_hist[slot] = s.le;
      // A success keeps the step count in step; a failure has put its code there.
      if (checking && judge_histories(s) != Check::go_on) {
        if (s.step >= n_window) s.steps = s.step;
        return;
      }
    }

    if (s.step > max_steps) {
      end_with(s, code_undecided);
      return;
    }
    if (s.step >= n_window) {
      s.f = f_x;  // the divergence estimate evaluated the model at this x
    } else {
      model_derivs(s.x, s.f, m);
    }
    long double speed = 0;
    for (int i = 1; i <= n_dims; ++i) speed += std::fabs(s.f[i]) / (std::fabs(s.x[i]) + 1);
    if (!(speed >= min_speed)) {
      end_with(s, code_fixed_point);
      return;
    }
  }
}

}  // namespace lyap
