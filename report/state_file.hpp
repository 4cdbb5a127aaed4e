// The search's state, base_name.state: what a search needs to go on where it stopped, as short
// "name: value" lines a person can read, ending with a line "end". Reals are written as the
// shortest decimal text that reads back to the same bits (hexadecimal should none do), so a
// state written by one build continues in any other, Linux or Windows.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "numerics/numerics.hpp"
#include "platform/files.hpp"

namespace lyap {

// Format 2 added the seed and the generator, so that a continued search draws exactly the trials
// the uninterrupted one would have. A state of format 1 still continues, with a fresh seed.
inline constexpr int state_format = 2;

// How many trials ended each way over the whole search.
struct Tally {
  std::array<std::int64_t, 10> code{};  // end codes 1..9; element 0 unused
  std::int64_t chaotic = 0;             // trials that passed the test, kept or not
  void count(long step) {
    if (step >= 10) {
      ++chaotic;
    } else if (step >= 1) {
      ++code[static_cast<std::size_t>(step)];
    }
  }
  std::int64_t total() const {
    std::int64_t sum = chaotic;
    for (std::size_t i = 1; i < code.size(); ++i) sum += code[i];
    return sum;
  }
};

// The highest lower band edge le - le_range / le_band_divisor that any check has reached, and
// the trial that reached it: how close the search has come to a find.
struct ClosestApproach {
  bool reached = false;  // no check has judged a trial yet
  long double edge = 0;
  Params p{};
  State x_start{};
};

// Which p1 the search's trials use: one value for every trial, or drawn like p3..p5.
inline constexpr long double model_p1 = 1.000136L;  // the model's own p1
struct P1Setting {
  bool free = false;
  long double value = model_p1;
  bool operator==(const P1Setting&) const = default;
};

struct SearchState {
  std::int64_t began_unix_s = 0;  // when the search first began
  // The walk.
  Params p_centre{};
  std::array<long, n_params + 1> p_decimals{};
  long max_decimals = 0;
  long max_digit_sum = 0;   // the budget
  long prev_digit_sum = 0;  // the budget before the last find, for the beeps
  State x_centre{};
  // The counts.
  std::int64_t trials = 0;
  std::int64_t finds = 0;
  Tally tally;
  long long elapsed_s = 0;  // the run clock: the search's run time, the pauses not counted
  ClosestApproach closest;
  // The search's generator where the last counted trial left it, and the seed it began from.
  // A state of format 1 has neither.
  bool has_generator = false;
  P1Setting p1;  // a state of format 1 has the model's own
  std::uint64_t seed = 0;
  std::array<std::uint64_t, 4> generator{};
};

// The state as the file holds it, and back; parse_state returns why a text is not a sound
// state (damaged, of another format, or outside what a search can reach), empty when it is.
std::string state_text(const SearchState& state);
std::string parse_state(std::string_view text, SearchState& state);

// Written whole over the old file (replace_file), so a kill leaves the old state or the new.
WriteOutcome write_state_file(const std::string& path, const SearchState& state);

struct StateFile {
  bool exists = false;
  std::string unsound;  // why it cannot be continued from; empty when it can
  SearchState state;
};
StateFile read_state_file(const std::string& path);

// "yyyy-mm-dd hh:mm:ss UTC" and back; false for any other text or an impossible date.
std::string utc_text(std::int64_t unix_s);
bool parse_utc_text(std::string_view text, std::int64_t& unix_s);

}  // namespace lyap
