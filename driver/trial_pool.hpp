// Trials on worker threads. The main thread draws trials in order and submits them a few ahead;
// workers run them as they come; the main thread takes the outcomes back strictly in the order
// drawn, so that the run sees exactly what one thread running them one after another would.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "driver/run_state.hpp"
#include "numerics/trial_outcome.hpp"

namespace lyap {

using TrialFn = std::function<void(RunState&, Rng&)>;

// A drawn trial: the candidate and the seed of its own random source.
struct TrialJob {
  Params p{};
  State x_start{};
  State x{};
  State x_near{};
  long double jitter_seed = 0;
  Rng rng_after_draw;  // the program's generator just after this trial was drawn
};

// Draws the next trial into `job` from the program's generator, around the centres in `s`
// (draw_candidate, which leaves the candidate in s as well), then the seed of its jitter source.
// False, with nothing drawn into `job`, when `most_sets` parameter sets have failed the budget
// or the domain test: the next call goes on with the draw where this one gave up.
bool draw_trial(RunState& s, Rng& rng, TrialJob& job, long most_sets);

// The trial's end as the trial left it in s, and back into a run state for the success
// handling: the one place that pairs the record's fields with the state's.
void store_outcome(const RunState& s, TrialOutcome& outcome);
void take_outcome(RunState& s, const TrialOutcome& outcome);
// A trial taken back is counted in the run state: the trial number, the tally of how trials
// ended, and the closest approach to a find.
void count_trial(RunState& s, const TrialOutcome& outcome);

class TrialPool {
 public:
  // `workers` threads running `trial`, each with a trial state of its own made once from
  // `constants`. With no workers, a trial runs on the caller's thread when its outcome is
  // first waited for, and only one can be submitted at a time.
  TrialPool(int workers, TrialFn trial, const RunState& constants);
  // Drops what is still running (workers give it up within a millisecond or so) and joins them.
  ~TrialPool();
  TrialPool(const TrialPool&) = delete;
  TrialPool& operator=(const TrialPool&) = delete;

  // Submitted trials not yet taken back.
  bool full() const { return submitted_ - taken_ == static_cast<long>(slots_.size()); }
  bool empty() const { return submitted_ == taken_; }
  void submit(const TrialJob& job);
  // Blocks until the oldest submitted trial has run, and takes it back, with what it found.
  void take_oldest(TrialJob& job, TrialOutcome& outcome);
  // The same, waiting at most `patience`: false when the oldest trial is still running then.
  bool take_oldest(TrialJob& job, TrialOutcome& outcome, std::chrono::milliseconds patience);
  // Drops every trial submitted and not taken back, without a trace: those running give up.
  void drop_all();

 private:
  struct Slot {
    TrialJob job;
    TrialOutcome outcome;
    bool done = false;
  };
  struct Worker {
    std::unique_ptr<RunState> state;
    std::thread thread;
  };

  void work(RunState& state);
  void run(RunState& state, const TrialJob& job, long generation, TrialOutcome& outcome);

  TrialFn trial_;
  std::vector<Slot> slots_;  // a ring; ticket t lives in slot t % size
  std::vector<Worker> workers_;
  std::unique_ptr<RunState> caller_state_;  // with no workers

  // Tickets below taken_ were taken back or dropped; taken_ up to next_run_ are running or
  // done; next_run_ up to submitted_ wait for a worker. All guarded by mutex_, which the
  // main thread alone changes taken_ and submitted_ under.
  long taken_ = 0;
  long next_run_ = 0;
  long submitted_ = 0;
  bool stopping_ = false;
  std::atomic<long> generation_{0};
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable oldest_done_;
};

}  // namespace lyap
