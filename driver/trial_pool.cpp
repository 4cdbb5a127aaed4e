#include "driver/trial_pool.hpp"

#include <limits>
#include <utility>

#include "driver/search.hpp"
#include "platform/process.hpp"

namespace lyap {

namespace {

// Enough trials ahead that no worker waits while the oldest one is still running. Most trials
// end within a few steps and a few in a hundred run to thousands of times as long, so the
// trials behind a long one must hold another long one for the next worker: with 32 a worker,
// two workers ran 1.4 times as fast as one (BM_search), with 256 twice as fast. A slot is under
// a kilobyte, and the trials drawn ahead of a success are only redrawn.
constexpr int slots_per_worker = 256;

std::unique_ptr<RunState> trial_state(const RunState& constants) {
  auto state = std::make_unique<RunState>();
  state->eps_sq = constants.eps_sq;
  return state;
}

}  // namespace

bool draw_trial(RunState& s, Rng& rng, TrialJob& job, long most_sets) {
  if (draw_candidate(s, rng, most_sets) == 0) return false;
  job.p = s.p;
  job.x_start = s.x_start;
  job.x = s.x;
  job.x_near = s.x_near;
  // The one change that running trials side by side makes to the program's random sequence:
  // each trial's integrator jitter comes from a source of its own, seeded here by one value of
  // the program's generator, however many workers there are. Trials then give the same
  // results whichever thread runs them, and in whatever order.
  job.jitter_seed = rnd(rng);
  job.rng_after_draw = rng;
  return true;
}

void store_outcome(const RunState& s, TrialOutcome& outcome) {
  outcome.p = s.p;
  outcome.x_start = s.x_start;
  outcome.x = s.x;
  outcome.f = s.f;
  outcome.step = s.step;
  outcome.le = s.le;
  outcome.le_range = s.le_range;
  outcome.div_mean = s.div_mean;
  outcome.n_samples = s.n_samples;
  outcome.invariant_start = s.invariant_start;
  outcome.best_edge = s.best_edge;
}

void take_outcome(RunState& s, const TrialOutcome& outcome) {
  s.p = outcome.p;
  s.x_start = outcome.x_start;
  s.x = outcome.x;
  s.f = outcome.f;
  s.step = outcome.step;
  s.le = outcome.le;
  s.le_range = outcome.le_range;
  s.div_mean = outcome.div_mean;
  s.n_samples = outcome.n_samples;
  s.invariant_start = outcome.invariant_start;
  s.best_edge = outcome.best_edge;
}

void count_trial(RunState& s, const TrialOutcome& outcome) {
  s.trial_no += 1;
  s.tally.count(outcome.step);
  if (outcome.best_edge > -std::numeric_limits<long double>::infinity() &&
      (!s.closest.reached || outcome.best_edge > s.closest.edge)) {
    s.closest = {true, outcome.best_edge, outcome.p, outcome.x_start};
  }
}

TrialPool::TrialPool(int workers, TrialFn trial, const RunState& constants)
    : trial_(std::move(trial)),
      slots_(workers > 0 ? static_cast<std::size_t>(workers) * slots_per_worker : 1) {
  if (workers <= 0) {
    caller_state_ = trial_state(constants);
    return;
  }
  workers_.resize(static_cast<std::size_t>(workers));
  for (Worker& worker : workers_) {
    worker.state = trial_state(constants);
    worker.thread = std::thread([this, state = worker.state.get()] { work(*state); });
  }
}

TrialPool::~TrialPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    generation_.fetch_add(1, std::memory_order_relaxed);
  }
  work_ready_.notify_all();
  for (Worker& worker : workers_) worker.thread.join();
}

void TrialPool::run(RunState& s, const TrialJob& job, long generation, TrialOutcome& outcome) {
  // The trial starts as the draw left it, in this worker's own state.
  s.p = job.p;
  s.x_start = job.x_start;
  s.x = job.x;
  s.x_near = job.x_near;
  s.dx.fill(0);
  s.le_hist.fill(0);
  s.best_edge = -std::numeric_limits<long double>::infinity();
  s.cancel = {&generation_, generation};
  Rng jitter = make_rng(job.jitter_seed);
  trial_(s, jitter);
  store_outcome(s, outcome);
}

void TrialPool::work(RunState& state) {
  lower_thread_priority();
  TrialJob job;
  TrialOutcome outcome;
  std::unique_lock lock(mutex_);
  for (;;) {
    work_ready_.wait(lock, [this] { return stopping_ || next_run_ < submitted_; });
    if (stopping_) return;
    const long ticket = next_run_++;
    job = slots_[static_cast<std::size_t>(ticket) % slots_.size()].job;
    const long generation = generation_.load(std::memory_order_relaxed);
    lock.unlock();
    run(state, job, generation, outcome);
    lock.lock();
    if (ticket < taken_) continue;  // dropped while it ran
    Slot& slot = slots_[static_cast<std::size_t>(ticket) % slots_.size()];
    slot.outcome = outcome;
    slot.done = true;
    if (ticket == taken_) oldest_done_.notify_one();
  }
}

void TrialPool::submit(const TrialJob& job) {
  {
    std::lock_guard lock(mutex_);
    Slot& slot = slots_[static_cast<std::size_t>(submitted_) % slots_.size()];
    slot.job = job;
    slot.done = false;
    ++submitted_;
  }
  work_ready_.notify_one();
}

void TrialPool::take_oldest(TrialJob& job, TrialOutcome& outcome) {
  while (!take_oldest(job, outcome, std::chrono::hours(1))) {
  }
}

bool TrialPool::take_oldest(TrialJob& job, TrialOutcome& outcome,
                            std::chrono::milliseconds patience) {
  Slot& slot = slots_[static_cast<std::size_t>(taken_) % slots_.size()];
  if (workers_.empty() && !slot.done) {
    run(*caller_state_, slot.job, generation_.load(std::memory_order_relaxed), slot.outcome);
    slot.done = true;
  }
  std::unique_lock lock(mutex_);
  if (!oldest_done_.wait_for(lock, patience, [&] { return slot.done; })) return false;
  job = slot.job;
  outcome = slot.outcome;
  ++taken_;
  return true;
}

void TrialPool::drop_all() {
  std::lock_guard lock(mutex_);
  generation_.fetch_add(1, std::memory_order_relaxed);
  taken_ = submitted_;
  next_run_ = submitted_;
}

}  // namespace lyap
