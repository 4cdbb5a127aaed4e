// Trials on worker threads: the same console, files and pictures for any number of workers,
// dropped trials that leave no trace, and an end of run that does not wait for long trials.
#include "driver/trial_pool.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "deadline.hpp"
#include "driver/run.hpp"
#include "fakes.hpp"
#include "scratch.hpp"

namespace lyap {
namespace {

using testing::ConsoleCall;
using testing::FakeClock;
using testing::read_file;
using testing::RecordingConsole;
using testing::ScratchDir;

// A number made from the bits of the drawn parameters and start, the same whoever runs it.
std::uint64_t fingerprint(const RunState& s) {
  std::uint64_t h = 1469598103934665603ULL;
  const auto mix = [&](long double v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    h = (h ^ bits) * 1099511628211ULL;
  };
  for (int i = 3; i <= n_params; ++i) mix(s.p[i]);
  for (int j = 1; j <= n_dims; ++j) mix(s.x_start[j]);
  return h ^ (h >> 29);
}

// Outcome and duration from the trial's own inputs and its own jitter source; about one trial
// in twelve succeeds. It gives up when cancelled, as the real trial does.
void fake_trial(RunState& s, Rng& jitter) {
  const std::uint64_t h = fingerprint(s);
  // Up to some tens of microseconds of arithmetic, checking for cancellation as it goes.
  volatile std::uint64_t work = h;
  for (std::uint64_t i = 0; i < h % 20000; ++i) {
    if (i % 1024 == 0 && s.cancel.requested()) {
      s.step = 0;
      return;
    }
    work = work * 6364136223846793005ULL + 1;
  }
  s.x = s.x_start;
  s.x[1] = 1 + rnd(jitter);  // the jitter source shows in the result line's start value
  s.invariant_start = 2;
  s.le_range = 0.0004L;
  s.div_mean = -rnd(jitter);
  s.n_samples = 190000;
  // Some trials reach a check, the closest approach among them taken in draw order.
  if (h % 5 == 0) s.best_edge = -rnd(jitter) / 100;
  if (h % 12 == 0) {
    s.step = 29998;
    s.le = 0.006L + static_cast<long double>(h % 100) / 10000;
  } else {
    s.step = 1 + static_cast<long>(h % 9);
  }
}

// A plot that draws from the program's generator and leaves it marked on the canvas; one in
// eight is dropped as unscalable.
void fake_plot(RunState& s, Canvas& canvas, Rng& rng) {
  clear_canvas(canvas);
  for (int k = 0; k < 50; ++k) {
    set_pixel(canvas, 40 + rnd(rng) * 400, rnd(rng) * 400, static_cast<Colour>(rnd(rng) * 255));
  }
  if (rnd(rng) < 0.125L) s.x[1] = 1e99L;
}

struct RunRecord {
  std::vector<ConsoleCall> calls;
  std::string results, progress, state, bitmap_before_end, bitmap_after_end;
  std::vector<Colour> canvas;
  long trials = 0, found = 0;
};

RunRecord search_with(int workers, int trials) {
  const ScratchDir scratch;
  RecordingConsole console;
  FakeClock clock;
  clock.time_of_day = 45296.25L;
  clock.monotonic = 1000;
  RunEnv env(console, clock, scratch.file("lyaptest"));
  env.open_window = [](std::string_view, int, int) { return std::unique_ptr<Window>(); };
  env.trial = fake_trial;
  env.plot = fake_plot;
  env.workers = workers;
  for (int i = 1; i < trials; ++i) console.keys.push_back(-1);
  console.keys.push_back(27);
  console.keys.push_back('x');  // the last key of the end of run
  auto state = std::make_unique<RunState>();
  start_up(*state, env);
  search_until_escape(*state, env);

  RunRecord record;
  record.results = read_file(env.results_path());
  record.progress = read_file(env.progress_path());
  record.state = read_file(env.state_path());
  record.bitmap_before_end = read_file(env.bitmap_path());
  record.canvas = env.canvas.pixels;
  end_of_run(*state, env);
  record.bitmap_after_end = read_file(env.bitmap_path());
  // The scratch folder differs from run to run: the texts are compared without it.
  record.calls = console.calls;
  const std::string folder = scratch.path().string();
  for (ConsoleCall& call : record.calls) {
    for (std::size_t at; (at = call.text.find(folder)) != std::string::npos;) {
      call.text.erase(at, folder.size());
    }
  }
  record.trials = state->trial_no;
  record.found = state->n_found;
  return record;
}

TEST(Workers, AnyNumberOfWorkersGivesTheSameRun) {
  constexpr int trials = 600;
  const RunRecord one_thread = search_with(0, trials);
  // The run must have something to show: finds, dropped plots, and the failure digits.
  EXPECT_EQ(one_thread.trials, trials);
  ASSERT_GE(one_thread.found, 10);
  EXPECT_FALSE(one_thread.bitmap_before_end.empty());
  for (const int workers : {1, 2, 3, 8}) {
    const RunRecord run = search_with(workers, trials);
    EXPECT_EQ(run.trials, one_thread.trials) << workers;
    EXPECT_EQ(run.found, one_thread.found) << workers;
    EXPECT_EQ(run.results, one_thread.results) << workers;
    EXPECT_EQ(run.progress, one_thread.progress) << workers;
    EXPECT_EQ(run.state, one_thread.state) << workers;
    EXPECT_TRUE(run.canvas == one_thread.canvas) << workers;
    EXPECT_TRUE(run.bitmap_before_end == one_thread.bitmap_before_end) << workers;
    EXPECT_TRUE(run.bitmap_after_end == one_thread.bitmap_after_end) << workers;
    ASSERT_EQ(run.calls.size(), one_thread.calls.size()) << workers;
    for (std::size_t i = 0; i < run.calls.size(); ++i) {
      const ConsoleCall& a = run.calls[i];
      const ConsoleCall& b = one_thread.calls[i];
      ASSERT_TRUE(a.kind == b.kind && a.text == b.text && a.a == b.a && a.b == b.b &&
                  a.colour == b.colour)
          << workers << " workers, console call " << i << ": " << a.text << " / " << b.text;
    }
  }
}

// Escape does not wait for the trials still running: they give up within a few steps.
TEST(Workers, EscapeDropsLongTrialsAtOnce) {
  // The trials drawn ahead never end unless they are cancelled: a search that failed to drop
  // them would never return, and the watchdog ends the test.
  const testing::Deadline deadline(std::chrono::seconds(120));
  // Runs start-up and the search until the Escape after the first trial.
  const auto search_once = [](int workers, const TrialFn& trial) {
    const ScratchDir scratch;
    RecordingConsole console;
    FakeClock clock;
    RunEnv env(console, clock, scratch.file("lyaptest"));
    env.open_window = [](std::string_view, int, int) { return std::unique_ptr<Window>(); };
    env.workers = workers;
    env.trial = trial;
    console.keys.push_back(27);
    auto s = std::make_unique<RunState>();
    start_up(*s, env);
    search_until_escape(*s, env);
    return s->trial_no;
  };
  // The first trial drawn, known by its parameters, ends at once; every other one runs until
  // it is cancelled.
  std::uint64_t first = 0;
  search_once(0, [&first](RunState& s, Rng&) {
    first = fingerprint(s);
    s.step = 9;
  });
  for (const int workers : {0, 2, 8}) {
    EXPECT_EQ(search_once(workers,
                          [first](RunState& s, Rng&) {
                            s.step = 9;
                            if (fingerprint(s) == first) return;
                            while (!s.cancel.requested()) std::this_thread::yield();
                          }),
              1)
        << workers;
  }
}

// The real trial checks for its cancellation every 1024 steps: a bounded regular orbit, which
// would run to the step limit and end with code 5, stops with step 0.
TEST(Workers, CancelledRealTrialStopsEarly) {
  auto s = std::make_unique<RunState>();
  s->eps_sq = eps * eps;
  s->p = {0, 1.000136L, 0.5L, 2.55L, 0.58L, 0.47L};
  s->x_start = {0, 2, -1.1L, 0.1L, 1.1L};
  s->x = s->x_start;
  for (int j = 1; j <= n_dims; ++j) s->x_near[j] = s->x[j] + eps / 2;
  const std::atomic<long> generation{1};
  s->cancel = {&generation, 0};
  Rng rng = make_rng(5.0L);
  run_trial(*s, rng);
  EXPECT_EQ(s->step, 0);
}

}  // namespace
}  // namespace lyap
