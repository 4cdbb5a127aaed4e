// A search that ends other than by Escape is unfinished: its state file and its progress file
// stay, and the next start in the folder continues it. What is saved of a run, what a start
// finds, and what it continues from.
#pragma once

#include <cstdint>
#include <string>

#include "driver/run_state.hpp"
#include "report/progress_file.hpp"
#include "report/state_file.hpp"

namespace lyap {

// The search's state as the state file holds it, with the run time given.
SearchState search_state_of(const RunState& s, long long elapsed_s);
// The walk and the counts of a saved search put back (the clock is the caller's).
void continue_from(RunState& s, const SearchState& saved);

// What a start finds of an earlier search in the folder.
struct Unfinished {
  enum Kind {
    none,     // neither a state file nor a progress file: a new search
    sound,    // both, and the state is sound: the search continues
    unsound,  // one of them, or a state that cannot be trusted: kept aside, a new search
  } kind = none;
  std::string why;  // for unsound
  SearchState state;
  ProgressSummary progress;
};
// A state that reads well but that no search could have left (a budget or centres no draw can
// meet, a closest approach without the trials for it, a start before 1970 or after
// `now_unix_s` and a day) is unsound too; counts beyond reach or not adding up do not read.
Unfinished find_unfinished(const std::string& state_path, const std::string& progress_path,
                           std::int64_t now_unix_s);

}  // namespace lyap
