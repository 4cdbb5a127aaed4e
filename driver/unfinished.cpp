#include "driver/unfinished.hpp"

#include <cmath>

namespace lyap {

SearchState search_state_of(const RunState& s, long long elapsed_s) {
  SearchState saved;
  saved.began_unix_s = s.began_unix_s;
  saved.p_centre = s.p_centre;
  saved.p_decimals = s.p_decimals;
  saved.max_decimals = s.max_decimals;
  saved.max_digit_sum = s.max_digit_sum;
  saved.prev_digit_sum = s.prev_digit_sum;
  saved.x_centre = s.x_centre;
  saved.trials = s.trial_no;
  saved.finds = s.n_found;
  saved.tally = s.tally;
  saved.elapsed_s = elapsed_s;
  saved.closest = s.closest;
  saved.has_generator = true;
  saved.seed = s.seed;
  saved.generator = s.generator.s;
  return saved;
}

void continue_from(RunState& s, const SearchState& saved) {
  s.began_unix_s = saved.began_unix_s;
  s.p_centre = saved.p_centre;
  s.p_decimals = saved.p_decimals;
  s.max_decimals = saved.max_decimals;
  s.max_digit_sum = saved.max_digit_sum;
  s.prev_digit_sum = saved.prev_digit_sum;
  s.x_centre = saved.x_centre;
  s.trial_no = saved.trials;
  s.n_found = saved.finds;
  s.tally = saved.tally;
  s.closest = saved.closest;
  if (saved.has_generator) {
    s.seed = saved.seed;
    s.generator.s = saved.generator;
  }
}

Unfinished find_unfinished(const std::string& state_path, const std::string& progress_path) {
  Unfinished found;
  const bool state_there = look_at_file(state_path).exists;
  const bool progress_there = look_at_file(progress_path).exists;
  if (!state_there && !progress_there) return found;
  found.kind = Unfinished::unsound;
  const StateFile state = read_state_file(state_path);
  if (!state.unsound.empty()) {
    found.why = state.unsound;
    return found;
  }
  found.progress = summarise_progress(progress_path);
  if (!found.progress.readable || found.progress.records == 0) {
    found.why = "its progress file is missing";
    return found;
  }
  // The budget only ever falls, and every find is recorded after the state: a budget above the
  // last record belongs to another search.
  if (!(static_cast<long double>(state.state.max_digit_sum) <= found.progress.last_value)) {
    found.why = "its budget " + std::to_string(state.state.max_digit_sum) +
                " is above the progress file's last record";
    return found;
  }
  found.kind = Unfinished::sound;
  found.state = state.state;
  return found;
}

}  // namespace lyap
