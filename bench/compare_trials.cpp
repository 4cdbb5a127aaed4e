// Two builds of the trial in one process, timed in turn: the same undecided trial as
// BM_trial_full (or with "drifting", BM_trial_drifting's), run by each side alternately, so that a
// shared machine's drift falls on both alike. scripts/compare-trials compiles this file once per
// side, with the side's sources and its namespace renamed (-Dlyap=...), and once more for main.
// Both sides must end the trial the same way, or it says so.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#ifdef COMPARE_SIDE
// Beside this file, not from the side's tree: the same trials on both sides.
#include "trial_cases.hpp"

// Thread CPU seconds of one trial, and the step and sample counts it ended with.
double COMPARE_SIDE(bool drifting, long& step, long& samples) {
  using namespace lyap::trial_cases;
  const auto s = trial_from(drifting ? drifting_start : undecided_start);
  lyap::Rng rng = lyap::make_rng(1.5L);
  timespec start, end;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
  lyap::run_trial(*s, rng);
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
  step = s->step;
  samples = s->n_samples;
  return static_cast<double>(end.tv_sec - start.tv_sec) + 1e-9 * (end.tv_nsec - start.tv_nsec);
}

#else

double trial_base(bool drifting, long& step, long& samples);
double trial_change(bool drifting, long& step, long& samples);

namespace {

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 16;
  const bool drifting = argc > 2 && std::string(argv[2]) == "drifting";
  const int repeats = drifting ? 8 : 1;  // a drifting trial ends at step 11133
  std::vector<double> base, change, ratio;
  for (int i = 0; i < rounds; ++i) {
    long base_step, base_samples, change_step, change_samples;
    double base_time = 0, change_time = 0;
    for (int j = 0; j < repeats; ++j) {
      base_time += trial_base(drifting, base_step, base_samples);
      change_time += trial_change(drifting, change_step, change_samples);
    }
    base.push_back(base_time);
    change.push_back(change_time);
    ratio.push_back(change.back() / base.back());
    if (base_step != change_step || base_samples != change_samples) {
      std::printf("the two trials ended differently: step %ld and %ld, samples %ld and %ld\n",
                  base_step, change_step, base_samples, change_samples);
      return 1;
    }
  }
  std::printf(
      "%d rounds of %d: base %.1f ms, change %.1f ms (medians); change / base %.3f (median)\n",
      rounds, repeats, 1e3 * median(base), 1e3 * median(change), median(ratio));
  return 0;
}

#endif
