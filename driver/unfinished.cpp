#include "driver/unfinished.hpp"

#include <algorithm>
#include <cmath>

#include "report/digit_sum.hpp"

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
  saved.p1 = s.p1;
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
  s.p1 = saved.p1;
  if (saved.has_generator) {
    s.seed = saved.seed;
    s.generator.s = saved.generator;
  }
}

namespace {

// Why a state that reads well could not have been left by a search, empty when it could: a
// hand-edited or foreign state that would otherwise hang the draw or wrap a count.
std::string unreachable(const SearchState& s, std::int64_t now_unix_s) {
  // The budget: from what p1, p2 and the cheapest p3..p5 (0, 0 and 1) cost, up to the start's.
  // A free p1 costs at least what 2 does, the cheapest value above 1.
  const Params cheapest = {0, s.p1.free ? 2 : s.p1.value, fixed_p2, 0, 0, 1};
  const long least = digit_sum(cheapest);
  const long most = (3 + 2) * n_params;
  if (s.max_digit_sum < least || s.max_digit_sum > most) {
    return "its budget " + std::to_string(s.max_digit_sum) + " is outside " +
           std::to_string(least) + ".." + std::to_string(most);
  }
  // The centres are the start's (all 1) or the last find's, whose set met the budget: a draw
  // around them can meet it too.
  Params centres = s.p_centre;
  for (int i = s.p1.free ? 2 : 1; i <= 2; ++i) {
    if (centres[i] != 1 && centres[i] != (i == 1 ? s.p1.value : fixed_p2)) {
      return "its centre of p" + std::to_string(i) + " is not one a search can have";
    }
  }
  if (!s.p1.free) centres[1] = s.p1.value;
  centres[2] = fixed_p2;
  if (digit_sum(centres) > s.max_digit_sum) return "its centres do not meet its budget";
  if (!(s.p_centre[5] > 0)) return "its centre of p5 is not positive";
  long most_decimals = 1;
  for (int i = 1; i <= n_params; ++i) {
    const long d = s.p_decimals[static_cast<std::size_t>(i)];
    if (round_dec(s.p_centre[i], static_cast<int>(d)) != s.p_centre[i]) {
      return "its centre of p" + std::to_string(i) + " has more than " + std::to_string(d) +
             " decimals";
    }
    most_decimals = std::max(most_decimals, d);
  }
  if (s.max_decimals != most_decimals) return "its max_decimals does not match its decimals";
  // The start centre is the start of a find, which kept x1..x3 within x_limit for 30000 steps
  // (x4 is not bounded), or the first centre, within 0.5.
  for (int j = 1; j < n_dims; ++j) {
    if (!(std::fabs(s.x_centre[j]) <= 1e6L)) return "its start centre is out of reach";
  }
  // The counts were read within 2^53 and found adding up with the file (parse_state).
  // A step's growth factor lies between the smallest extended value and 10^4, so an exponent and
  // its band stay far within 1e7. A check reaches above the threshold only in a trial that it
  // finds chaotic, or that the divergence test then ends (code 3).
  if (s.closest.reached &&
      (!(std::fabs(s.closest.edge) <= 1e7L) ||
       (s.tally.chaotic == 0 && s.tally.code[3] == 0 && s.closest.edge > le_threshold))) {
    return "its closest approach is not one its trials could reach";
  }
  constexpr std::int64_t day_s = 86400;
  if (s.began_unix_s < 0 || s.began_unix_s > now_unix_s + day_s) {
    return "it began at a time no search could";
  }
  return {};
}

}  // namespace

Unfinished find_unfinished(const std::string& state_path, const std::string& progress_path,
                           std::int64_t now_unix_s) {
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
  if (std::string why = unreachable(state.state, now_unix_s); !why.empty()) {
    found.why = std::move(why);
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
